// The game in progress on disk. A live session rewrites it after every change, whole, in
// the layout of a saved game, so that a recorder that is killed loses nothing: the next
// recorder puts it into that session's PGN file.
#pragma once

#include <string>

#include "game/partie.h"

// Writes game's PGN (WritePGN) into path in one step (WriteFileInOneStep, replacing the
// file). Games given in before (their PGN, as saves separate them) come first, with the
// empty line that a save puts between two games.
bool WriteGameFile(CPartie& game, const char* path, const std::string& before = {});

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
