// The game in progress: where every game of a session begins, how it is kept on disk while
// it is played, how it is saved when it ends, and how the next recorder saves what a dead
// session kept.
//
// A live session keeps its game in progress whole on disk, in NAME.NNN.current.pgn, after
// every change that a save would show (each accepted move, each new game; a take-back
// changes nothing a saved game holds): the session's games that could not be saved come
// first, then the game in progress, each as a save writes it and separated as saves
// separate them. The file is replaced in one step (WriteFileInOneStep), so a recorder that
// is killed loses nothing: the next recorder in that folder puts the file into that
// session's PGN file (RecoverGame). A write that fails is logged and said on standard error
// at once, with the file and the system's reason, once for a run of failures; it is tried
// again at every change, and said again when it works. A replay keeps nothing on disk.
//
// Everything here runs under the session lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chess/position.h"

// The session's next game: a new game becomes the session's current game (the one before
// it must have been saved or freed), and current its starting position.
void StartNewGame(CPosition*& current);

// From now on the game in progress is kept at path (live mode); null or empty: it is not
// kept. No game of the session has failed to save yet.
void KeepGameInProgressAt(const char* path);

// Writes the game in progress to its file (when it is kept), after a change of the game.
void KeepGameInProgress();

// The board began a new game: saves the game in progress into the session's PGN file (one
// that cannot be saved is kept ahead of the next), starts the next game and keeps it.
void NextGame(CPosition*& current);

// The session ends (its line failed, or it was stopped): saves the game in progress, and
// leaves the file holding the session's games that could not be saved, or removes it when
// there are none. Answers the save's result; nothing to save (no current game) is no
// failure.
std::uint32_t SaveGameAtEnd();

// A replay ends: the game in progress is freed, not saved. Answers whether it had a move.
bool DropGameInProgress();

// What the next recorder made of a dead session's game in progress.
enum class Recovery {
    kNothing,       // no game at currentPath (or an empty file, now removed)
    kRecovered,     // the games were appended to the PGN file; currentPath is removed
    kAlreadySaved,  // the PGN file ended with them already; currentPath is removed
    kFailed,        // reported (the save's error line); currentPath stays for another try
};

// Puts the game in progress of a session that died, the file at currentPath, into that
// session's PGN file at pgnPath. The caller holds that session's log, so that no running
// recorder writes these files meanwhile and no other start recovers them too.
//
// A backup pgnPath + ".bak" means that a save was cut, or that a save could not delete
// it. The file is put back from the backup when it is that backup followed by a beginning
// of the game in progress short of the whole (what a cut save leaves), or when it does not
// begin with the backup at all; otherwise the backup is stale and removed. Then each game of
// the file is in the PGN file once: when the PGN file ends with all of them, or with the
// last (a session killed after a save and before it rewrote its game in progress), that is
// not appended again. (A game in progress whose whole text equals the game saved before it,
// such as two games without moves, is taken for that game.)
Recovery RecoverGame(const char* currentPath, const char* pgnPath);

// What a cut save or write of a dead session left beside its PGN file (pgnPath + ".tmp",
// the text of a first save; pgnPath + ".bak.tmp", a copy of the file on its way to the
// backup) and its game in progress (currentPath + ".tmp", a write not yet renamed). Each is
// removed once it is sure that it holds nothing that is not elsewhere: a first save's text
// is in the PGN file or the game in progress, a copy is the start of the PGN file or of its
// backup, and an unrenamed write is never ahead of what the user saw (a move is shown only
// once its write is done). A leftover that holds something found nowhere else is kept, and
// answered, for the caller to say so and to keep its session number taken. The caller holds
// that session's log, as for RecoverGame.
std::vector<std::string> SettleLeftovers(const char* pgnPath, const char* currentPath);
