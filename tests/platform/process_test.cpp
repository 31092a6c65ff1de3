// Errors, time and the executable's path, as portable code sees them on every system.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/platform.h"

using namespace platform;

// Each kind is told apart from the others, the system's texts fit any buffer without a
// line end, and each thread has its own last error.
TEST(ErrorTest, KindsTextsAndTheLastErrorOfEachThread) {
    const ErrorKind kinds[] = {ErrorKind::kNotFound,         ErrorKind::kAccessDenied,
                               ErrorKind::kSharingViolation, ErrorKind::kWouldBlock,
                               ErrorKind::kDiskFull,         ErrorKind::kInvalidArgument};
    for (ErrorKind kind : kinds) {
        for (ErrorKind other : kinds) {
            EXPECT_EQ(IsError(ErrorOf(kind), other), kind == other)
                << int(kind) << " as " << int(other);
        }
    }

    char text[512];
    ASSERT_TRUE(ErrorText(ErrorOf(ErrorKind::kNotFound), text, sizeof text));
    std::string full = text;
    EXPECT_FALSE(full.empty());
    EXPECT_EQ(full.find_first_of("\r\n"), std::string::npos) << full;
    char small[5];
    EXPECT_TRUE(ErrorText(ErrorOf(ErrorKind::kNotFound), small, sizeof small));
    EXPECT_EQ(small, full.substr(0, 4));

    // Neither thread sees the other's error (Windows may clear a thread's last error in
    // any system call, starting and joining a thread included).
    SetLastError(ErrorOf(ErrorKind::kDiskFull));
    ErrorCode other = 1;
    std::thread([&] {
        other = LastError();
        SetLastError(ErrorOf(ErrorKind::kNotFound));
    }).join();
    EXPECT_NE(other, ErrorOf(ErrorKind::kDiskFull));
    EXPECT_NE(LastError(), ErrorOf(ErrorKind::kNotFound));
}

TEST(ProcessTest, TickCountAndExecutablePath) {
    std::uint32_t start = TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::uint32_t elapsed = TickCount() - start;
    EXPECT_GE(elapsed, 30u);  // Windows' tick count moves in steps of about 16 ms
    EXPECT_LT(elapsed, 5000u);

    char path[4096];
    ASSERT_TRUE(ExecutablePath(path, sizeof path));
    EXPECT_TRUE(FileExists(path));
    std::string text = path;
    std::size_t name = text.size();
    while (name > 0 && !IsPathSeparator(text[name - 1]))
        --name;
    ASSERT_GT(name, 0u) << text;
    EXPECT_EQ(text[name - 1], PathSeparator()) << "the system's own paths use its separator";
    EXPECT_EQ(text.compare(name, 13, "platform_test"), 0) << text;

    char small[4] = "abc";
    EXPECT_FALSE(ExecutablePath(small, sizeof small));
    EXPECT_STREQ(small, "");
}
