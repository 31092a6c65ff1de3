// The live step of the capture loop, in process: a board that hands over scripted chunks,
// the record file on disk, and the platform's file seam to make record writes fail.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "board/iio.h"
#include "pgn/game_in_progress.h"
#include "platform/platform.h"
#include "platform/testkit.h"
#include "recorder/capture.h"
#include "recorder/record_format.h"
#include "recorder/startup.h"
#include "session/session.h"
#include "support/board_line.h"
#include "support/files.h"
#include "support/pgn_helpers.h"
#include "support/process.h"

namespace platform {
// Names a file call in the tests' names.
inline void PrintTo(FileOp op, std::ostream* out) {
    *out << static_cast<int>(op);
}
}  // namespace platform

namespace {

// A board whose reads deliver one scripted chunk each, alternately at once and after a
// wait, and then fail (the cable pulled). Each answer it gets is kept with the size the
// record file had at that moment.
class ScriptedBoard : public IIOObject {
public:
    ScriptedBoard(std::vector<std::string> chunks, std::string recordPath)
        : chunks_(std::move(chunks)), recordPath_(std::move(recordPath)) {
        event_ = platform::CreateIoEvent();
    }
    ~ScriptedBoard() { platform::CloseEvent(event_); }

    int Write(const void* bytes, std::uint32_t count, std::uint32_t* written) override {
        answers.emplace_back(static_cast<const char*>(bytes), count);
        recordSizeAtAnswer.push_back(ReadBytes(recordPath_).size());
        if (!watchPath.empty()) watchedAtAnswer.push_back(ReadBytes(watchPath));
        *written = count;
        return 1;
    }
    ReadStart BeginRead(void* destination, std::uint32_t capacity, std::uint32_t* count) override {
        *count = 0;
        if (next_ >= chunks_.size()) return kReadFailed;
        destination_ = static_cast<char*>(destination);
        capacity_ = capacity;
        count_ = count;
        if (next_ % 2 == 0) {
            CompleteRead();
            return kReadDone;
        }
        platform::testkit::SignalEvent(event_);  // the chunk has come
        return event_.value;                     // pending: the loop waits, then completes it
    }
    int CompleteRead() override {
        const std::string& chunk = chunks_[next_++];
        EXPECT_LE(chunk.size(), capacity_);
        chunk.copy(destination_, chunk.size());
        *count_ = static_cast<std::uint32_t>(chunk.size());
        return 1;
    }
    int BlockingRead(void*, std::uint32_t, std::uint32_t*) override { return 0; }

    std::vector<std::string> answers;
    std::vector<std::size_t> recordSizeAtAnswer;
    std::string watchPath;  // a file whose contents are kept at each answer
    std::vector<std::string> watchedAtAnswer;

private:
    std::vector<std::string> chunks_;
    std::string recordPath_;
    std::size_t next_ = 0;
    platform::EventHandle event_;
    char* destination_ = nullptr;
    std::uint32_t capacity_ = 0;
    std::uint32_t* count_ = nullptr;
};

// Fails the nth write to one file as on a full disk: the disk is full for a moment, and has room
// again when the next chunk comes.
struct FullDisk {
    platform::FileHandle file;
    int nth;
    int seen = 0;
    static platform::ErrorCode Hook(platform::FileOp op, platform::FileHandle file, const char*,
                                    void* context) {
        auto* disk = static_cast<FullDisk*>(context);
        if (op != platform::FileOp::kWrite || file.value != disk->file.value) return 0;
        return ++disk->seen == disk->nth ? platform::ErrorOf(platform::ErrorKind::kDiskFull) : 0;
    }
};

class LiveCapture : public ::testing::Test {
protected:
    // A live session's files without its port: the board is the test's.
    void SetUp() override {
        ResetSession();
        ASSERT_EQ(OpenSessionFiles(run, (dir / "s.").c_str()), std::nullopt);
        CreateRecordFile(run);
        StartGame(run);
    }
    void TearDown() override {
        platform::SetFaultHook(nullptr, nullptr);
        ResetSession();
    }
    // Runs the loop on the board until its reads fail; answers the console output.
    std::string Capture(ScriptedBoard& board) {
        testing::internal::CaptureStdout();
        CaptureLoop(&board, run.current);
        return testing::internal::GetCapturedStdout();
    }

    ScratchDir dir;
    RecorderRun run;
};

}  // namespace

