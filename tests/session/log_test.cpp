// The session log's writers and the bounded text helpers.
#include "session/log.h"

#include <gtest/gtest.h>

#include <string>

#include "session/bounded.h"
#include "support/files.h"
#include "support/process.h"

namespace {

class LogTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(OpenLog(path.c_str())); }
    void TearDown() override { CloseLog(); }

    ScratchDir dir;
    std::string path = dir / "session.log";
};

TEST_F(LogTest, SystemErrorsCarryTheSystemsTextOrTheCode) {
    const platform::ErrorCode notFound = platform::ErrorOf(platform::ErrorKind::kNotFound);
    SystemErrorReport("CreateFile(\"COM1:\")", notFound);
    SystemErrorReport("GetCommState()", 0xE0001234);
    EXPECT_EQ(ReadBytes(path), SystemErrorLine("CreateFile(\"COM1:\")", notFound) +
                                   "GetCommState() : err 0xE0001234 (0xE0001234)\n");
}

TEST_F(LogTest, ATextTooLongForTheBufferIsDroppedWhole) {
    std::string longest(10239, 'x');
    LogWrite("%s", longest.c_str());
    LogWrite("%s", (longest + "y").c_str());
    EXPECT_EQ(ReadBytes(path), longest);
}

// A closed log drops every text, and nothing fails; a new log starts on an empty line.
TEST_F(LogTest, ClosedLogsDropTextsAndANewLogStartsAnEmptyLine) {
    const std::uint8_t bytes[20] = {};
    HexDump(bytes, 3);
    CloseLog();
    HexDump(bytes, 20);
    LineBreakIfNeeded();
    LogWrite("dropped");
    EXPECT_EQ(ReadBytes(path), "00 00 00 ");

    HexDump(bytes, 3);
    std::string next = dir / "next.log";
    ASSERT_TRUE(OpenLog(next.c_str()));
    LineBreakIfNeeded();
    HexDump(bytes, 1);
    EXPECT_EQ(ReadBytes(next), "00 ");
}

TEST(Bounded, CopiesAndPrintsAreCutAndTerminated) {
    char small[6];
    EXPECT_EQ(BoundedCopy(small, sizeof small, "chess"), kOk);
    EXPECT_STREQ(small, "chess");
    EXPECT_EQ(BoundedCopy(small, sizeof small, "chessrec"), kInsufficientBuffer);
    EXPECT_STREQ(small, "chess");

    std::size_t written = 99;
    EXPECT_EQ(BoundedPrint(small, sizeof small, &written, "%03d.pgn", 7), kInsufficientBuffer);
    EXPECT_STREQ(small, "007.p");
    EXPECT_EQ(written, 5u);
    EXPECT_EQ(BoundedPrint(small, sizeof small, &written, "%d", 42), kOk);
    EXPECT_EQ(written, 2u);
    small[0] = 'z';
    EXPECT_EQ(BoundedPrint(small, 0, &written, "%d", 1), kInvalidParameter);
    EXPECT_EQ(BoundedPrint(small, std::size_t{0x80000000}, &written, "%d", 1), kInvalidParameter);
    EXPECT_EQ(small[0], 'z');
}

}  // namespace
