#include "pgn/game_in_progress.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "game/partie.h"
#include "pgn/fichier.h"
#include "pgn/save.h"
#include "pgn/writer.h"
#include "platform/platform.h"
#include "session/console.h"
#include "session/log.h"
#include "session/session.h"

namespace {

using platform::FileHandle;

// Two games of one file are separated as saves separate them: by one more empty line. A
// game's text ends in "\r\n\r\n" and begins with its first tag.
constexpr char kGameEnd[] = "\r\n\r\n";
constexpr char kSeparator[] = "\r\n";
constexpr char kBetweenGames[] = "\r\n\r\n\r\n[";

std::string Suffixed(const char* path, const char* suffix) {
    return std::string(path) + suffix;
}

bool EndsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// Reads the whole file at path. False when it cannot be read; *missing tells whether it
// does not exist.
bool ReadWhole(const char* path, std::string* bytes, bool* missing = nullptr) {
    bytes->clear();
    FileHandle file = platform::OpenFile(path, platform::kRead, platform::Share::kRead,
                                         platform::Disposition::kOpenExisting);
    if (missing) {
        *missing = !file.IsValid() &&
                   platform::IsError(platform::LastError(), platform::ErrorKind::kNotFound);
    }
    if (!file.IsValid()) return false;
    std::uint64_t size = 0;
    bool ok = platform::SetFilePointer(file, 0, platform::SeekFrom::kEnd, &size) &&
              platform::SetFilePointer(file, 0, platform::SeekFrom::kBegin, nullptr);
    if (ok && size > 0) {
        bytes->resize(static_cast<std::size_t>(size));
        std::uint32_t read = 0;
        ok = platform::ReadFile(file, bytes->data(), static_cast<std::uint32_t>(bytes->size()),
                                &read) &&
             read == bytes->size();
    }
    platform::ErrorCode code = platform::LastError();
    platform::CloseFile(file);
    platform::SetLastError(code);
    return ok;
}

// The PGN of the session's unsaved games, then game's when given.
std::string InProgressText(CPartie* game) {
    std::string text = TheSession().unsaved;
    if (game) {
        if (!text.empty()) text += kSeparator;
        text += GameText(*game);
    }
    return text;
}

// Writes text as the game in progress. The first failure of a run is logged and said at
// once: from then on a move that is shown is not on the disk. A write that works again is
// said too.
void WriteGameInProgress(const std::string& text) {
    Session& session = TheSession();
    const char* path = session.gameInProgressPath;
    if (WriteFileInOneStep(path, text, true)) {
        if (session.gameInProgressFailing) {
            session.gameInProgressFailing = false;
            Say("the game in progress is kept in %s again", path);
        }
        return;
    }
    if (session.gameInProgressFailing) return;
    const platform::ErrorCode code = platform::LastError();
    session.gameInProgressFailing = true;
    SystemErrorReport("WriteFile(game in progress)", code);
    Say("cannot keep the game in progress in %s: %s (tried again at every move; until then, "
        "the moves shown are not on the disk)",
        path, platform::ReasonText(code).c_str());
}

// Saves the current game into the session's PGN file through a file object of its own,
// and lets go of it: a saved game goes with that file object, one that could not be saved
// is freed here, and kept ahead of the next game when the game in progress is kept. The
// session then has no current game, and counts the save.
std::uint32_t SaveCurrentGame() {
    Session& session = TheSession();
    CPartie* game = session.currentGame;
    if (!game) return kSaveFailed;
    // Rendered once: the same text goes to the PGN file, or stays in the game in progress.
    const std::string text = GameText(*game);
    std::uint32_t result;
    {
        CFichier file;
        result = SaveGame(file, game, text);
        if (result != 0) delete game;
        session.currentGame = nullptr;
    }
    ++(result == 0 ? session.savedGames : session.failedSaves);
    if (result != 0 && session.gameInProgressPath[0] != '\0') {
        if (!session.unsaved.empty()) session.unsaved += kSeparator;
        session.unsaved += text;
    }
    return result;
}

// Where the last game of a game-in-progress text begins.
std::size_t LastGameStart(const std::string& text) {
    std::size_t at = text.rfind(kBetweenGames);
    return at == std::string::npos ? 0 : at + sizeof kBetweenGames - 2;
}

// Whether what follows backup in the PGN file is the beginning of a save of one of these
// texts short of the whole (what a cut save leaves), or the file does not begin with the
// backup at all: the file must be put back from the backup.
bool CutSave(const std::string& pgn, const std::string& backup,
             std::initializer_list<std::string_view> saved) {
    if (pgn.size() < backup.size() || pgn.compare(0, backup.size(), backup) != 0) return true;
    const std::string_view rest = std::string_view(pgn).substr(backup.size());
    for (std::string_view text : saved) {
        if (rest.size() < text.size() && text.substr(0, rest.size()) == rest) return true;
    }
    return false;
}

Recovery Failed(const char* pgnPath) {
    ReportSaveError(pgnPath);
    return Recovery::kFailed;
}

// Puts the PGN file back from the backup that a cut save left, or removes a stale backup.
// cut decides, given the file and the backup.
template <typename Cut>
bool SettleBackup(const char* pgnPath, Cut cut) {
    const std::string backupName = Suffixed(pgnPath, ".bak");
    std::string backup;
    bool missing = false;
    if (!ReadWhole(backupName.c_str(), &backup, &missing)) return missing;
    std::string pgn;
    if (!ReadWhole(pgnPath, &pgn, &missing) && !missing) return false;
    if (cut(pgn, backup)) {
        return platform::RenameFileOver(backupName.c_str(), pgnPath) &&
               platform::FlushFolderOf(pgnPath);
    }
    return platform::RemoveFile(backupName.c_str());
}

// Whether the leftover at path holds only what elsewhere holds (found tells, given its
// bytes), and is gone. A leftover that cannot be read is left alone, and so is one found
// nowhere else.
template <typename Found>
bool RemoveIfElsewhere(const std::string& path, Found found) {
    std::string bytes;
    bool missing = false;
    if (!ReadWhole(path.c_str(), &bytes, &missing)) return missing;
    if (!bytes.empty() && !found(bytes)) return false;
    return platform::RemoveFile(path.c_str());
}

}  // namespace