// Each chunk is in the record file, whole, before any of it is decoded: the answer to the
// first time message finds the first record written, the answer to a later 0xFF finds
// the records up to its own. Empty reads are recorded too.
TEST_F(LiveCapture, RecordsEachChunkBeforeDecodingIt) {
    std::string move = MoveMessage("e2e4");
    std::vector<std::string> chunks = {kFirstTime, move.substr(0, 2), "", move.substr(2) + "\xFF",
                                       MoveMessage("e7e5")};
    ScriptedBoard board(chunks, run.recordPath);
    EXPECT_EQ(Capture(board), "1. e4\n1... e5\nUnable to read\n");

    ASSERT_EQ(board.answers, (std::vector<std::string>{"\x99", "\x99"}));
    EXPECT_EQ(board.recordSizeAtAnswer[0], kRecordHeaderSize + kFirstTime.size());
    EXPECT_EQ(board.recordSizeAtAnswer[1], 4 * kRecordHeaderSize + kFirstTime.size() + 2 + 0 + 4);
    platform::CloseFile(TheSession().record);
    bool whole = false;
    std::vector<RecordedChunk> records = ReadRecords(ReadBytes(run.recordPath), &whole);
    EXPECT_TRUE(whole);
    ASSERT_EQ(records.size(), chunks.size());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(records[i].data, chunks[i]) << "record " << i;
        if (i > 0) {
            EXPECT_LE(records[i - 1].elapsed, records[i].elapsed);
        }
    }
}

// A record write that fails (the disk full) is reported once in the log, as a system error
// report; the board's moves are decoded, printed and logged all the same. The recording
// ends there: the file holds the records before, whole, and nothing behind the torn one
// that a replay would read out of step.
TEST_F(LiveCapture, AFailedRecordWriteIsReportedOnceAndCaptureGoesOn) {
    FullDisk disk{TheSession().record, 5};  // the second record's count
    platform::SetFaultHook(&FullDisk::Hook, &disk);
    std::vector<std::string> chunks = {kFirstTime, MoveMessage("e2e4"), MoveMessage("e7e5"),
                                       MoveMessage("g1f3")};
    ScriptedBoard board(chunks, run.recordPath);
    EXPECT_EQ(Capture(board), "1. e4\n1... e5\n2. Nf3\nUnable to read\n");
    platform::SetFaultHook(nullptr, nullptr);

    std::string log = ReadBytes(run.logPath);
    const std::string report =
        SystemErrorLine("WriteFile(record)", platform::ErrorOf(platform::ErrorKind::kDiskFull));
    std::size_t at = log.find(report);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(report, at + 1), std::string::npos) << log;
    EXPECT_NE(log.find("Move OK : 2. Nf3\n"), std::string::npos) << log;

    // The first record, and of the second what reached the disk before the failure.
    std::string record = ReadBytes(run.recordPath);
    ASSERT_GE(record.size(), 8 + kFirstTime.size() + 4);
    EXPECT_EQ(record.substr(8, kFirstTime.size()), kFirstTime);
    EXPECT_EQ(record.size(), 8 + kFirstTime.size() + 4);
}

// The game in progress is on disk after every move. A write of it that fails at any of its
// steps (the temporary file's write, its flush, the rename) leaves the file as it was, whole,
// and no temporary file; it is logged once, and the session goes on: the next move's write
// works again.
class LiveCaptureKeep : public LiveCapture, public testing::WithParamInterface<platform::FileOp> {};

TEST_P(LiveCaptureKeep, AFailedWriteOfTheGameInProgressKeepsTheLastOne) {
    const std::string tags = DefaultTags() + "\r\n";
    const std::string path = run.gameInProgressPath;
    ASSERT_FALSE(Exists(path));  // nothing to keep before the first move
    // The write of the game in progress after 1... e5 fails at the step.
    struct Fault {
        platform::FileOp op;
        int opens = 0;
        bool armed = false;
    } fault{GetParam()};
    platform::SetFaultHook(
        [](platform::FileOp op, platform::FileHandle, const char* path, void* context) {
            auto* fault = static_cast<Fault*>(context);
            std::string name = path ? path : "";
            if (op == platform::FileOp::kOpen && name.ends_with(".current.pgn.tmp"))
                fault->armed = ++fault->opens == 2;
            if (!fault->armed || op != fault->op) return platform::ErrorCode{0};
            fault->armed = false;
            return platform::ErrorOf(platform::ErrorKind::kDiskFull);
        },
        &fault);
    ScriptedBoard board(
        {kFirstTime, MoveMessage("e2e4"), MoveMessage("e7e5") + "\xFF", MoveMessage("g1f3")},
        run.recordPath);
    board.watchPath = path;
    EXPECT_EQ(Capture(board), "1. e4\n1... e5\n2. Nf3\nUnable to read\n");
    platform::SetFaultHook(nullptr, nullptr);

    ASSERT_EQ(board.watchedAtAnswer.size(), 2u);
    EXPECT_EQ(board.watchedAtAnswer[1], tags + "1. e4 *\r\n\r\n");
    EXPECT_EQ(ReadBytes(path), tags + "1. e4 e5 2. Nf3 *\r\n\r\n");
    EXPECT_FALSE(Exists(path + ".tmp"));
    std::string log = ReadBytes(run.logPath);
    const std::string report = SystemErrorLine("WriteFile(game in progress)",
                                               platform::ErrorOf(platform::ErrorKind::kDiskFull));
    std::size_t at = log.find(report);
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(report, at + 1), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Steps, LiveCaptureKeep,
                         testing::Values(platform::FileOp::kWrite, platform::FileOp::kFlush,
                                         platform::FileOp::kRename),
                         [](const testing::TestParamInfo<platform::FileOp>& info) {
                             return info.param == platform::FileOp::kWrite   ? "Write"
                                    : info.param == platform::FileOp::kFlush ? "Flush"
                                                                             : "Rename";
                         });

