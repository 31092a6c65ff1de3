// The game in progress on disk. A live session rewrites it after every change, whole, in
// the layout of a saved game, so that a recorder that is killed loses nothing: the next
// recorder puts it into that session's PGN file.
#pragma once

#include "game/partie.h"

// Writes game's PGN (WritePGN) into path in one step: the text goes to path + ".tmp", is
// flushed and renamed over path, and the folder is flushed. At every moment path holds the
// game as it was before or as it is now, whole. Answers false, with LastError() set, when a
// step failed; path is then unchanged and the temporary file removed (unless only the
// folder could not be flushed: path then holds the new game).
bool WriteGameFile(CPartie& game, const char* path);

enum class Recovery {
    kNothing,       // no game at currentPath (or an empty file, now removed)
    kRecovered,     // the game was appended to the PGN file; currentPath is removed
    kAlreadySaved,  // the PGN file ended with the game already; currentPath is removed
    kFailed,        // reported (the save's error line); currentPath stays for another try
};

// Puts the game in progress of a session that died, the file at currentPath, into that
// session's PGN file at pgnPath. The caller holds the session's lock.
//
// A backup pgnPath + ".bak" means that a save was cut, or that a save could not delete
// it. The file is put back from the backup when it is that backup followed by a beginning
// of the game in progress short of the whole (what a cut save leaves), or when it does not
// begin with the backup at all; otherwise the backup is stale and removed. The game is
// then appended with the ordinary save, unless the file already ends with exactly its
// bytes: a session killed after a save and before it rewrote the game in progress. (A
// game in progress whose whole text equals the game saved before it, such as two games
// without moves, is taken for that game and not appended again.)
Recovery RecoverGame(const char* currentPath, const char* pgnPath);