void StartNewGame(CPosition*& current) {
    Session& session = TheSession();
    delete session.currentGame;
    session.currentGame = new CPartie;
    current = &session.currentGame->startingPosition;
}

void KeepGameInProgressAt(const char* path) {
    Session& session = TheSession();
    std::snprintf(session.gameInProgressPath, sizeof session.gameInProgressPath, "%s",
                  path ? path : "");
    session.gameInProgressFailing = false;
    session.unsaved.clear();
}

void KeepGameInProgress() {
    Session& session = TheSession();
    if (session.gameInProgressPath[0] == '\0' || !session.currentGame) return;
    WriteGameInProgress(InProgressText(session.currentGame));
}

void NextGame(CPosition*& current) {
    // Until the next game is written, the file holds the game just saved, which the next
    // start finds at the end of the PGN file already.
    SaveCurrentGame();
    StartNewGame(current);
    KeepGameInProgress();
}

std::uint32_t SaveGameAtEnd() {
    Session& session = TheSession();
    const std::uint32_t result = session.currentGame ? SaveCurrentGame() : 0;
    if (session.gameInProgressPath[0] == '\0') return result;
    if (session.unsaved.empty()) {
        platform::RemoveFile(session.gameInProgressPath);
    } else {
        WriteGameInProgress(session.unsaved);
    }
    // The session keeps nothing more: a second end (the control handler after the line
    // failed) finds nothing to do.
    session.gameInProgressPath[0] = '\0';
    return result;
}

bool DropGameInProgress() {
    Session& session = TheSession();
    const bool moved = session.currentGame && session.currentGame->startingPosition.continuation;
    delete session.currentGame;
    session.currentGame = nullptr;
    return moved;
}

Recovery RecoverGame(const char* currentPath, const char* pgnPath) {
    std::string games;
    bool missing = false;
    if (!ReadWhole(currentPath, &games, &missing)) {
        return missing ? Recovery::kNothing : Failed(pgnPath);
    }
    Recovery result = Recovery::kNothing;
    if (!games.empty()) {
        const std::size_t lastStart = LastGameStart(games);
        const std::string_view last = std::string_view(games).substr(lastStart);
        // A cut save was of the last game (the session's own), or of all of them (a
        // recovery's).
        if (!SettleBackup(pgnPath, [&](const std::string& pgn, const std::string& backup) {
                return CutSave(pgn, backup, {games, last});
            }))
            return Failed(pgnPath);
        std::string pgn;
        if (!ReadWhole(pgnPath, &pgn, &missing) && !missing) return Failed(pgnPath);
        std::string toSave = games;
        if (EndsWith(pgn, games)) {
            toSave.clear();
        } else if (lastStart > 0 && EndsWith(pgn, last)) {
            // Killed after the last game's save and before the game in progress was
            // rewritten: only the games before it are still to be saved.
            toSave.resize(lastStart - (sizeof kSeparator - 1));
        }
        if (toSave.empty()) {
            result = Recovery::kAlreadySaved;
        } else if (SavePgnText(pgnPath, toSave) == 0) {
            result = Recovery::kRecovered;
        } else {
            return Recovery::kFailed;  // the save has said why
        }
    }
    platform::RemoveFile(currentPath);
    return result;
}

std::vector<std::string> SettleLeftovers(const char* pgnPath, const char* currentPath) {
    std::vector<std::string> kept;
    // A backup without a game in progress (a replay's save that was cut): the file is put
    // back unless what follows the backup is a whole game.
    if (!platform::FileExists(currentPath)) {
        SettleBackup(pgnPath, [](const std::string& pgn, const std::string& backup) {
            return CutSave(pgn, backup, {}) || pgn.size() == backup.size() ||
                   !EndsWith(pgn, kGameEnd);
        });
    }
    std::string pgn;
    std::string current;
    ReadWhole(pgnPath, &pgn);
    ReadWhole(currentPath, &current);
    const std::string firstSave = Suffixed(pgnPath, ".tmp");
    if (!RemoveIfElsewhere(firstSave, [&](const std::string& bytes) {
            return pgn.find(bytes) != std::string::npos || current.find(bytes) != std::string::npos;
        }))
        kept.push_back(firstSave);
    std::string backup;
    ReadWhole(Suffixed(pgnPath, ".bak").c_str(), &backup);
    const std::string copy = Suffixed(pgnPath, ".bak.tmp");
    if (!RemoveIfElsewhere(copy, [&](const std::string& bytes) {
            return pgn.compare(0, bytes.size(), bytes) == 0 ||
                   backup.compare(0, bytes.size(), bytes) == 0;
        }))
        kept.push_back(copy);
    platform::RemoveFile(Suffixed(currentPath, ".tmp").c_str());
    return kept;
}
