// The game in progress of a live session, kept on disk: after every change of the game
// (each accepted move, take-back and new game) the current game is written whole to the
// session's NAME.NNN.current.pgn (pgn/keep.h). The session's end
// saves the game and removes the file; a session that dies leaves it for the next recorder
// to put into the PGN file. A replay keeps nothing. All of it runs under the session lock.
#pragma once

// From now on the game in progress is kept at path; null or empty: it is not kept.
void KeepGameInProgressAt(const char* path);

// Writes the session's current game to the file, when it is kept. A write that fails is
// logged (a system error report), once until a write works again; the file then still
// holds the game as it was last written, and the session goes on.
void KeepGameInProgress();

// The game in progress has been saved: removes the file, and keeps nothing from now on.
void ForgetGameInProgress();
