// The game in progress of a live session, kept on disk: after every change of the game
// (each accepted move and new game) the current game is written whole to the session's
// NAME.NNN.current.pgn (pgn/keep.h). A take-back changes nothing that a saved game holds.
// Games whose save failed stay in the file, ahead of the game in progress, until the
// session ends; a session that ends, or dies, leaves the file for the next recorder to put
// into the PGN file. A replay keeps nothing. All of it runs under the session lock.
#pragma once

#include <cstdint>

// From now on the game in progress is kept at path; null or empty: it is not kept.
void KeepGameInProgressAt(const char* path);

// Writes the session's current game to the file, when it is kept. A write that fails is
// logged (a system error report), once until a write works again; the file then still
// holds the game as it was last written, and the session goes on.
void KeepGameInProgress();

// Saves the session's current game (SaveAndReleaseCurrentGame) and answers what the save
// answered; a game that could not be saved is kept ahead of the next. When the session
// ends, the file is left holding the games of this session that could not be saved, or
// removed when there are none; otherwise it stays as it is until the next game is kept.
std::uint32_t SaveGameInProgress(bool sessionEnds);
