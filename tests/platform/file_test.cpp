// Files: sharing, the save's file calls, the copy of a PGN file, and the fault hook.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/files.h"

using namespace platform;

namespace {

const ErrorCode kDiskFull = ErrorOf(ErrorKind::kDiskFull);
const ErrorCode kDenied = ErrorOf(ErrorKind::kAccessDenied);

// True when no handle holds path open any more: an unshared open of it succeeds.
bool NothingHolds(const std::string& path) {
    FileHandle file = OpenFile(path.c_str(), kReadWrite, Share::kNone, Disposition::kOpenExisting);
    bool released = file.IsValid();
    CloseFile(file);
    return released;
}

// A hook that fails one operation, the nth time it is asked (from 1), with code.
struct FailNth {
    FailNth(FileOp op, int nth, ErrorCode code) : op(op), nth(nth), code(code) {}
    FileOp op;
    int nth;
    ErrorCode code;
    int seen = 0;
    std::vector<FileOp> ops;
};

ErrorCode FailNthHook(FileOp op, FileHandle, const char*, void* context) {
    auto* fail = static_cast<FailNth*>(context);
    fail->ops.push_back(op);
    if (op == fail->op && ++fail->seen == fail->nth) return fail->code;
    return 0;
}

class FileTest : public ::testing::Test {
protected:
    void TearDown() override { SetFaultHook(nullptr, nullptr); }
    ScratchDir dir;
};

}  // namespace

TEST_F(FileTest, SharingFollowsAccessAndShareMode) {
    struct Case {
        unsigned firstAccess;
        Share firstShare;
        unsigned secondAccess;
        Share secondShare;
        bool coexist;
    };
    const Case cases[] = {
        {kRead, Share::kRead, kRead, Share::kRead, true},
        {kRead, Share::kRead, kWrite, Share::kNone, false},
        {kWrite, Share::kRead, kRead, Share::kRead, false},  // the session log's mode
        {kReadWrite, Share::kNone, kReadWrite, Share::kNone, false},
        {kRead, Share::kNone, kRead, Share::kRead, false},
    };
    std::string path = dir / "shared.pgn";
    WriteBytes(path, "x");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.firstAccess << "/" << int(c.firstShare) << " then "
                                        << c.secondAccess << "/" << int(c.secondShare));
        FileHandle first =
            OpenFile(path.c_str(), c.firstAccess, c.firstShare, Disposition::kOpenExisting);
        ASSERT_TRUE(first.IsValid());
        FileHandle second =
            OpenFile(path.c_str(), c.secondAccess, c.secondShare, Disposition::kOpenExisting);
        EXPECT_EQ(second.IsValid(), c.coexist);
        if (!c.coexist) {
            EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kSharingViolation));
        }
        EXPECT_TRUE(CloseFile(second));
        EXPECT_TRUE(CloseFile(first));
        EXPECT_FALSE(first.IsValid());
        // Once both are closed, nothing is left locked.
        FileHandle again =
            OpenFile(path.c_str(), c.secondAccess, c.secondShare, Disposition::kOpenExisting);
        EXPECT_TRUE(again.IsValid());
        CloseFile(again);
    }
    EXPECT_EQ(ReadBytes(path), "x");
}

TEST_F(FileTest, CreateAlwaysTruncatesOnlyOnceItHoldsTheFile) {
    std::string path = dir / "chess.000.log";
    WriteBytes(path, "earlier session");
    FileHandle holder = OpenFile(path.c_str(), kWrite, Share::kRead, Disposition::kOpenAlways);
    ASSERT_TRUE(holder.IsValid());

    FileHandle second = OpenFile(path.c_str(), kWrite, Share::kRead, Disposition::kCreateAlways);
    EXPECT_FALSE(second.IsValid());
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kSharingViolation));
    // A reader that takes no lock (tail -f) still sees the contents, untouched.
    EXPECT_EQ(ReadBytes(path), "earlier session");

    ASSERT_TRUE(CloseFile(holder));
    second = OpenFile(path.c_str(), kWrite, Share::kRead, Disposition::kCreateAlways);
    ASSERT_TRUE(second.IsValid());
    CloseFile(second);
    EXPECT_EQ(ReadBytes(path), "");
}

