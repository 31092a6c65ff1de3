// A board's game read from its recorder's folder, whose files the test writes as the
// recorder does.
#include "live/board.h"

#include <gtest/gtest.h>

#include <string>

#include "pgn/writer.h"
#include "support/files.h"
#include "support/pgn_helpers.h"

namespace {

std::string Game(const std::string& moves) {
    return DefaultTags() + "\r\n" + moves + " *\r\n\r\n";
}

std::string Shown(const live::Board& board) {
    return board.Game() ? GameText(*board.Game()) : "";
}

}  // namespace

// The game in progress can be replaced again before it is read. When the board is reset,
// the finished game is the one its recorder saved, with the moves that were never read from
// the game in progress; when that save failed, the game is still in the game in progress,
// ahead of the new one, and is taken from there rather than an older saved game.
TEST(LiveBoard, AResetShowsTheFinishedGameWithItsLastMoves) {
    ScratchDir dir;
    const std::string current = dir / "chessrec.000.current.pgn";
    const std::string pgn = dir / "chessrec.000.pgn";
    live::Board board(dir.Path());
    WriteBytes(current, Game("1. f3 e5 2. g4"));
    ASSERT_TRUE(board.Refresh());
    // Qh4, the save and the reset before the next read.
    WriteBytes(pgn, Game("1. f3 e5 2. g4 Qh4+"));
    WriteBytes(current, Game(""));
    EXPECT_TRUE(board.Refresh());
    EXPECT_NE(Shown(board).find("2. g4 Qh4+ *"), std::string::npos) << Shown(board);

    WriteBytes(current, Game("1. d4"));
    EXPECT_TRUE(board.Refresh());
    WriteBytes(current, Game("1. d4 d5") + "\r\n" + Game(""));
    EXPECT_TRUE(board.Refresh());
    EXPECT_NE(Shown(board).find("1. d4 d5 *"), std::string::npos) << Shown(board);
    EXPECT_FALSE(board.Refresh());
}
