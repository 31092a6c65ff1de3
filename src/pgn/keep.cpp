#include "pgn/keep.h"

#include <cstdint>
#include <string>

#include "pgn/save.h"
#include "pgn/writer.h"

namespace {

using platform::FileHandle;

std::string Suffixed(const char* path, const char* suffix) {
    return std::string(path) + suffix;
}

// Reads the file at path from offset (or, with fromEnd, the last offset bytes) to its end.
// False when it cannot be read; *missing tells whether it does not exist.
bool ReadTail(const char* path, std::uint64_t offset, bool fromEnd, std::string* bytes,
              bool* missing = nullptr) {
    bytes->clear();
    FileHandle file = platform::OpenFile(path, platform::kRead, platform::Share::kRead,
                                         platform::Disposition::kOpenExisting);
    if (missing) {
        *missing = !file.IsValid() &&
                   platform::IsError(platform::LastError(), platform::ErrorKind::kNotFound);
    }
    if (!file.IsValid()) return false;
    std::uint64_t size = 0;
    bool ok = platform::SetFilePointer(file, 0, platform::SeekFrom::kEnd, &size);
    std::uint64_t start = fromEnd ? (size > offset ? size - offset : 0) : offset;
    if (ok && start < size) {
        bytes->resize(static_cast<std::size_t>(size - start));
        std::uint32_t read = 0;
        ok = platform::SetFilePointer(file, static_cast<std::int64_t>(start),
                                      platform::SeekFrom::kBegin, nullptr) &&
             platform::ReadFile(file, bytes->data(), static_cast<std::uint32_t>(bytes->size()),
                                &read) &&
             read == bytes->size();
    }
    platform::ErrorCode code = platform::LastError();
    platform::CloseFile(file);
    platform::SetLastError(code);
    return ok;
}

bool ReadWhole(const char* path, std::string* bytes, bool* missing = nullptr) {
    return ReadTail(path, 0, false, bytes, missing);
}

// Whether the PGN file must be put back from its backup: it is the backup followed by a
// beginning of game short of the whole, or it does not begin with the backup.
bool CutSave(const std::string& pgn, const std::string& backup, const std::string& game) {
    if (pgn.size() < backup.size() || pgn.compare(0, backup.size(), backup) != 0) return true;
    std::size_t rest = pgn.size() - backup.size();
    return rest < game.size() && game.compare(0, rest, pgn, backup.size(), rest) == 0;
}

Recovery Failed(const char* pgnPath) {
    ReportSaveError(pgnPath);
    return Recovery::kFailed;
}

// Puts the PGN file back from a backup that a cut save left, or removes a stale backup.
bool SettleBackup(const char* pgnPath, const std::string& game) {
    std::string backupName = Suffixed(pgnPath, ".bak");
    std::string backup;
    bool missing = false;
    if (!ReadWhole(backupName.c_str(), &backup, &missing)) return missing;
    std::string pgn;
    if (!ReadWhole(pgnPath, &pgn, &missing) && !missing) return false;
    if (CutSave(pgn, backup, game)) {
        return platform::RenameFileOver(backupName.c_str(), pgnPath) &&
               platform::FlushFolderOf(pgnPath);
    }
    return platform::RemoveFile(backupName.c_str());
}

}  // namespace

bool WriteGameFile(CPartie& game, const char* path, const std::string& before) {
    // Gathered first, written with one call: a board sends a move every few seconds, and
    // this must cost it next to nothing.
    std::string text = GameText(game);
    if (!before.empty()) text.insert(0, before + "\r\n");
    return WriteFileInOneStep(path, text, true);
}

Recovery RecoverGame(const char* currentPath, const char* pgnPath) {
    std::string game;
    bool missing = false;
    if (!ReadWhole(currentPath, &game, &missing)) {
        return missing ? Recovery::kNothing : Failed(pgnPath);
    }
    Recovery result = Recovery::kNothing;
    if (!game.empty()) {
        if (!SettleBackup(pgnPath, game)) return Failed(pgnPath);
        std::string tail;
        if (!ReadTail(pgnPath, game.size(), true, &tail, &missing) && !missing) {
            return Failed(pgnPath);
        }
        if (tail == game) {
            result = Recovery::kAlreadySaved;
        } else if (SavePgnText(pgnPath, game) == 0) {
            result = Recovery::kRecovered;
        } else {
            return Recovery::kFailed;  // the save has said why
        }
    }
    platform::RemoveFile(currentPath);
    // What cut writes and saves may have left.
    for (const std::string& leftover : {Suffixed(currentPath, ".tmp"), Suffixed(pgnPath, ".tmp"),
                                        Suffixed(pgnPath, ".bak.tmp")}) {
        platform::RemoveFile(leftover.c_str());
    }
    return result;
}
