// A live recorder killed (as by SIGKILL, a crash or a power cut) at a moment of its session,
// before, during and after the saves at new games, and the recorder started after it in the
// same folder: no game that was printed is lost, none is saved twice, and the dead
// session's files are kept. The test plays the board on a virtual serial line; where the
// machine has none, it is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/board_line.h"
#include "support/files.h"
#include "support/pgn_helpers.h"
#include "support/process.h"

namespace {

struct Event {
    std::string message;
    std::string shown;     // the console line it prints
    std::string progress;  // the move text of the game in progress after it ("" none)
};

// Three games, the first two ended by a new game; the second has a take-back.
const std::vector<Event> kSession = {
    {MoveMessage("e2e4"), "1. e4\n", "1. e4"},
    {MoveMessage("e7e5"), "1... e5\n", "1. e4 e5"},
    {MoveMessage("g1f3"), "2. Nf3\n", "1. e4 e5 2. Nf3"},
    {MoveMessage("b8c6"), "2... Nc6\n", "1. e4 e5 2. Nf3 Nc6"},
    {NewGameMessage(), "New game\n", ""},
    {MoveMessage("d2d4"), "1. d4\n", "1. d4"},
    {MoveMessage("d7d5"), "1... d5\n", "1. d4 d5"},
    {TakeBackMessage(), "Take back\n", "1. d4 d5"},
    {MoveMessage("g8f6"), "1... Nf6\n", "1. d4 Nf6"},
    {NewGameMessage(), "New game\n", ""},
    {MoveMessage("c2c4"), "1. c4\n", "1. c4"},
    {MoveMessage("e7e5"), "1... e5\n", "1. c4 e5"},
};

// (the number of events played before the kill, milliseconds between the last line and it)
class KilledRecorder : public NeedsVirtualLine<testing::TestWithParam<std::pair<int, int>>> {};

TEST_P(KilledRecorder, TheNextStartSavesTheGameInProgress) {
    const auto [played, delayMs] = GetParam();
    ScratchDir dir;
    BoardLine line;
    ASSERT_TRUE(line.Ok());
    LiveRecorder recorder(dir, line.Device());
    std::string sent = kFirstTime;
    line.Send(kFirstTime);
    ASSERT_EQ(line.Receive(1), "\x99");
    std::string console;
    std::vector<std::string> expected{""};  // the games' move texts; the last in progress
    for (int i = 0; i < played; ++i) {
        const Event& event = kSession[i];
        line.Send(event.message);
        sent += event.message;
        console += event.shown;
        ASSERT_TRUE(recorder.WaitForOutputSize(console.size())) << recorder.Out();
        if (event.message == NewGameMessage()) expected.push_back("");
        expected.back() = event.progress;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    recorder.Kill();
    EXPECT_EQ(recorder.Wait(), platform::testkit::Process::kKilled);
    ASSERT_EQ(recorder.Out(), console);
    const std::string record = ReadBytes(dir / "chessrec.000.rec");

    // The next recorder, here a replay, puts the game in progress into the dead session's
    // PGN file, and takes the next number. The dead session's record file stays untouched:
    // every byte the board sent.
    const std::string pgnPath = dir / "chessrec.000.pgn";
    RunResult next = RunProgram(dir, {ChessrecBinary(), SamplesDir() + "/opera_game.rec"},
                                {"CHESSREC_DIR=" + dir.Path()});
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(next.out, ReadBytes(SamplesDir() + "/opera_game.out"));
    EXPECT_EQ(ReadBytes(dir / "chessrec.001.pgn"), ReadBytes(SamplesDir() + "/opera_game.pgn"));
    EXPECT_EQ(ReadBytes(dir / "chessrec.000.rec"), record);
    bool whole = false;
    std::string recorded;
    for (const RecordedChunk& chunk : ReadRecords(record, &whole))
        recorded += chunk.data;
    EXPECT_TRUE(whole);
    EXPECT_EQ(recorded, sent);
    EXPECT_FALSE(Exists(dir / "chessrec.000.current.pgn"));
    // Said before the next session starts.
    const std::string started = "chessrec: session 001 in " + dir.Path();
    if (played == 0) {  // no move, no game in progress
        EXPECT_EQ(next.err.rfind(started, 0), 0u) << next.err;
        EXPECT_FALSE(Exists(pgnPath));
        return;
    }
    EXPECT_EQ(next.err.rfind("chessrec: recovered the game in progress of session 000 into " +
                                 pgnPath + "\n" + started,
                             0),
              0u)
        << next.err;

    // Every game printed, the one in progress up to its last move, each once. Killed just
    // after a new game, the fresh game without moves may or may not have been kept yet.
    std::vector<std::string> games = Games(ReadBytes(pgnPath));
    if (expected.back().empty() && games.size() + 1 == expected.size()) expected.pop_back();
    ASSERT_EQ(games.size(), expected.size()) << ReadBytes(pgnPath);
    for (std::size_t i = 0; i < games.size(); ++i)
        EXPECT_EQ(games[i], DefaultTags() + "\r\n" + expected[i] + " *") << "game " << i;
    RunResult index = RunProgram(dir, {PgnindexBinary(), pgnPath});
    EXPECT_EQ(index.status, 0);
    EXPECT_EQ(std::count(index.out.begin(), index.out.end(), '\n'), static_cast<long>(games.size()))
        << index.out;
    for (const char* left : {".bak", ".tmp", ".bak.tmp"})
        EXPECT_FALSE(Exists(pgnPath + left)) << left;
}

std::vector<std::pair<int, int>> KillPoints() {
    std::vector<std::pair<int, int>> points;
    for (int played = 0; played <= static_cast<int>(kSession.size()); ++played)
        points.emplace_back(played, 0);
    // A new game saves the game that ended: a kill a little later lands in or after it.
    for (int delayMs : {1, 2, 4}) {
        points.emplace_back(5, delayMs);
        points.emplace_back(10, delayMs);
    }
    return points;
}

INSTANTIATE_TEST_SUITE_P(LiveSession, KilledRecorder, testing::ValuesIn(KillPoints()),
                         [](const testing::TestParamInfo<std::pair<int, int>>& info) {
                             return "After" + std::to_string(info.param.first) + "Events" +
                                    (info.param.second ? std::to_string(info.param.second) + "ms"
                                                       : std::string());
                         });

}  // namespace