TEST_F(FileTest, DispositionsAndRefusals) {
    std::string path = dir / "new.pgn";
    EXPECT_FALSE(OpenFile(path.c_str(), kRead, Share::kRead, Disposition::kOpenExisting).IsValid());
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kNotFound));
    EXPECT_FALSE(FileExists(path.c_str()));
    EXPECT_FALSE(OpenFile(nullptr, kRead, Share::kRead, Disposition::kOpenAlways).IsValid());
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kInvalidArgument));
    EXPECT_FALSE(OpenFile(path.c_str(), 0, Share::kRead, Disposition::kOpenAlways).IsValid());
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kInvalidArgument));
    EXPECT_FALSE(FileExists(path.c_str()));

    FileHandle file = OpenFile(path.c_str(), kReadWrite, Share::kNone, Disposition::kOpenAlways);
    ASSERT_TRUE(file.IsValid());
    EXPECT_TRUE(FileExists(path.c_str()));
    CloseFile(file);

    WriteBytes(path, "kept");
    file = OpenFile(path.c_str(), kReadWrite, Share::kNone, Disposition::kOpenAlways);
    CloseFile(file);
    EXPECT_EQ(ReadBytes(path), "kept");

    // A folder is not a file to save into.
    EXPECT_FALSE(
        OpenFile(dir.Path().c_str(), kRead, Share::kRead, Disposition::kOpenExisting).IsValid());
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kAccessDenied));

    EXPECT_TRUE(RemoveFile(path.c_str()));
    EXPECT_FALSE(RemoveFile(path.c_str()));
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kNotFound));
}

// The rewrite of a save: append, seek back, cut at the new end, read to the end.
TEST_F(FileTest, SeekCutAndShortReadAtTheEnd) {
    std::string path = dir / "game.pgn";
    FileHandle file = OpenFile(path.c_str(), kReadWrite, Share::kNone, Disposition::kCreateAlways);
    ASSERT_TRUE(file.IsValid());
    std::uint32_t count = 0;
    ASSERT_TRUE(WriteFile(file, "1. e4 e5\r\n", 10, &count));
    EXPECT_EQ(count, 10u);
    std::uint64_t position = 0;
    ASSERT_TRUE(SetFilePointer(file, -4, SeekFrom::kCurrent, &position));
    EXPECT_EQ(position, 6u);
    ASSERT_TRUE(SetEndOfFile(file));
    ASSERT_TRUE(SetFilePointer(file, 0, SeekFrom::kEnd, &position));
    EXPECT_EQ(position, 6u);

    ASSERT_TRUE(SetFilePointer(file, 0, SeekFrom::kBegin, nullptr));
    char buffer[512];
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count));
    EXPECT_EQ(std::string(buffer, count), "1. e4 ");
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(SetFilePointer(file, -1, SeekFrom::kBegin, nullptr));
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kInvalidArgument));
    CloseFile(file);
}

TEST_F(FileTest, HookFailsTheThirdWriteLikeAFullDisk) {
    std::string path = dir / "game.pgn";
    FileHandle file = OpenFile(path.c_str(), kWrite, Share::kNone, Disposition::kCreateAlways);
    ASSERT_TRUE(file.IsValid());
    FailNth fail{FileOp::kWrite, 3, kDiskFull};
    SetFaultHook(FailNthHook, &fail);
    std::uint32_t written = 99;
    EXPECT_TRUE(WriteFile(file, "[Event", 6, &written));
    EXPECT_TRUE(WriteFile(file, " \"?\"]", 5, &written));
    EXPECT_FALSE(WriteFile(file, "\r\n", 2, &written));
    EXPECT_EQ(LastError(), kDiskFull);
    EXPECT_EQ(written, 0u);
    SetFaultHook(nullptr, nullptr);
    CloseFile(file);
    EXPECT_EQ(ReadBytes(path), "[Event \"?\"]");
}

TEST_F(FileTest, FailedCloseStillReleasesTheHandle) {
    std::string path = dir / "game.pgn";
    FileHandle file = OpenFile(path.c_str(), kWrite, Share::kNone, Disposition::kCreateAlways);
    FailNth fail{FileOp::kClose, 1, kDenied};
    SetFaultHook(FailNthHook, &fail);
    EXPECT_FALSE(CloseFile(file));
    EXPECT_EQ(LastError(), kDenied);
    EXPECT_FALSE(file.IsValid());
    EXPECT_TRUE(CloseFile(file));  // an invalid handle is left alone
    SetFaultHook(nullptr, nullptr);
    EXPECT_TRUE(NothingHolds(path));
}

