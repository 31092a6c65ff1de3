#include "pgn/save.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pgn/fichier.h"
#include "pgn/game_in_progress.h"
#include "pgn/writer.h"
#include "session/session.h"
#include "support/pgn_helpers.h"

namespace {

using platform::FileOp;

const platform::ErrorCode kDiskFull = platform::ErrorOf(platform::ErrorKind::kDiskFull);

// A file object that writes down what GamesMoved is told.
class WatchedFile : public CFichier {
public:
    void GamesMoved(CInfosPartie2* game, std::int64_t change) override {
        moved.emplace_back(game, change);
    }
    std::vector<std::pair<CInfosPartie2*, std::int64_t>> moved;
};

struct Outcome {
    std::uint32_t result;
    std::string errors;  // what went to standard error
    bool handedOver;     // the game joined the file object's list
};

// Saves game into path as the recorder does: a file object for the one save. The game
// is freed with the file object, or here when the save failed.
Outcome Save(const std::string& path, CPartie* game) {
    std::snprintf(TheSession().pgnPath, sizeof TheSession().pgnPath, "%s", path.c_str());
    TheSession().currentGame = game;
    Outcome outcome;
    {
        CFichier file;
        testing::internal::CaptureStderr();
        outcome.result = SaveGame(file);
        outcome.errors = testing::internal::GetCapturedStderr();
        outcome.handedOver = file.head == game && file.tail == game;
        if (!outcome.handedOver) {
            EXPECT_EQ(file.head, nullptr);
        }
    }
    if (!outcome.handedOver) delete game;
    TheSession().currentGame = nullptr;
    return outcome;
}

CPartie* GameWith(const char* moves, const char* white = nullptr) {
    auto* game = new CPartie;
    PlayLine(&game->startingPosition, moves);
    if (white) game->SetWhite(white);
    return game;
}

std::string CaptionOf(const std::string& path) {
    return "Unable to save game in '" + path + "': ";
}

TEST(Save, FirstSaveCreatesTheFileLaterSavesAppend) {
    ScratchDir dir;
    std::string path = dir / "session.pgn";

    CPartie* first = GameWith("e2e4 e7e5 g1f3");
    std::string firstText = GameText(*first);
    Outcome saved = Save(path, first);
    EXPECT_EQ(saved.result, 0u);
    EXPECT_EQ(saved.errors, "");
    EXPECT_TRUE(saved.handedOver);
    EXPECT_EQ(ReadBytes(path), firstText);

    // The second game follows after exactly two empty lines, through a backup that goes.
    std::snprintf(TheSession().pgnPath, sizeof TheSession().pgnPath, "%s", path.c_str());
    CPartie* second = GameWith("d2d4 d7d5", "Second");
    ASSERT_EQ(second->modified, 1);
    std::string secondText = GameText(*second);
    TheSession().currentGame = second;
    {
        WatchedFile file;
        testing::internal::CaptureStderr();
        EXPECT_EQ(SaveGame(file), 0u);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(file.head, second);
        EXPECT_EQ(second->fichier, &file);
        EXPECT_STREQ(second->fileName, path.c_str());
        EXPECT_EQ(second->saveMode, 2);
        EXPECT_EQ(second->stored, 1);
        EXPECT_EQ(second->modified, 0);
        EXPECT_EQ(second->startOffset, firstText.size() + 2);
        EXPECT_EQ(second->endOffset, firstText.size() + 2 + secondText.size());
        ASSERT_EQ(file.moved.size(), 1u);
        EXPECT_EQ(file.moved[0].first, second);
        EXPECT_EQ(file.moved[0].second, static_cast<std::int64_t>(secondText.size()));
    }
    TheSession().currentGame = nullptr;
    std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes, firstText + "\r\n" + secondText);
    EXPECT_NE(bytes.find("2. Nf3 *\r\n\r\n\r\n[Event \"?\"]"), std::string::npos);
    EXPECT_FALSE(Exists(path + ".bak"));

    CPartie* third = GameWith("c2c4");
    std::string thirdText = GameText(*third);
    EXPECT_EQ(Save(path, third).result, 0u);
    EXPECT_EQ(ReadBytes(path), firstText + "\r\n" + secondText + "\r\n" + thirdText);
    EXPECT_FALSE(Exists(path + ".bak"));
}

