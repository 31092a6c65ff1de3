#include "pgn/save.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "pgn/writer.h"
#include "session/session.h"

namespace {

using platform::FileHandle;

constexpr std::uint32_t kBlock = 512;

// Room for a path, ".bak.tmp" and the terminator.
constexpr std::size_t kSideNameSize = platform::kMaxPath + 8;

// Writes all of text at the file's position.
bool WriteText(const std::string& text, FileHandle file) {
    std::uint32_t written = 0;
    return platform::WriteFile(file, text.data(), static_cast<std::uint32_t>(text.size()),
                               &written);
}

// Reports a failure whose error code was taken when it happened: the clean-up since may
// have changed the thread's last error.
std::uint32_t Fail(const char* fileName, platform::ErrorCode code) {
    platform::SetLastError(code);
    ReportSaveError(fileName);
    return kSaveFailed;
}

// Puts the file back as the backup holds it: the backup's bytes from offset on are
// copied back to the same place, and the file is cut at the backup's size. For an
// append this is only the cut. Answers whether it worked.
bool Restore(const char* fileName, const char* backupName, FileHandle& file, FileHandle& backup,
             std::uint32_t offset) {
    if (!file.IsValid()) {
        file = platform::OpenFile(fileName, platform::kWrite, platform::Share::kNone,
                                  platform::Disposition::kOpenExisting);
        if (!file.IsValid()) return false;
    }
    if (!backup.IsValid()) {
        backup = platform::OpenFile(backupName, platform::kRead, platform::Share::kNone,
                                    platform::Disposition::kOpenExisting);
        if (!backup.IsValid()) return false;
    }
    std::uint64_t size = 0;
    if (!platform::SetFilePointer(backup, 0, platform::SeekFrom::kEnd, &size)) return false;
    if (size > offset) {
        if (!platform::SetFilePointer(backup, offset, platform::SeekFrom::kBegin, nullptr) ||
            !platform::SetFilePointer(file, offset, platform::SeekFrom::kBegin, nullptr) ||
            !CopyBlocks(static_cast<std::int64_t>(size - offset), file, backup))
            return false;
    }
    if (!platform::SetFilePointer(file, static_cast<std::int64_t>(size), platform::SeekFrom::kBegin,
                                  nullptr) ||
        !platform::SetEndOfFile(file) || !platform::FlushFile(file))
        return false;
    return platform::CloseFile(file);
}

// Save mode 0: the file is new. It is written in one step, and only if no file has
// appeared at its name since: a save cut at any point leaves no part of a file behind, and
// never touches a file it did not make. When the file is there but its folder cannot be
// flushed, the save fails: the file goes again, or the game would be in it twice once the
// save is tried again. (Only when even the removal fails does the file stay, and the save
// counts: the game is in it, whole and on the disk, and its name most likely too.)
std::uint32_t StoreNew(CPartie& game, const std::string& text) {
    bool renamed = false;
    if (WriteFileInOneStep(game.fileName, text, false, &renamed)) return 0;
    const platform::ErrorCode code = platform::LastError();
    if (renamed && !platform::RemoveFile(game.fileName)) return 0;
    return Fail(game.fileName, code);
}

// Save mode 2: the file is rewritten through its backup. The backup is copied under a
// temporary name, flushed, and renamed: whenever a backup exists it is whole, and a backup
// found after a crash is the file as it was before a save that may have been cut. The
// file is flushed before the backup goes.
std::uint32_t StoreRewrite(CPartie& game, const std::string& text) {
    char backupName[kSideNameSize];
    char backupTemp[kSideNameSize];
    std::snprintf(backupName, sizeof backupName, "%s.bak", game.fileName);
    std::snprintf(backupTemp, sizeof backupTemp, "%s.bak.tmp", game.fileName);

    if (!platform::CopyFileOver(game.fileName, backupTemp) ||
        !platform::RenameFileOver(backupTemp, backupName)) {
        // What the copy left is no backup.
        platform::ErrorCode code = platform::LastError();
        platform::RemoveFile(backupTemp);
        return Fail(game.fileName, code);
    }
    if (!platform::FlushFolderOf(backupName)) {
        platform::ErrorCode code = platform::LastError();
        platform::RemoveFile(backupName);
        return Fail(game.fileName, code);
    }
    FileHandle backup = platform::OpenFile(backupName, platform::kRead, platform::Share::kNone,
                                           platform::Disposition::kOpenExisting);
    if (!backup.IsValid()) return Fail(game.fileName, platform::LastError());
    FileHandle file = platform::OpenFile(game.fileName, platform::kWrite, platform::Share::kNone,
                                         platform::Disposition::kOpenAlways);
    if (!file.IsValid()) {
        platform::ErrorCode code = platform::LastError();
        platform::CloseFile(backup);
        return Fail(game.fileName, code);
    }

    // The old contents before the game, the game, then the old contents after it.
    std::uint64_t newEnd = 0;
    bool ok =
        CopyBlocks(game.startOffset, file, backup) && WriteText(text, file) &&
        platform::SetFilePointer(file, 0, platform::SeekFrom::kCurrent, &newEnd) &&
        platform::SetFilePointer(backup, game.endOffset, platform::SeekFrom::kBegin, nullptr) &&
        CopyBlocks(-1, file, backup) && platform::SetEndOfFile(file) && platform::FlushFile(file) &&
        platform::CloseFile(file);
    if (!ok) {
        platform::ErrorCode code = platform::LastError();
        if (Restore(game.fileName, backupName, file, backup, game.startOffset)) {
            platform::CloseFile(backup);
            platform::RemoveFile(backupName);
        } else {
            // The backup holds the file as it was: it stays for the user.
            platform::CloseFile(file);
            platform::CloseFile(backup);
        }
        return Fail(game.fileName, code);
    }
    // The file is complete and on the disk: the backup only read, and a backup left behind
    // is replaced by the next save's copy.
    platform::CloseFile(backup);
    platform::RemoveFile(backupName);

    if (game.fichier) {
        game.fichier->GamesMoved(
            &game, static_cast<std::int64_t>(newEnd) - static_cast<std::int64_t>(game.endOffset));
    }
    game.endOffset = static_cast<std::uint32_t>(newEnd);
    return 0;
}

// Writes the game's text into its file name in its save mode. Answers 0 or kSaveFailed; on
// success the game is marked stored and not modified.
std::uint32_t StoreGame(CPartie& game, const std::string& text) {
    std::uint32_t result = game.saveMode == 0 ? StoreNew(game, text) : StoreRewrite(game, text);
    if (result != 0) return result;
    game.stored = 1;
    game.modified = 0;
    return 0;
}

// SaveGame's steps for game, whose PGN is text.
std::uint32_t SaveInto(CPartie* game, CFichier& file, const std::string& text) {
    game->fichier = &file;
    std::snprintf(game->fileName, sizeof game->fileName, "%s", file.path);

    if (!platform::FileExists(game->fileName)) {
        game->endOffset = 0;
        game->saveMode = 0;
    } else {
        FileHandle pgn =
            platform::OpenFile(game->fileName, platform::kReadWrite, platform::Share::kNone,
                               platform::Disposition::kOpenExisting);
        if (!pgn.IsValid()) return Fail(game->fileName, platform::LastError());
        // The game goes after the old contents (which end in "\r\n\r\n") and one more
        // "\r\n": two empty lines between games.
        std::uint64_t size = 0;
        if (!platform::SetFilePointer(pgn, 0, platform::SeekFrom::kEnd, &size)) {
            platform::ErrorCode code = platform::LastError();
            platform::CloseFile(pgn);
            return Fail(game->fileName, code);
        }
        std::uint32_t written = 0;
        if (!platform::WriteFile(pgn, "\r\n", 2, &written)) {
            // Take back whatever reached the file.
            platform::ErrorCode code = platform::LastError();
            if (platform::SetFilePointer(pgn, static_cast<std::int64_t>(size),
                                         platform::SeekFrom::kBegin, nullptr))
                platform::SetEndOfFile(pgn);
            platform::CloseFile(pgn);
            return Fail(game->fileName, code);
        }
        if (!platform::CloseFile(pgn)) return Fail(game->fileName, platform::LastError());
        game->startOffset = game->endOffset = static_cast<std::uint32_t>(size + written);
        game->saveMode = 2;
    }

    std::uint32_t result = StoreGame(*game, text);
    if (result == 0) file.AddGame(game, 0);
    return result;
}

}  // namespace

