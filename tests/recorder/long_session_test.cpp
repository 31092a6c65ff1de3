// Long games and long sessions, through the program: numbers past 255, no deep recursion,
// and memory that does not grow with the number of games saved.
#include <gtest/gtest.h>

#include <string>

#include "support/files.h"
#include "support/process.h"

namespace {

// A game of 2 + 4 * walks moves: 1. e4 e5, then the kings step out and back.
std::string KingWalk(int walks) {
    std::string script = "e2e4 e7e5\n";
    for (int i = 0; i < walks; ++i)
        script += "e1e2 e8e7 e2e1 e7e8\n";
    return script;
}

class LongSession : public testing::Test {
protected:
    // Replays script; answers the run, with the session files in session.
    RunResult Replay(const std::string& script, long* peakKb = nullptr) {
        WriteBytes(work / "script.txt", script);
        EXPECT_EQ(RunProgram(work, {BoardsimBinary(), "record", work / "script.txt",
                                    work / "session.rec", "--gap", "0"})
                      .status,
                  0);
        Child recorder({ChessrecBinary(), work / "session.rec"}, {"CHESSREC_DIR=" + session.Path()},
                       work / "out.txt", work / "err.txt");
        int status = recorder.Wait();
        if (peakKb) *peakKb = recorder.PeakMemoryKb();
        return RunResult{status, recorder.Out(), recorder.Err()};
    }

    ScratchDir work;
    ScratchDir session;
};

TEST_F(LongSession, AGameOfTenThousandMovesCountsPastMove255) {
    RunResult run = Replay(KingWalk(2499) + "e1e2 e8e7\nn\n");
    ASSERT_EQ(run.status, 0);
    EXPECT_TRUE(
        run.err.ends_with("\nchessrec: 1 game saved in " + (session / "chessrec.000.pgn") + "\n"))
        << run.err;
    EXPECT_NE(run.out.find("\n255... Ke8\n256. Ke2\n256... Ke7\n257. Ke1\n"), std::string::npos);
    EXPECT_TRUE(run.out.ends_with("\n5000. Ke2\n5000... Ke7\nNew game\n"));
    std::string log = ReadBytes(session / "chessrec.000.log");
    EXPECT_NE(log.find("Move OK : 256. Ke2\n"), std::string::npos);
    EXPECT_NE(log.find("Move OK : 5000... Ke7\n"), std::string::npos);
    std::string pgn = ReadBytes(session / "chessrec.000.pgn");
    EXPECT_NE(pgn.find(" 256. Ke2 Ke7 257. Ke1 Ke8 "), std::string::npos);
    EXPECT_TRUE(pgn.ends_with(" 5000. Ke2 Ke7 *\r\n\r\n"));
}

TEST_F(LongSession, SavedGamesAreFreed) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer holds freed memory back; its leak check covers this";
#endif
    std::string game = KingWalk(5) + "n\n";
    std::string ten;
    for (int i = 0; i < 10; ++i)
        ten += game;
    std::string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += game;
    long tenKb = 0;
    long thousandKb = 0;
    ASSERT_EQ(Replay(ten, &tenKb).status, 0);
    std::filesystem::remove(session / "chessrec.000.pgn");
    ASSERT_EQ(Replay(thousand, &thousandKb).status, 0);
    EXPECT_NE(ReadBytes(session / "chessrec.000.pgn").find("[Event "), std::string::npos);
    EXPECT_LT(thousandKb, tenKb + tenKb / 4) << tenKb << " KB for 10 games";
}

}  // namespace
