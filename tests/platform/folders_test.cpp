// What a program that follows the recorders' session folders asks of the system: a reader
// that never gets in a recorder's way, folder listings, and change notification.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "pgn/save.h"
#include "platform/platform.h"
#include "support/files.h"

using namespace platform;

namespace {

// Windows keeps its sharing rules for a reader that shares everything; POSIX takes no lock.
const bool kWindowsSharing = PathSeparator() == '\\';

constexpr char kGame1[] = "[Event \"One\"]\r\n\r\n1. e4 e5 *\r\n";
constexpr char kGame2[] = "[Event \"Two\"]\r\n\r\n1. d4 d5 *\r\n";

std::string ReadAll(FileHandle file) {
    std::string bytes(4096, '\0');
    std::uint32_t got = 0;
    EXPECT_TRUE(ReadFile(file, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &got));
    bytes.resize(got);
    return bytes;
}

FileHandle OpenReader(const std::string& path) {
    return OpenFile(path.c_str(), kRead, Share::kAll, Disposition::kOpenExisting);
}

// What the waits reported, gathered until the watch has been quiet for quietMs (the first
// wait may take up to firstMs: the time for a change expected), each id once.
struct Report {
    std::vector<int> changed;
    std::vector<int> gone;
    int waits = 0;  // the waits that reported something
};

void Merge(std::vector<int>* into, const std::vector<int>& ids) {
    for (int id : ids) {
        if (std::find(into->begin(), into->end(), id) == into->end()) into->push_back(id);
    }
    std::sort(into->begin(), into->end());
}

Report Gather(FolderWatch watch, std::uint32_t firstMs = 10000, std::uint32_t quietMs = 300) {
    Report report;
    std::vector<int> changed;
    std::vector<int> gone;
    for (std::uint32_t wait = firstMs;; wait = quietMs) {
        EXPECT_TRUE(WaitForFolderChanges(watch, wait, &changed, &gone));
        if (changed.empty() && gone.empty()) return report;
        ++report.waits;
        Merge(&report.changed, changed);
        Merge(&report.gone, gone);
    }
}

using Ids = std::vector<int>;

class FolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        watch = CreateFolderWatch();
        ASSERT_TRUE(watch.IsValid()) << ReasonText(LastError());
    }
    void TearDown() override {
        CloseFolderWatch(watch);
        EXPECT_FALSE(watch.IsValid());
    }
    ScratchDir dir;
    FolderWatch watch;
};

}  // namespace

