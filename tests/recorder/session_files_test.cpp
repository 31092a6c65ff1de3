// The session's files on files directly, without starting a recorder: which number a start
// takes, which files it reuses, and what it does with what dead sessions left.
#include "recorder/session_files.h"

#include <gtest/gtest.h>

#include <string>

#include "session/session.h"
#include "support/files.h"
#include "support/pgn_helpers.h"
#include "support/process.h"

namespace {

// The text of a saved game of moves ("1. e4 e5"), as the recorder writes it.
std::string SavedGame(const std::string& moves) {
    return DefaultTags() + "\r\n" + moves + " *\r\n\r\n";
}

class SessionFilesTest : public testing::Test {
protected:
    void SetUp() override { ResetSession(); }
    void TearDown() override { ResetSession(); }

    // The file of session number's kind ("pgn", "log", "current.pgn", ...).
    std::string File(int number, const std::string& kind) const {
        char name[16];
        std::snprintf(name, sizeof name, "s.%03d.", number);
        return dir / (name + kind);
    }
    // The number that a start takes now, with what it said on standard error; the start's
    // log is closed again, as a session that ends closes it.
    int Start(std::string* said = nullptr) {
        SessionFiles files;
        testing::internal::CaptureStderr();
        StepEnd end = OpenSessionFiles(files, (dir / "s.").c_str());
        std::string err = testing::internal::GetCapturedStderr();
        if (said) *said = err;
        ResetSession();
        return end ? -1 : files.number;
    }
    // Holds number's log as a running recorder does.
    platform::FileHandle HoldLog(int number) {
        WriteBytes(File(number, "log"), "running\n");
        return platform::OpenFile(File(number, "log").c_str(), platform::kWrite,
                                  platform::Share::kRead, platform::Disposition::kOpenExisting);
    }

    ScratchDir dir;
};

// A number is taken by a PGN file, by a record file with data, and by a log that a running
// recorder holds (with its game in progress, which stays as it is); the empty leftovers of a
// start that failed are reused.
TEST_F(SessionFilesTest, WhatTakesANumber) {
    EXPECT_EQ(Start(), 0);  // a start that failed before its record file: its log stays
    WriteBytes(File(0, "rec"), "");
    EXPECT_EQ(Start(), 0);
    EXPECT_EQ(ReadBytes(File(0, "log")), "");

    WriteBytes(File(0, "rec"), "chunk");
    WriteBytes(File(1, "pgn"), SavedGame("1. e4"));
    platform::FileHandle held = HoldLog(2);
    ASSERT_TRUE(held.IsValid()) << LastErrorText();
    WriteBytes(File(2, "current.pgn"), SavedGame("1. d4"));
    EXPECT_EQ(Start(), 3);
    EXPECT_EQ(ReadBytes(File(0, "rec")), "chunk");
    EXPECT_EQ(ReadBytes(File(2, "log")), "running\n");
    EXPECT_EQ(ReadBytes(File(2, "current.pgn")), SavedGame("1. d4"));
    EXPECT_FALSE(Exists(File(2, "pgn")));

    // With every number taken, nothing is created or truncated.
    for (int number = 0; number <= kLastSessionNumber; ++number)
        WriteBytes(File(number, "pgn"), "");
    std::string said;
    EXPECT_EQ(Start(&said), -1);
    EXPECT_EQ(said, "chessrec: no free session number in " + dir.Path() +
                        ": sessions 000 to 099 all hold files; move them elsewhere\n");
    EXPECT_EQ(ReadBytes(File(0, "rec")), "chunk");
    platform::CloseFile(held);
}

// A dead session's game in progress goes into its PGN file at the next start, once: the
// start holds the dead session's log meanwhile, so a running recorder's is left alone, and
// a second start finds nothing more. A session killed after a save and before it rewrote
// its game in progress, which then holds an unsaved game and the saved one, gets the
// unsaved one only.
TEST_F(SessionFilesTest, RecoveryOfDeadSessions) {
    const std::string first = SavedGame("1. e4 e5"), second = SavedGame("1. d4");
    WriteBytes(File(0, "pgn"), first);
    WriteBytes(File(0, "current.pgn"), SavedGame("1. c4") + "\r\n" + first);
    WriteBytes(File(1, "current.pgn"), second);
    platform::FileHandle held = HoldLog(2);
    WriteBytes(File(2, "current.pgn"), second);

    std::string said;
    EXPECT_EQ(Start(&said), 3);
    EXPECT_EQ(said, "chessrec: recovered the game in progress of session 000 into " +
                        File(0, "pgn") + "\nchessrec: recovered the game in progress of session " +
                        "001 into " + File(1, "pgn") + "\n");
    EXPECT_EQ(ReadBytes(File(0, "pgn")), first + "\r\n" + SavedGame("1. c4"));
    EXPECT_EQ(ReadBytes(File(1, "pgn")), second);
    EXPECT_FALSE(Exists(File(0, "current.pgn")) || Exists(File(1, "current.pgn")));
    EXPECT_EQ(ReadBytes(File(2, "current.pgn")), second);
    platform::CloseFile(held);

    EXPECT_EQ(Start(&said), 3);
    EXPECT_EQ(said, "chessrec: recovered the game in progress of session 002 into " +
                        File(2, "pgn") + "\n");
    EXPECT_EQ(Start(&said), 3);
    EXPECT_EQ(said, "");
    EXPECT_EQ(ReadBytes(File(0, "pgn")), first + "\r\n" + SavedGame("1. c4"));
}

// What a save cut by a kill leaves (its first text, or the copy on its way to the backup) is
// removed once its bytes are found elsewhere; a leftover found nowhere else (a replay's cut
// first save) is kept, said, and keeps its number taken.
TEST_F(SessionFilesTest, LeftoversOfCutSaves) {
    const std::string game = SavedGame("1. e4 e5");
    WriteBytes(File(0, "pgn"), game + "\r\n");
    WriteBytes(File(0, "pgn.bak.tmp"), game.substr(0, 40));
    WriteBytes(File(0, "pgn.tmp"), game.substr(0, 60));
    WriteBytes(File(1, "pgn.tmp"), SavedGame("1. f4"));
    WriteBytes(File(2, "pgn.tmp"), "");  // a first save cut before its first byte

    std::string said;
    EXPECT_EQ(Start(&said), 2);
    EXPECT_EQ(said, "chessrec: kept " + File(1, "pgn.tmp") +
                        ": it holds a game that no other file holds\n");
    EXPECT_FALSE(Exists(File(0, "pgn.bak.tmp")) || Exists(File(0, "pgn.tmp")));
    EXPECT_FALSE(Exists(File(2, "pgn.tmp")));
    EXPECT_EQ(ReadBytes(File(1, "pgn.tmp")), SavedGame("1. f4"));
    EXPECT_EQ(ReadBytes(File(0, "pgn")), game + "\r\n");

    // A replay's save cut while it rewrote the file: the backup is put back.
    WriteBytes(File(0, "pgn.bak"), game + "\r\n");
    WriteBytes(File(0, "pgn"), game + "\r\n" + game.substr(0, 30));
    EXPECT_EQ(Start(), 2);
    EXPECT_EQ(ReadBytes(File(0, "pgn")), game + "\r\n");
    EXPECT_FALSE(Exists(File(0, "pgn.bak")));
}

}  // namespace
