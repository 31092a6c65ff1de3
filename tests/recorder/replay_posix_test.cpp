// A replay from a named pipe waits for its records, as a live session waits for the board:
// the POSIX stop signals save the game in progress, and a second recorder meanwhile takes a
// number of its own.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"
#include "support/process.h"

namespace {

// One record of a record file: elapsed time and count (4 bytes each, little-endian), data.
std::string Record(const std::string& data) {
    std::string record;
    for (std::uint32_t value : {0u, static_cast<std::uint32_t>(data.size())}) {
        for (int i = 0; i < 4; ++i)
            record += static_cast<char>(value >> (8 * i));
    }
    return record + data;
}

const std::string kNewGame("\x93\0\0\0\0\0\0\0\0", 9);
const std::string kE4("\x90\x14\x34\0\0", 5);
const std::string kE5("\x90\x64\x44\0\0", 5);

class PipeReplay : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); }
    void TearDown() override {
        if (board >= 0) ::close(board);
    }
    Child* Start(const std::string& tag) {
        children.emplace_back(new Child({ChessrecBinary(), fifo},
                                        {"CHESSREC_DIR=" + session.Path()},
                                        outputs / (tag + ".out"), outputs / (tag + ".err")));
        return children.back().get();
    }
    // Opens the pipe's writing end once the recorder has opened its reading end.
    void OpenBoard() {
        auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kProgramDeadlineMs);
        while ((board = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
            ASSERT_EQ(errno, ENXIO);  // no reader yet
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the recorder never reads";
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(::write(board, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void CloseBoard() {
        ::close(board);
        board = -1;
    }
    std::string SessionFile(const char* name) const { return ReadBytes(session / name); }

    ScratchDir session;
    ScratchDir outputs;
    std::string fifo = outputs / "board.rec";
    int board = -1;
    std::vector<std::unique_ptr<Child>> children;
};

TEST_F(PipeReplay, StoppingSavesTheGameInProgressWhole) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        std::filesystem::remove(session / "chessrec.000.pgn");
        Child* recorder = Start("stop");
        ASSERT_NO_FATAL_FAILURE(OpenBoard());
        Send(Record(kNewGame) + Record(kE4) + Record(kE5));
        ASSERT_TRUE(recorder->WaitForOutput("1... e5\n"));
        ASSERT_EQ(::kill(static_cast<pid_t>(recorder->Id()), sig), 0);
        EXPECT_EQ(recorder->Wait(), 0) << sig;
        CloseBoard();
        std::string pgn = SessionFile("chessrec.000.pgn");
        EXPECT_NE(pgn.find("\r\n\r\n1. e4 e5 *\r\n\r\n"), std::string::npos) << sig << pgn;
    }
}

TEST_F(PipeReplay, TwoRecordersInOneFolderTakeTwoNumbers) {
    Child* first = Start("first");
    ASSERT_NO_FATAL_FAILURE(OpenBoard());
    Send(Record(kNewGame) + Record(kE4));
    ASSERT_TRUE(first->WaitForOutput("1. e4\n"));
    std::string firstLog = SessionFile("chessrec.000.log");
    ASSERT_FALSE(firstLog.empty());

    RunResult second = RunProgram(outputs, {ChessrecBinary(), SamplesDir() + "/opera_game.rec"},
                                  {"CHESSREC_DIR=" + session.Path()});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(SessionFile("chessrec.001.log"), ReadBytes(SamplesDir() + "/opera_game.log"));
    EXPECT_EQ(SessionFile("chessrec.000.log"), firstLog);

    Send(Record(kNewGame));
    CloseBoard();
    EXPECT_EQ(first->Wait(), 0);
    EXPECT_EQ(first->Out(), "1. e4\nNew game\n");
    EXPECT_NE(SessionFile("chessrec.000.pgn").find("1. e4 *"), std::string::npos);
}

}  // namespace