std::uint32_t SaveGame(CFichier& file) {
    CPartie* game = TheSession().currentGame;
    if (!game) return kSaveFailed;
    return SaveGame(file, game, GameText(*game));
}

std::uint32_t SaveGame(CFichier& file, CPartie* game, const std::string& text) {
    return SaveInto(game, file, text);
}

std::uint32_t SavePgnText(const char* pgnPath, const std::string& text) {
    CFichier file(pgnPath);
    auto* carrier = new CPartie;
    std::uint32_t result = SaveInto(carrier, file, text);
    if (result != 0) delete carrier;
    return result;
}

bool WriteFileInOneStep(const char* path, const std::string& text, bool replace, bool* renamed) {
    if (renamed) *renamed = false;
    std::string temp = std::string(path) + ".tmp";
    FileHandle file = platform::OpenFile(temp.c_str(), platform::kWrite, platform::Share::kNone,
                                         platform::Disposition::kCreateAlways);
    if (!file.IsValid()) return false;
    bool ok = WriteText(text, file) && platform::FlushFile(file);
    platform::ErrorCode code = platform::LastError();
    if (!platform::CloseFile(file) && ok) {
        ok = false;
        code = platform::LastError();
    }
    if (ok && !(replace ? platform::RenameFileOver(temp.c_str(), path)
                        : platform::RenameFileNoReplace(temp.c_str(), path))) {
        ok = false;
        code = platform::LastError();
    }
    if (!ok) {
        platform::RemoveFile(temp.c_str());
        platform::SetLastError(code);
        return false;
    }
    // The file holds the text whole; only its name may not yet be on the disk.
    if (renamed) *renamed = true;
    return platform::FlushFolderOf(path);
}

int CopyBlocks(std::int64_t count, FileHandle to, FileHandle from) {
    char block[kBlock];
    const bool toEnd = count < 0;
    std::int64_t copied = 0;
    for (;;) {
        if (!toEnd && copied >= count) return 1;
        std::uint32_t ask = kBlock;
        if (!toEnd && count - copied < kBlock) ask = static_cast<std::uint32_t>(count - copied);
        std::uint32_t read = 0;
        if (!platform::ReadFile(from, block, ask, &read)) return 0;
        if (read == 0) return 1;
        std::uint32_t written = 0;
        if (!platform::WriteFile(to, block, read, &written) || written != read) return 0;
        copied += read;
        if (toEnd && read < ask) return 1;
    }
}

void ReportSaveError(const char* fileName) {
    platform::ErrorCode code = platform::LastError();
    char caption[512];
    std::snprintf(caption, sizeof caption, "Unable to save game in '%s'", fileName);
    ShowErrorBox(nullptr, code, caption);
}