TEST(Save, AFileThatAnotherHolderLockedIsLeftAlone) {
    ScratchDir dir;
    std::string path = dir / "locked.pgn";
    ASSERT_EQ(Save(path, GameWith("e2e4")).result, 0u);
    std::string before = ReadBytes(path);

    platform::FileHandle holder =
        platform::OpenFile(path.c_str(), platform::kRead, platform::Share::kNone,
                           platform::Disposition::kOpenExisting);
    ASSERT_TRUE(holder.IsValid());
    Outcome locked = Save(path, GameWith("d2d4"));
    EXPECT_EQ(locked.result, kSaveFailed);
    EXPECT_FALSE(locked.handedOver);
    EXPECT_EQ(locked.errors.rfind(CaptionOf(path), 0), 0u) << locked.errors;
    EXPECT_EQ(std::count(locked.errors.begin(), locked.errors.end(), '\n'), 1);
    EXPECT_EQ(locked.errors.back(), '\n');
    platform::CloseFile(holder);  // (Windows does not let the test read it before)
    EXPECT_EQ(ReadBytes(path), before);

    // Once the holder lets go, saving works as usual.
    CPartie* next = GameWith("c2c4");
    std::string nextText = GameText(*next);
    EXPECT_EQ(Save(path, next).result, 0u);
    EXPECT_EQ(ReadBytes(path), before + "\r\n" + nextText);
}

TEST(Save, AFolderThatDoesNotExist) {
    ScratchDir dir;
    std::string path = dir / "absent/session.pgn";
    Outcome outcome = Save(path, GameWith("e2e4"));
    EXPECT_EQ(outcome.result, kSaveFailed);
    EXPECT_FALSE(outcome.handedOver);
    EXPECT_EQ(outcome.errors.rfind(CaptionOf(path), 0), 0u) << outcome.errors;
    EXPECT_FALSE(Exists(path));
    EXPECT_FALSE(Exists(path + ".bak"));
}

TEST(Save, ErrorMessages) {
    // A code that no system has a text for.
    testing::internal::CaptureStderr();
    platform::SetLastError(0xE0001234);
    ReportSaveError("x/y.pgn");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unable to save game in 'x/y.pgn': Err 0xE0001234\n");
    char text[512];
    ASSERT_TRUE(platform::ErrorText(kDiskFull, text, sizeof text));
    testing::internal::CaptureStderr();
    ShowErrorBox(nullptr, kDiskFull, "Caption");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string("Caption: ") + text + "\n");
}

TEST(Save, CopyBlocks) {
    ScratchDir dir;
    std::string from = dir / "from", to = dir / "to";
    std::string bytes;
    for (int i = 0; i < 1500; ++i)
        bytes += static_cast<char>(i * 7);
    WriteBytes(from, bytes);
    auto copy = [&](std::int64_t count, std::int64_t skip) {
        platform::FileHandle in =
            platform::OpenFile(from.c_str(), platform::kRead, platform::Share::kNone,
                               platform::Disposition::kOpenExisting);
        platform::FileHandle out =
            platform::OpenFile(to.c_str(), platform::kWrite, platform::Share::kNone,
                               platform::Disposition::kCreateAlways);
        platform::SetFilePointer(in, skip, platform::SeekFrom::kBegin, nullptr);
        int result = CopyBlocks(count, out, in);
        platform::CloseFile(in);
        platform::CloseFile(out);
        return result;
    };
    EXPECT_EQ(copy(-1, 0), 1);
    EXPECT_EQ(ReadBytes(to), bytes);
    EXPECT_EQ(copy(1024, 0), 1);
    EXPECT_EQ(ReadBytes(to), bytes.substr(0, 1024));
    EXPECT_EQ(copy(700, 1000), 1);  // more than there is: up to the end
    EXPECT_EQ(ReadBytes(to), bytes.substr(1000));
    EXPECT_EQ(copy(0, 0), 1);
    EXPECT_EQ(ReadBytes(to), "");
    {
        FaultPlan plan(FileOp::kWrite, 2, kDiskFull);
        EXPECT_EQ(copy(-1, 0), 0);
    }
    {
        FaultPlan plan(FileOp::kRead, 3, kDiskFull);
        EXPECT_EQ(copy(-1, 0), 0);
    }
}