// A game whose save fails when the board starts the next one is not lost: it stays in the
// game in progress file, ahead of the next game, and after the session's end, for the next
// start to put into the PGN file.
TEST_F(LiveCapture, AGameThatCouldNotBeSavedStaysForTheNextStart) {
    const std::string tags = DefaultTags() + "\r\n";
    const std::string first = tags + "1. e4 e5 *\r\n\r\n";
    const std::string second = tags + "1. d4 *\r\n\r\n";
    {
        // The first save cannot create its temporary file.
        platform::SetFaultHook(
            [](platform::FileOp op, platform::FileHandle, const char* path, void*) {
                const bool save = op == platform::FileOp::kOpen && path &&
                                  std::string(path).ends_with(".000.pgn.tmp");
                return save ? platform::ErrorOf(platform::ErrorKind::kDiskFull)
                            : platform::ErrorCode{0};
            },
            nullptr);
        ScriptedBoard board({kFirstTime, MoveMessage("e2e4"), MoveMessage("e7e5"), NewGameMessage(),
                             MoveMessage("d2d4") + "\xFF"},
                            run.recordPath);
        board.watchPath = run.gameInProgressPath;
        testing::internal::CaptureStderr();
        EXPECT_EQ(Capture(board), "1. e4\n1... e5\nNew game\n1. d4\nUnable to read\n");
        platform::SetFaultHook(nullptr, nullptr);
        EXPECT_EQ(Shutdown(run), 0);
        testing::internal::GetCapturedStderr();
        ASSERT_EQ(board.watchedAtAnswer.size(), 2u);
        EXPECT_EQ(board.watchedAtAnswer[1], first + "\r\n" + second);
    }
    const std::string pgn = TheSession().pgnPath;
    EXPECT_EQ(ReadBytes(pgn), second);
    EXPECT_EQ(ReadBytes(run.gameInProgressPath), first);
    EXPECT_EQ(RecoverGame(run.gameInProgressPath, pgn.c_str()), Recovery::kRecovered);
    EXPECT_EQ(ReadBytes(pgn), second + "\r\n" + first);
    EXPECT_FALSE(Exists(run.gameInProgressPath));
}

// A first save that reached its file but whose folder could not be flushed is declared
// failed: it takes its file back, so that the game, kept in the game in progress, is in the
// PGN file once when the next start saves it.
TEST_F(LiveCapture, ASaveDeclaredFailedLeavesNoGameBehind) {
    const std::string tags = DefaultTags() + "\r\n";
    const std::string first = tags + "1. e4 e5 *\r\n\r\n";
    const std::string second = tags + "1. d4 *\r\n\r\n";
    struct Fault {
        std::string pgn;
        bool failed = false;
    } fault{TheSession().pgnPath};
    const std::string& pgn = fault.pgn;
    platform::SetFaultHook(
        [](platform::FileOp op, platform::FileHandle, const char* path, void* context) {
            auto* fault = static_cast<Fault*>(context);
            if (op != platform::FileOp::kFlush || !path || path != fault->pgn || fault->failed)
                return platform::ErrorCode{0};
            fault->failed = true;
            return platform::ErrorOf(platform::ErrorKind::kDiskFull);
        },
        &fault);
    ScriptedBoard board({kFirstTime, MoveMessage("e2e4"), MoveMessage("e7e5"), NewGameMessage(),
                         MoveMessage("d2d4")},
                        run.recordPath);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Capture(board), "1. e4\n1... e5\nNew game\n1. d4\nUnable to read\n");
    EXPECT_EQ(Shutdown(run), 0);
    platform::SetFaultHook(nullptr, nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Unable to save game in '" + pgn),
              std::string::npos);
    EXPECT_EQ(ReadBytes(pgn), second);

    // The next start in the folder.
    ResetSession();
    testing::internal::CaptureStderr();
    RecoverDeadSessions((dir / "s.").c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "chessrec: recovered the game in progress of session 000 into " + pgn + "\n");
    EXPECT_EQ(ReadBytes(pgn), second + "\r\n" + first);
}