// The recorder writes its game in progress in one step (a temporary file renamed over the
// old one), removes it at the end of a session, and saves into its PGN file unshared: all
// of it works beside a sharing reader on POSIX; on Windows, only the removal does.
TEST_F(FolderTest, WhatTheRecorderDoesBesideASharingReader) {
    std::string current = dir / "chessrec.000.current.pgn";
    WriteBytes(current, kGame1);
    FileHandle reader = OpenReader(current);
    ASSERT_TRUE(reader.IsValid()) << ReasonText(LastError());
    bool rewritten = WriteFileInOneStep(current.c_str(), kGame2, true);
    if (kWindowsSharing) {
        // Windows renames over no file that is open, not even one open with delete sharing:
        // the write fails (access denied) and leaves the old file, and no temporary one,
        // for as long as the reader holds it.
        EXPECT_FALSE(rewritten);
        EXPECT_TRUE(IsError(LastError(), ErrorKind::kAccessDenied)) << ReasonText(LastError());
        EXPECT_EQ(ReadBytes(current), kGame1);
        EXPECT_FALSE(Exists(current + ".tmp"));
        EXPECT_EQ(ReadAll(reader), kGame1);
        EXPECT_TRUE(CloseFile(reader));
        rewritten = WriteFileInOneStep(current.c_str(), kGame2, true);
    } else {
        EXPECT_EQ(ReadAll(reader), kGame1);  // the file it opened, whole
        EXPECT_TRUE(CloseFile(reader));
    }
    EXPECT_TRUE(rewritten) << ReasonText(LastError());
    EXPECT_EQ(ReadBytes(current), kGame2);

    // Removed while read; Windows may keep the name (delete-pending) until the reader closes.
    reader = OpenReader(current);
    ASSERT_TRUE(reader.IsValid());
    EXPECT_TRUE(RemoveFile(current.c_str())) << ReasonText(LastError());
    EXPECT_EQ(ReadAll(reader), kGame2);
    EXPECT_TRUE(CloseFile(reader));
    EXPECT_FALSE(Exists(current));

    // Nor does it make the file again.
    EXPECT_FALSE(OpenFile(current.c_str(), kRead, Share::kAll, Disposition::kOpenAlways).IsValid());
    EXPECT_FALSE(Exists(current));

    std::string pgn = dir / "chessrec.000.pgn";
    WriteBytes(pgn, kGame1);
    reader = OpenReader(pgn);
    ASSERT_TRUE(reader.IsValid());
    std::uint32_t saved = SavePgnText(pgn.c_str(), kGame2);
    if (kWindowsSharing) {
        // Share mode 0 excludes every other handle: the save fails, and leaves the file as it
        // was, for as long as the reader holds it.
        EXPECT_EQ(saved, kSaveFailed);
        EXPECT_EQ(ReadBytes(pgn), kGame1);
        FileHandle unshared =
            OpenFile(pgn.c_str(), kReadWrite, Share::kNone, Disposition::kOpenExisting);
        EXPECT_FALSE(unshared.IsValid());
        EXPECT_TRUE(IsError(LastError(), ErrorKind::kSharingViolation));
        EXPECT_TRUE(CloseFile(reader));
        saved = SavePgnText(pgn.c_str(), kGame2);
    }
    EXPECT_EQ(saved, 0u);
    EXPECT_EQ(ReadBytes(pgn), std::string(kGame1) + "\r\n" + kGame2);
    EXPECT_TRUE(CloseFile(reader));

    // While the recorder holds its file unshared, POSIX lets the reader in (it may read a
    // save half done), Windows does not.
    FileHandle recorder =
        OpenFile(pgn.c_str(), kReadWrite, Share::kNone, Disposition::kOpenExisting);
    ASSERT_TRUE(recorder.IsValid());
    reader = OpenReader(pgn);
    EXPECT_EQ(reader.IsValid(), !kWindowsSharing);
    CloseFile(reader);
    CloseFile(recorder);
}

// A reader that holds a file for a moment only, as pgnlive does, makes no write of the game
// in progress nor any save fail: what Windows refuses while it holds the file is tried again
// until it has let go.
TEST_F(FolderTest, AReaderThatLetsGoSoonMakesNoWriteNorSaveFail) {
    const std::string current = dir / "chessrec.000.current.pgn";
    const std::string pgn = dir / "chessrec.000.pgn";
    for (const std::string& path : {current, pgn}) {
        WriteBytes(path, kGame1);
        FileHandle reader = OpenReader(path);
        ASSERT_TRUE(reader.IsValid()) << ReasonText(LastError());
        std::thread letGo([&reader] {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            CloseFile(reader);
        });
        if (path == current) {
            EXPECT_TRUE(WriteFileInOneStep(path.c_str(), kGame2, true)) << ReasonText(LastError());
        } else {
            EXPECT_EQ(SavePgnText(path.c_str(), kGame2), 0u) << ReasonText(LastError());
        }
        letGo.join();
    }
    EXPECT_EQ(ReadBytes(current), kGame2);
    EXPECT_EQ(ReadBytes(pgn), std::string(kGame1) + "\r\n" + kGame2);
}