// Makes one kind of file call fail during a save, at every place it is made, once or from
// there on: every game saved before stays in the file byte for byte, the failed game is
// reported and stays out, and the next save works as usual.
void SweepFaults(bool firstSave) {
    const FileOp ops[] = {FileOp::kOpen,     FileOp::kRead,  FileOp::kWrite, FileOp::kSeek,
                          FileOp::kTruncate, FileOp::kClose, FileOp::kCopy,  FileOp::kDelete,
                          FileOp::kStat,     FileOp::kFlush, FileOp::kRename};
    for (FileOp op : ops) {
        for (bool sticky : {false, true}) {
            for (int nth = 1;; ++nth) {
                SCOPED_TRACE(testing::Message() << "op " << static_cast<int>(op) << " call " << nth
                                                << (sticky ? " and later" : ""));
                ScratchDir dir;
                std::string path = dir / "faults.pgn";
                std::string before;
                if (!firstSave) {
                    CPartie* earlier = GameWith("e2e4 e7e5");
                    earlier->startingPosition.continuation->positionAfter->comment =
                        std::string(3000, 'c');  // a game of several blocks
                    ASSERT_EQ(Save(path, earlier).result, 0u);
                    before = ReadBytes(path);
                }

                CPartie* game = GameWith("d2d4 d7d5 c2c4", "Failing");
                std::string text = GameText(*game);
                Outcome outcome;
                bool fired;
                {
                    FaultPlan plan(op, nth, kDiskFull, sticky);
                    outcome = Save(path, game);
                    fired = plan.Fired();
                }
                std::string after = Exists(path) ? ReadBytes(path) : std::string();
                if (outcome.result == 0) {
                    // The fault hit nothing the save needs (a backup left behind at most).
                    EXPECT_TRUE(outcome.handedOver);
                    EXPECT_EQ(after, firstSave ? text : before + "\r\n" + text);
                    // A save answers success only once the game is on the disk.
                    EXPECT_FALSE(fired && (op == FileOp::kFlush || op == FileOp::kRename));
                } else {
                    EXPECT_TRUE(fired);
                    EXPECT_EQ(outcome.result, kSaveFailed);
                    EXPECT_FALSE(outcome.handedOver);
                    EXPECT_EQ(outcome.errors.rfind(CaptionOf(path), 0), 0u) << outcome.errors;
                    if (firstSave) {
                        // Only a folder that cannot be flushed leaves the new file, whole.
                        EXPECT_TRUE(after.empty() || (op == FileOp::kFlush && after == text));
                    } else if (Exists(path + ".bak")) {
                        // The rewrite could not be undone: the backup holds the file.
                        std::string backup = ReadBytes(path + ".bak");
                        EXPECT_TRUE(backup == before || backup == before + "\r\n");
                        EXPECT_EQ(after.substr(0, before.size()), before);
                    } else {
                        EXPECT_TRUE(after == before || after == before + "\r\n")
                            << after.size() << " bytes, " << before.size() << " before";
                    }
                }

                CPartie* next = GameWith("g1f3", "Next");
                std::string nextText = GameText(*next);
                Outcome retry = Save(path, next);
                EXPECT_EQ(retry.result, 0u) << retry.errors;
                std::string last = ReadBytes(path);
                EXPECT_EQ(last.substr(0, before.size()), before);
                EXPECT_EQ(last.substr(last.size() - nextText.size()), nextText);
                EXPECT_FALSE(Exists(path + ".bak"));
                EXPECT_FALSE(Exists(path + ".tmp") || Exists(path + ".bak.tmp"));
                if (!fired || testing::Test::HasFatalFailure()) break;
            }
        }
    }
}

TEST(Save, FaultsDuringTheFirstSave) {
    SweepFaults(true);
}

TEST(Save, FaultsDuringAnAppend) {
    SweepFaults(false);
}

TEST(Save, AWriteThatFailsMidwayLeavesTheEarlierGames) {
    ScratchDir dir;
    std::string path = dir / "midway.pgn";
    CPartie* first = GameWith("e2e4 e7e5 g1f3 b8c6");
    std::string firstText = GameText(*first);
    ASSERT_EQ(Save(path, first).result, 0u);

    // The fourth write of the save is the game's text (after the "\r\n", the backup's copy
    // and the old contents before the game).
    Outcome failed;
    {
        FaultPlan plan(FileOp::kWrite, 4, kDiskFull);
        failed = Save(path, GameWith("d2d4 d7d5"));
    }
    char text[512];
    ASSERT_TRUE(platform::ErrorText(kDiskFull, text, sizeof text));
    EXPECT_EQ(failed.result, kSaveFailed);
    EXPECT_EQ(failed.errors, CaptionOf(path) + text + "\n");
    EXPECT_EQ(ReadBytes(path), firstText + "\r\n");
    EXPECT_FALSE(Exists(path + ".bak"));

    CPartie* third = GameWith("c2c4");
    std::string thirdText = GameText(*third);
    EXPECT_EQ(Save(path, third).result, 0u);
    EXPECT_EQ(ReadBytes(path), firstText + "\r\n" + "\r\n" + thirdText);
}

// From the nth file call on, every call fails, as if the process had died there: the disk
// keeps what the calls before it did, and nothing after.
class Crash {
public:
    explicit Crash(int nth) : nth_(nth) { platform::SetFaultHook(&Crash::Hook, this); }
    ~Crash() { platform::SetFaultHook(nullptr, nullptr); }
    Crash(const Crash&) = delete;
    Crash& operator=(const Crash&) = delete;
    bool Happened() const { return seen_ >= nth_; }

private:
    static platform::ErrorCode Hook(FileOp, platform::FileHandle, const char*, void* context) {
        auto* crash = static_cast<Crash*>(context);
        return ++crash->seen_ >= crash->nth_ ? kDiskFull : 0;
    }
    int nth_;
    int seen_ = 0;
};

