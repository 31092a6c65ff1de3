// A live recorder and the POSIX signals that stop it: each saves the game in progress, and
// the terminal's exclusive mark goes with the recorder (a terminal keeps it after the
// process that set it has gone, unless it is taken off).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/board_line.h"
#include "support/files.h"
#include "support/process.h"

namespace {

class StopSignal : public NeedsVirtualLine<testing::TestWithParam<int>> {};

TEST_P(StopSignal, SavesTheGameInProgress) {
    ScratchDir dir;
    BoardLine line;
    ASSERT_TRUE(line.Ok());
    LiveRecorder recorder(dir, line.Device());
    line.Send(kFirstTime + MoveMessage("e2e4") + MoveMessage("e7e5") + MoveMessage("g1f3"));
    ASSERT_TRUE(recorder.WaitForOutput("2. Nf3\n")) << recorder.Out() << recorder.Err();
    ASSERT_EQ(::kill(static_cast<pid_t>(recorder.Id()), GetParam()), 0);
    EXPECT_EQ(recorder.Wait(), 0);
    EXPECT_EQ(recorder.Out(), "1. e4\n1... e5\n2. Nf3\n");
    // The control handler's last word comes after the save.
    EXPECT_EQ(recorder.Err(), OneGameSessionErr(dir, line.Device()));
    EXPECT_TRUE(ReadBytes(dir / "chessrec.000.pgn").ends_with("\r\n\r\n1. e4 e5 2. Nf3 *\r\n\r\n"));

    int again = ::open(line.Device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(again, 0) << std::strerror(errno);
    int exclusive = 1;
    EXPECT_EQ(::ioctl(again, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(again);
}

INSTANTIATE_TEST_SUITE_P(LiveSession, StopSignal,
                         ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