TEST_F(FolderTest, ChangesAreReportedUnderTheirIds) {
    std::string a = dir / "a";
    std::string b = dir / "b";
    std::string quiet = dir / "quiet";
    for (const std::string& folder : {a, b, quiet})
        std::filesystem::create_directory(folder);
    ASSERT_TRUE(WatchFolder(watch, a.c_str(), 1)) << ReasonText(LastError());
    ASSERT_TRUE(WatchFolder(watch, b.c_str(), 2)) << ReasonText(LastError());
    std::vector<int> changed{9};
    std::vector<int> gone{9};
    EXPECT_TRUE(WaitForFolderChanges(watch, 50, &changed, &gone));
    EXPECT_EQ(changed, Ids{});
    EXPECT_EQ(gone, Ids{});

    // A game in progress renamed into a; a folder not watched changes too.
    WriteBytes(InFolder(quiet, "x.pgn"), kGame1);
    ASSERT_TRUE(WriteFileInOneStep(InFolder(a, "g.current.pgn").c_str(), kGame1, true));
    Report report = Gather(watch);
    EXPECT_EQ(report.changed, Ids{1});
    EXPECT_EQ(report.gone, Ids{});

    // A burst of writes to a file that stays open, as a log is written, is one change.
    FileHandle log =
        OpenFile(InFolder(b, "g.log").c_str(), kWrite, Share::kRead, Disposition::kCreateAlways);
    ASSERT_TRUE(log.IsValid());
    for (int i = 0; i < 50; ++i) {
        std::uint32_t written = 0;
        ASSERT_TRUE(WriteFile(log, "90 18 34\n", 9, &written));
    }
    report = Gather(watch);
    EXPECT_EQ(report.changed, Ids{2});
    EXPECT_EQ(report.waits, 1);
    EXPECT_TRUE(CloseFile(log));
    Gather(watch, 300);  // the close is a change on POSIX

    // Both at once; then an id watched again follows its new folder only.
    WriteBytes(InFolder(a, "g.pgn"), kGame1);
    WriteBytes(InFolder(b, "g.pgn"), kGame1);
    EXPECT_EQ(Gather(watch).changed, (Ids{1, 2}));
    ASSERT_TRUE(WatchFolder(watch, quiet.c_str(), 2));
    WriteBytes(InFolder(b, "g.pgn"), kGame2);
    WriteBytes(InFolder(quiet, "x.pgn"), kGame2);
    EXPECT_EQ(Gather(watch).changed, Ids{2});
    UnwatchFolder(watch, 2);
    WriteBytes(InFolder(quiet, "x.pgn"), kGame1);
    EXPECT_EQ(Gather(watch, 300).changed, Ids{});

    // A folder that cannot be watched.
    EXPECT_FALSE(WatchFolder(watch, (dir / "missing").c_str(), 3));
    EXPECT_TRUE(IsError(LastError(), ErrorKind::kNotFound)) << ReasonText(LastError());
    EXPECT_FALSE(WatchFolder(watch, InFolder(a, "g.pgn").c_str(), 3));
}

// A watched folder removed or renamed is gone: no longer watched, and no longer held (a
// recorder may make it again at once).
TEST_F(FolderTest, RemovedAndRenamedFoldersAreGone) {
    std::string removed = dir / "removed";
    std::string renamed = dir / "renamed";
    std::string kept = dir / "kept";
    for (const std::string& folder : {removed, renamed, kept}) {
        std::filesystem::create_directory(folder);
    }
    WriteBytes(InFolder(removed, "g.pgn"), kGame1);
    ASSERT_TRUE(WatchFolder(watch, removed.c_str(), 1));
    ASSERT_TRUE(WatchFolder(watch, renamed.c_str(), 2));
    ASSERT_TRUE(WatchFolder(watch, kept.c_str(), 3));

    std::filesystem::remove_all(removed);
    std::filesystem::rename(renamed, dir / "renamed.old");
    Report report = Gather(watch);
    std::error_code error;
    if (std::filesystem::exists(removed, error)) {
        // Wine removes a folder only once its last handle is closed, and tells no one before:
        // the watch cannot see the removal, and holds the folder until it lets it go.
        EXPECT_EQ(report.gone, Ids{2});
        UnwatchFolder(watch, 1);
        EXPECT_FALSE(Exists(removed));
    } else {
        EXPECT_EQ(report.gone, (Ids{1, 2}));
    }
    EXPECT_TRUE(std::filesystem::create_directory(removed));
    WriteBytes(InFolder(removed, "g.pgn"), kGame2);
    WriteBytes(InFolder(dir / "renamed.old", "g.pgn"), kGame2);
    WriteBytes(InFolder(kept, "g.pgn"), kGame2);
    report = Gather(watch);
    EXPECT_EQ(report.changed, Ids{3});
    EXPECT_EQ(report.gone, Ids{});

    // Watched again, the new folder is followed under the old id.
    ASSERT_TRUE(WatchFolder(watch, removed.c_str(), 1));
    WriteBytes(InFolder(removed, "g.pgn"), kGame1);
    EXPECT_EQ(Gather(watch).changed, Ids{1});
}

