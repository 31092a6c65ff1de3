// What a fault does to the saved games: the process killed at any moment, stopped at any
// moment, or the disk full. The recorder runs as a user runs it, on a session of many
// games, and its PGN file is checked against the PGN file of the same session run whole.
// The moments of the faults follow the recorder's progress: the size of its console output.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/pgn_helpers.h"
#include "support/process.h"
#include "support/scripts.h"

namespace {

// The move text of one game, as tokens, without the termination marker.
std::vector<std::string> Moves(const std::string& game) {
    std::istringstream text(game.substr(game.find("\r\n\r\n") + 4));
    std::vector<std::string> tokens;
    std::string token;
    while (text >> token) {
        if (token != "*") tokens.push_back(token);
    }
    return tokens;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The session has no take-backs, so a game in progress is always a beginning of the game
// it becomes.
class Faults : public testing::Test {
protected:
    void SetUp() override {
        WriteBytes(work / "script.txt", NoisyScript(7, 150, false));
        ASSERT_EQ(
            RunProgram(work, {BoardsimBinary(), "record", work / "script.txt", record}).status, 0);
        ScratchDir whole;
        RunResult run =
            RunProgram(work, {ChessrecBinary(), record}, {"CHESSREC_DIR=" + whole.Path()});
        ASSERT_EQ(run.status, 0);
        console = run.out.size();
        complete = ReadBytes(whole / "chessrec.000.pgn");
        ASSERT_EQ(Games(complete).size(), 150u);
    }

    // Starts a replay of the session in folder (its output files are emptied).
    std::unique_ptr<Child> StartReplay(const ScratchDir& folder, std::uint64_t fileSizeLimit = 0) {
        return std::make_unique<Child>(std::vector<std::string>{ChessrecBinary(), record},
                                       std::vector<std::string>{"CHESSREC_DIR=" + folder.Path()},
                                       work / "out.txt", work / "err.txt", "", fileSizeLimit);
    }

    // Lets the recorder run to any point of its session, now and then to its end: until
    // its console output has reached a size drawn from 1 to an eighth past its whole size.
    void RunToAnyPoint(Child& recorder, std::mt19937& random) const {
        std::size_t size = 1 + random() % (console + console / 8);
        if (size > console) {
            recorder.Wait();
        } else {
            EXPECT_TRUE(recorder.WaitForOutputSize(size)) << size << " bytes never came";
        }
    }

    ScratchDir work;
    std::string record = work / "session.rec";
    std::string complete;     // the PGN file of the whole session
    std::size_t console = 0;  // the size of its console output
};

TEST_F(Faults, AKilledRecorderLeavesAPrefixOfItsPgnFile) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 24; ++round) {
        ScratchDir folder;
        auto recorder = StartReplay(folder);
        RunToAnyPoint(*recorder, random);
        recorder->Kill();
        recorder->Wait();
        std::string pgn = ReadBytes(folder / "chessrec.000.pgn");
        // Whole games, and at most the game being saved cut.
        ASSERT_TRUE(StartsWith(complete, pgn)) << "round " << round << ": " << pgn.size();
        // The next recorder in that folder works.
        RunResult next = RunProgram(work, {ChessrecBinary(), SamplesDir() + "/opera_game.rec"},
                                    {"CHESSREC_DIR=" + folder.Path()});
        EXPECT_EQ(next.status, 0);
        EXPECT_EQ(next.out, ReadBytes(SamplesDir() + "/opera_game.out"));
    }
}

TEST_F(Faults, AStoppedRecorderSavesOnlyWholeGames) {
    std::vector<std::string> reference = Games(complete);
    std::mt19937 random(42);
    for (int round = 0; round < 12; ++round) {
        ScratchDir folder;
        auto recorder = StartReplay(folder);
        // Wait until the control handler is there (the first move is printed after it is
        // installed), then stop the recorder at any point.
        ASSERT_TRUE(recorder->WaitForOutput("1. "));
        RunToAnyPoint(*recorder, random);
        recorder->Stop();
        ASSERT_EQ(recorder->Wait(), 0);
        std::string pgn = ReadBytes(folder / "chessrec.000.pgn");
        std::vector<std::string> games = Games(pgn);
        ASSERT_FALSE(games.empty());
        ASSERT_LE(games.size(), reference.size() + 1);
        // Every game but the last was saved at a new game, whole.
        for (std::size_t i = 0; i + 1 < games.size(); ++i) {
            ASSERT_EQ(games[i], reference[i]) << "round " << round << ", game " << i;
        }
        // The last is the game in progress when the recorder was stopped (or, when the
        // replay had ended already, the session's last saved game): its moves begin the
        // moves of that game. Stopped after the last new game, it is a game without moves.
        const std::string& last = games.back();
        ASSERT_TRUE(pgn.ends_with(" *\r\n\r\n")) << last;
        std::vector<std::string> played = Moves(last);
        std::vector<std::string> whole;
        if (games.size() <= reference.size()) whole = Moves(reference[games.size() - 1]);
        ASSERT_LE(played.size(), whole.size());
        EXPECT_TRUE(std::equal(played.begin(), played.end(), whole.begin())) << last;
    }
}

TEST_F(Faults, AFullDiskKeepsTheEarlierGamesWhole) {
    if (!platform::testkit::CanLimitFileSize())
        GTEST_SKIP() << "this system cannot limit the size of a program's files";
    ScratchDir folder;
    const std::uint64_t limit = complete.size() / 2;
    auto recorder = StartReplay(folder, limit);
    EXPECT_EQ(recorder->Wait(), 0);
    std::string pgn = ReadBytes(folder / "chessrec.000.pgn");
    // The failed saves were reported, one line each, naming the file and the reason, between
    // the session's first line and its last, which counts them.
    std::string errors = recorder->Err();
    errors.erase(0, errors.find('\n') + 1);
    std::string last = errors.substr(errors.rfind('\n', errors.size() - 2) + 1);
    errors.resize(errors.size() - last.size());
    std::string line = errors.substr(0, errors.find('\n') + 1);
    EXPECT_TRUE(
        StartsWith(line, "Unable to save game in '" + (folder / "chessrec.000.pgn") + "': "))
        << errors;
    EXPECT_GT(line.size(), line.find("': ") + 4) << "no reason given";
    EXPECT_EQ(errors.size() % line.size(), 0u);
    const std::size_t failed = errors.size() / line.size();
    // The file holds whole games, at most followed by the blank lines of failed attempts.
    std::string games = pgn.substr(0, pgn.find_last_not_of("\r\n") + 1) + "\r\n\r\n";
    EXPECT_TRUE(games.ends_with(" *\r\n\r\n"));
    EXPECT_TRUE(StartsWith(complete, games));
    EXPECT_GT(Games(games).size(), 10u);
    EXPECT_EQ(last, "chessrec: " + std::to_string(Games(games).size()) + " games saved in " +
                        (folder / "chessrec.000.pgn") + "; " + std::to_string(failed) +
                        " could not be saved\n");
    EXPECT_LT(games.size(), limit + 1);
    for (char c : pgn.substr(games.size()))
        EXPECT_TRUE(c == '\r' || c == '\n');
}

}  // namespace
