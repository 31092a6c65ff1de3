// The test kit: the virtual serial line that boardsim plays the board on, the programs that
// tests run, and the small stack that proves destructors do not recurse.
#include "platform/testkit.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "support/board_line.h"
#include "support/files.h"
#include "support/process.h"

using namespace platform;
using namespace platform::testkit;

namespace {

// How to run args with the standard files given ("": the null device).
ProcessOptions Options(std::vector<std::string> args, std::string in = "", std::string out = "",
                       std::string err = "") {
    ProcessOptions options;
    options.args = std::move(args);
    options.inPath = std::move(in);
    options.outPath = std::move(out);
    options.errPath = std::move(err);
    return options;
}

// Recurses depth times with a frame of about 256 bytes that the compiler must keep.
int Recurse(int depth) {
    volatile char frame[256];
    frame[0] = static_cast<char>(depth);
    return depth == 0 ? frame[0] : Recurse(depth - 1) + frame[0];
}

}  // namespace

// Bytes the board sends before anyone has opened the other end wait there, untouched by
// any line processing, and nothing comes back but what the recorder writes. The board end
// sees the recorder come and go.
TEST(VirtualLine, CarriesBytesBothWaysAndSeesItsPeer) {
    char device[128];
    FileHandle line = OpenVirtualLine(device, sizeof device);
    if (!line.IsValid()) GTEST_SKIP() << "no virtual serial line: " << LastErrorText();
    EXPECT_FALSE(IsVirtualLinePeerOpen(line));
    EXPECT_EQ(WaitForInput(line, 0), WaitResult::kFailed);  // hung up: nobody there yet

    const std::string sent("\x93\x03\x04\x11\x13\x0D\x0A\x7F\x1A\x1C\x15\x16\xFF\x00", 14);
    std::uint32_t written = 0;
    ASSERT_TRUE(WriteFile(line, sent.data(), sent.size(), &written));
    EXPECT_EQ(written, sent.size());

    FileHandle port = OpenSerialPort(device);
    ASSERT_TRUE(port.IsValid()) << LastErrorText();
    EXPECT_TRUE(IsVirtualLinePeerOpen(line));
    EXPECT_EQ(ReceiveOnPort(port, sent.size()), sent);
    EXPECT_EQ(WaitForInput(line, 0), WaitResult::kTimedOut);  // no echo

    ASSERT_TRUE(WriteFile(port, "\x99", 1, &written));
    ASSERT_EQ(WaitForInput(line, kWaitForever), WaitResult::kReady);
    char answer[8];
    std::uint32_t read = 0;
    ASSERT_TRUE(ReadFile(line, answer, sizeof answer, &read));
    EXPECT_EQ(std::string(answer, read), "\x99");

    const std::uint32_t start = TickCount();
    EXPECT_EQ(WaitForInput(line, 30), WaitResult::kTimedOut);
    EXPECT_GE(TickCount() - start, 30u);

    CloseFile(port);
    EXPECT_FALSE(IsVirtualLinePeerOpen(line));
    EXPECT_EQ(WaitForInput(line, kWaitForever), WaitResult::kFailed);
    EXPECT_FALSE(ReadFile(line, answer, sizeof answer, &read));
    CloseFile(line);
}

// A program gets its standard files; a wait ends at its deadline; a stop request reaches
// the program's handler, and a kill ends it whatever it does.
TEST(Process, RunsWaitsStopsAndKills) {
    ScratchDir dir;
    Process missing;
    EXPECT_FALSE(missing.Start(Options({dir / "no-such-program"})));
    EXPECT_TRUE(IsError(LastError(), ErrorKind::kNotFound)) << LastErrorText();

    // boardsim reads its script from standard input and reports the bad token on standard
    // error.
    WriteBytes(dir / "script.txt", "e2e4 zz\n");
    Process record;
    ASSERT_TRUE(record.Start(Options({BoardsimBinary(), "record", "-", dir / "out.rec"},
                                     dir / "script.txt", dir / "record.out", dir / "record.err")));
    EXPECT_EQ(record.Wait(kProgramDeadlineMs), 1);
    EXPECT_EQ(ReadBytes(dir / "record.err"), "boardsim: -, line 1: unknown token 'zz'\n");
    EXPECT_FALSE(record.Stop());  // it has ended

    // boardsim live --hold waits for a recorder; once it has printed its device, its
    // handler is there, and it ends with 0 at Ctrl-C.
    WriteBytes(dir / "script.txt", "e2e4\n");
    Process held;
    ASSERT_TRUE(held.Start(Options({BoardsimBinary(), "live", dir / "script.txt", "--hold"}, "",
                                   dir / "held.out", dir / "held.err")));
    auto shown = [&] { return ReadBytes(dir / "held.out").find('\n') != std::string::npos; };
    for (int i = 0; i < 2000 && !shown() && held.Wait(10) == Process::kStillRunning; ++i) {
    }
    if (!shown()) GTEST_SKIP() << "no virtual serial line: " << ReadBytes(dir / "held.err");
    std::uint32_t start = TickCount();
    EXPECT_EQ(held.Wait(50), Process::kStillRunning);
    EXPECT_GE(TickCount() - start, 50u);
    EXPECT_TRUE(held.Stop());
    EXPECT_EQ(held.Wait(kProgramDeadlineMs), 0);

    Process waiting;
    ASSERT_TRUE(waiting.Start(Options({BoardsimBinary(), "live", dir / "script.txt"})));
    EXPECT_TRUE(waiting.Kill());
    EXPECT_EQ(waiting.Wait(kProgramDeadlineMs), Process::kKilled);
}

// A stack made small really is small: the tests that destroy long chains on one would
// otherwise prove nothing.
TEST(SmallStackDeathTest, AnOverflowEndsTheProcess) {
    int sum = 0;
    ASSERT_TRUE(RunOnSmallStack(64 * 1024, [&] { sum = Recurse(16); }));
    EXPECT_EQ(sum, 16 * 17 / 2);
    EXPECT_DEATH(RunOnSmallStack(64 * 1024, [&] { sum = Recurse(4000); }), "");
}