// One thread waits without a time limit; another adds a folder while it waits, and wakes it.
TEST_F(FolderTest, AnotherThreadWatchesAndWakes) {
    std::promise<Ids> first;
    std::promise<Ids> all;
    std::thread waiter([&] {
        Ids seen;
        std::vector<int> changed;
        std::vector<int> gone;
        // Without a time limit, only the wake answers with nothing.
        while (WaitForFolderChanges(watch, kNoTimeLimit, &changed, &gone) &&
               !(changed.empty() && gone.empty())) {
            if (seen.empty()) first.set_value(changed);
            Merge(&seen, changed);
            Merge(&seen, gone);
        }
        all.set_value(seen);
    });
    auto firstChanges = first.get_future();
    auto allChanges = all.get_future();
    ASSERT_TRUE(WatchFolder(watch, dir.Path().c_str(), 7));
    WriteBytes(dir / "g.pgn", kGame1);
    ASSERT_EQ(firstChanges.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(firstChanges.get(), Ids{7});
    ASSERT_TRUE(WakeFolderWatch(watch));
    ASSERT_EQ(allChanges.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(allChanges.get(), Ids{7});
    waiter.join();

    // A wake while nobody waits ends the next wait at once; one that comes with changes,
    // the wait after them.
    std::vector<int> changed;
    std::vector<int> gone;
    ASSERT_TRUE(WakeFolderWatch(watch));
    EXPECT_TRUE(WaitForFolderChanges(watch, kNoTimeLimit, &changed, &gone));
    EXPECT_EQ(changed, Ids{});
    WriteBytes(dir / "h.pgn", kGame2);
    ASSERT_TRUE(WakeFolderWatch(watch));
    ASSERT_TRUE(WaitForFolderChanges(watch, kNoTimeLimit, &changed, &gone));
    EXPECT_EQ(changed, Ids{7});
    EXPECT_TRUE(WaitForFolderChanges(watch, kNoTimeLimit, &changed, &gone));
    EXPECT_EQ(changed, Ids{});
}

TEST_F(FolderTest, ListsAndDescribesWithoutOpening) {
    WriteBytes(dir / "a.pgn", kGame1);
    WriteBytes(dir / "a.pgn.tmp", "");
    std::filesystem::create_directory(dir / "sub");
    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(ListFolder(dir.Path().c_str(), &names)) << ReasonText(LastError());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.pgn", "a.pgn.tmp", "sub"}));
    ASSERT_TRUE(ListFolder((dir / "sub").c_str(), &names));
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(ListFolder((dir / "none").c_str(), &names));
    EXPECT_TRUE(IsError(LastError(), ErrorKind::kNotFound));

    FileInfo info;
    ASSERT_TRUE(GetFileInfo((dir / "a.pgn").c_str(), &info));
    EXPECT_EQ(info.size, sizeof kGame1 - 1);
    EXPECT_FALSE(info.isFolder);
    EXPECT_NE(info.modified, 0);
    // Asking needs no sharing: it works while the recorder holds the file unshared.
    FileHandle recorder =
        OpenFile((dir / "a.pgn").c_str(), kReadWrite, Share::kNone, Disposition::kOpenExisting);
    ASSERT_TRUE(recorder.IsValid());
    EXPECT_TRUE(GetFileInfo((dir / "a.pgn").c_str(), &info)) << ReasonText(LastError());
    CloseFile(recorder);
    ASSERT_TRUE(GetFileInfo((dir / "sub").c_str(), &info));
    EXPECT_TRUE(info.isFolder);
    EXPECT_EQ(info.size, 0u);
    EXPECT_FALSE(GetFileInfo((dir / "none").c_str(), &info));
    EXPECT_TRUE(IsError(LastError(), ErrorKind::kNotFound));
}