// A live session keeps its game in progress on disk and saves it; the process dies at any
// step of that save, and the recovery at the next start dies at the same step; a last
// recovery runs whole. The PGN file then holds every earlier game and that game, once
// each, and reads cleanly; nothing else is left. Once the save is past the crash, the
// game is in the PGN file and in the game in progress alike, and is not saved twice.
TEST(Recovery, ACrashAtAnyStepOfASaveOrOfItsRecoveryLosesNoGame) {
    for (bool firstSave : {true, false}) {
        for (int nth = 1;; ++nth) {
            SCOPED_TRACE(testing::Message()
                         << (firstSave ? "first save" : "append") << ", call " << nth);
            ScratchDir dir;
            const std::string pgn = dir / "s.000.pgn";
            const std::string current = dir / "s.000.current.pgn";
            std::vector<std::string> games;
            if (!firstSave) {
                CPartie* earlier = GameWith("e2e4 e7e5");
                games.push_back(GameText(*earlier));
                ASSERT_EQ(Save(pgn, earlier).result, 0u);
            }
            CPartie* game = GameWith("d2d4 d7d5 c2c4");
            games.push_back(GameText(*game));
            ASSERT_TRUE(WriteFileInOneStep(current.c_str(), GameText(*game), true));
            ASSERT_EQ(ReadBytes(current), games.back());

            bool saveCut, recoveryCut;
            {
                Crash crash(nth);
                Save(pgn, game);
                saveCut = crash.Happened();
            }
            testing::internal::CaptureStderr();
            {
                Crash crash(nth);
                RecoverGame(current.c_str(), pgn.c_str());
                recoveryCut = crash.Happened();
            }
            Recovery last = RecoverGame(current.c_str(), pgn.c_str());
            testing::internal::GetCapturedStderr();

            EXPECT_NE(last, Recovery::kFailed);
            // Each append cut after its "\r\n" leaves it: one more empty line, as a failed one.
            std::string bytes = ReadBytes(pgn);
            std::string start = firstSave ? "" : games[0] + "\r\n";
            std::string expected = start + games.back();
            while (!firstSave && expected.size() < bytes.size())
                expected.insert(start.size(), "\r\n");
            EXPECT_EQ(bytes, expected);
            CFichier index(pgn.c_str());
            ASSERT_EQ(index.Open(), 1);
            EXPECT_EQ(index.gameCount, static_cast<std::int32_t>(games.size()));
            for (const char* left : {".bak", ".tmp", ".bak.tmp"})
                EXPECT_FALSE(Exists(pgn + left)) << left;
            EXPECT_FALSE(Exists(current) || Exists(current + ".tmp"));
            if (testing::Test::HasFailure() || (!saveCut && !recoveryCut)) break;
        }
    }
}

// A backup that a save which worked could not delete is not the mark of a cut save: the
// game it was made for stays in the file, and the next game in progress joins it.
TEST(Recovery, ABackupLeftByASaveThatWorkedIsNotPutBack) {
    ScratchDir dir;
    const std::string pgn = dir / "s.000.pgn";
    const std::string current = dir / "s.000.current.pgn";
    std::string texts;
    for (const char* moves : {"e2e4", "d2d4"}) {
        CPartie* game = GameWith(moves);
        texts += (texts.empty() ? "" : "\r\n") + GameText(*game);
        FaultPlan plan(FileOp::kDelete, 1, kDiskFull);
        ASSERT_EQ(Save(pgn, game).result, 0u);
    }
    ASSERT_TRUE(Exists(pgn + ".bak"));
    CPartie inProgress;
    PlayLine(&inProgress.startingPosition, "c2c4");
    ASSERT_TRUE(WriteFileInOneStep(current.c_str(), GameText(inProgress), true));
    EXPECT_EQ(RecoverGame(current.c_str(), pgn.c_str()), Recovery::kRecovered);
    EXPECT_EQ(ReadBytes(pgn), texts + "\r\n" + GameText(inProgress));
    EXPECT_FALSE(Exists(pgn + ".bak") || Exists(current));
}

TEST(Save, WithoutACurrentGameNothingIsSaved) {
    ScratchDir dir;
    std::string path = dir / "none.pgn";
    std::snprintf(TheSession().pgnPath, sizeof TheSession().pgnPath, "%s", path.c_str());
    TheSession().currentGame = nullptr;
    CFichier file;
    EXPECT_EQ(SaveGame(file), kSaveFailed);
    EXPECT_FALSE(Exists(path));
}

}  // namespace