TEST_F(FileTest, CopyReplacesTheDestinationByteForByte) {
    std::string source(100003, '\0');
    for (std::size_t i = 0; i < source.size(); ++i)
        source[i] = char(i * 7 + i / 251);
    std::string from = dir / "chess.000.pgn";
    std::string to = dir / "chess.000.pgn.bak";
    WriteBytes(from, source);
    WriteBytes(to, std::string(250000, 'o'));
    ASSERT_TRUE(CopyFileOver(from.c_str(), to.c_str()));
    EXPECT_TRUE(ReadBytes(to) == source);
    EXPECT_TRUE(ReadBytes(from) == source);

    WriteBytes(from, "");
    ASSERT_TRUE(CopyFileOver(from.c_str(), to.c_str()));
    EXPECT_EQ(ReadBytes(to), "");
}

TEST_F(FileTest, FailedCopiesLeaveFilesAndHandlesAlone) {
    std::string from = dir / "chess.000.pgn";
    std::string to = dir / "chess.000.pgn.bak";

    WriteBytes(to, "old backup");
    EXPECT_FALSE(CopyFileOver((dir / "missing.pgn").c_str(), to.c_str()));
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kNotFound));
    EXPECT_EQ(ReadBytes(to), "old backup");

    // A copy onto itself must not cut the file before it finds out.
    WriteBytes(from, "1. e4 *\r\n");
    EXPECT_FALSE(CopyFileOver(from.c_str(), from.c_str()));
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kSharingViolation));
    EXPECT_EQ(ReadBytes(from), "1. e4 *\r\n");

    // The destination held open by another program.
    FileHandle holder = OpenFile(to.c_str(), kRead, Share::kRead, Disposition::kOpenExisting);
    EXPECT_FALSE(CopyFileOver(from.c_str(), to.c_str()));
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kSharingViolation));
    CloseFile(holder);

    FailNth write{FileOp::kWrite, 1, kDiskFull};
    SetFaultHook(FailNthHook, &write);
    EXPECT_FALSE(CopyFileOver(from.c_str(), to.c_str()));
    EXPECT_EQ(LastError(), kDiskFull);
    ASSERT_FALSE(write.ops.empty());
    EXPECT_EQ(write.ops.front(), FileOp::kCopy);

    FailNth read{FileOp::kRead, 1, kDenied};
    SetFaultHook(FailNthHook, &read);
    EXPECT_FALSE(CopyFileOver(from.c_str(), to.c_str()));
    EXPECT_EQ(LastError(), kDenied);

    // The destination's close (its data reaching the disk) fails; the source's then
    // succeeds and must not hide it.
    FailNth close{FileOp::kClose, 1, kDenied};
    SetFaultHook(FailNthHook, &close);
    EXPECT_FALSE(CopyFileOver(from.c_str(), to.c_str()));
    EXPECT_EQ(LastError(), kDenied);

    // No failure leaves a handle open.
    SetFaultHook(nullptr, nullptr);
    EXPECT_TRUE(NothingHolds(from));
    EXPECT_TRUE(NothingHolds(to));
    EXPECT_EQ(ReadBytes(from), "1. e4 *\r\n");
}

// A rename over replaces the old file; one without replacing refuses an existing name and
// leaves both files as they were. The folder they lie in can be flushed.
TEST_F(FileTest, RenamesReplaceOnlyWhenAsked) {
    std::string temp = dir / "chess.000.pgn.tmp";
    std::string pgn = dir / "chess.000.pgn";
    WriteBytes(temp, "new");
    WriteBytes(pgn, "old");
    EXPECT_FALSE(RenameFileNoReplace(temp.c_str(), pgn.c_str()));
    EXPECT_EQ(ReadBytes(temp), "new");
    EXPECT_EQ(ReadBytes(pgn), "old");
    EXPECT_TRUE(RenameFileOver(temp.c_str(), pgn.c_str()));
    EXPECT_EQ(ReadBytes(pgn), "new");
    EXPECT_FALSE(FileExists(temp.c_str()));
    std::string other = dir / "chess.001.pgn";
    EXPECT_TRUE(RenameFileNoReplace(pgn.c_str(), other.c_str()));
    EXPECT_EQ(ReadBytes(other), "new");
    EXPECT_FALSE(FileExists(pgn.c_str()));
    EXPECT_TRUE(FlushFolderOf(other.c_str()));
    EXPECT_FALSE(RenameFileOver(temp.c_str(), pgn.c_str()));
    EXPECT_TRUE(IsError(LastError(), ErrorKind::kNotFound));
}
