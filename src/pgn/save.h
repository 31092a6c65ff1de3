// Saving games into the session's PGN file.
//
// The first save creates the file (save mode 0). A save into an existing file appends
// the game through a backup copy, path + ".bak" (save mode 2): "\r\n" goes to the end of
// the file, the file is copied to the backup, and the file is rewritten from the backup
// with the new game's text between its start and end offsets; the backup is then
// deleted. Games are thus separated by two empty lines.
//
// Every write, copy, seek, cut and close of a save is checked. A save that fails shows
// the error box ("Unable to save game in '<path>'" and the system's text), answers
// kSaveFailed and leaves the game out of the file object, and leaves every game saved
// before it in the file, byte for byte (the "\r\n" written before the backup may stay).
// A rewrite that fails is undone from the backup; when even that fails, the backup is
// kept.
//
// Saves are not thread-safe (the writer's output column is process-wide); callers run
// one at a time.
#pragma once

#include <cstdint>

#include "game/partie.h"
#include "pgn/fichier.h"
#include "platform/platform.h"

constexpr std::uint32_t kSaveFailed = 0x80004005;

// Saves the session's current game into file's path. Answers 0, and file then owns the
// game, or kSaveFailed.
std::uint32_t SaveGame(CFichier& file);

// Saves the session's current game through a file object of its own and lets go of it:
// a saved game is freed with that file object, one that could not be saved is freed
// here. The session then has no current game. Answers SaveGame's result.
std::uint32_t SaveAndReleaseCurrentGame();

// Writes game into its file name in its save mode. Answers 0 or kSaveFailed; on success
// the game is marked stored and not modified.
std::uint32_t StoreGame(CPartie& game);

// Copies count bytes (count -1: up to the end of from) from from's position to to's.
// Answers 1, or 0 when a read or write failed.
int CopyBlocks(std::int64_t count, platform::FileHandle to, platform::FileHandle from);

// Shows the save failure of fileName with the calling thread's last error.
void ReportSaveError(const char* fileName);
