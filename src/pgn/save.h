// Saving games into the session's PGN file.
//
// The first save creates the file (save mode 0): the game is written to path + ".tmp",
// flushed, and renamed to path only if path still does not exist. A save into an existing
// file appends the game through a backup copy, path + ".bak" (save mode 2): "\r\n" goes to
// the end of the file, the file is copied to path + ".bak.tmp", flushed and renamed to the
// backup, and the file is rewritten from the backup with the new game's text between its
// start and end offsets, and flushed; the backup is then deleted. Games are thus separated
// by two empty lines. A save answers success only once the game is on the disk.
//
// Crashes: at every moment, the file is whole, or the backup exists and is whole. A save
// cut in mode 0 leaves at most a temporary file; one cut in mode 2 leaves the backup,
// from which the file is put back (see pgn/game_in_progress.h).
//
// Every write, copy, seek, cut, flush, rename and close of a save is checked. A save that
// fails shows the error box ("Unable to save game in '<path>'" and the system's text),
// answers kSaveFailed and leaves the game out of the file object, and leaves the file as it
// was, every game saved before it byte for byte (the "\r\n" written before the backup may
// stay): a save declared failed never leaves its game behind, so a game that is saved again
// later is in the file once. A rewrite that fails is undone from the backup; when even that
// fails, the backup is kept. A first save whose folder cannot be flushed removes the file it
// made.
//
// Saves of one file run one at a time (the session lock sees to it).
#pragma once

#include <cstdint>
#include <string>

#include "game/partie.h"
#include "pgn/fichier.h"
#include "platform/platform.h"

constexpr std::uint32_t kSaveFailed = 0x80004005;

// Saves the session's current game into file's path. Answers 0, and file then owns the
// game, or kSaveFailed.
std::uint32_t SaveGame(CFichier& file);

// The same for game, whose PGN (as WritePGN writes it) is text: a game rendered once for
// every file it goes to.
std::uint32_t SaveGame(CFichier& file, CPartie* game, const std::string& text);

// Saves text, the PGN of one game as WritePGN writes it, into the PGN file at pgnPath with
// the steps of SaveGame (the file is created when absent). Answers 0 or kSaveFailed.
std::uint32_t SavePgnText(const char* pgnPath, const std::string& text);

// Writes text into the file at path in one step: it goes to path + ".tmp", is flushed, and
// is renamed to path (over a file there when replace is true; otherwise only while path
// does not exist), and the folder is flushed. At every moment path holds its old contents
// or the new, whole. Answers false, with LastError() set, when a step failed; path is then
// unchanged and the temporary file removed, unless only the folder could not be flushed:
// path then holds the new text. *renamed (when given) tells whether path holds it.
bool WriteFileInOneStep(const char* path, const std::string& text, bool replace,
                        bool* renamed = nullptr);

// Copies count bytes (count -1: up to the end of from) from from's position to to's.
// Answers 1, or 0 when a read or write failed.
int CopyBlocks(std::int64_t count, platform::FileHandle to, platform::FileHandle from);

// Shows the save failure of fileName with the calling thread's last error.
void ReportSaveError(const char* fileName);
