// The part of the recorder's session state that saving and indexing PGN files need: the
// session's PGN path and its current game. The recorder fills both; every CFichier is
// bound to the path when it is constructed, and SaveGame saves the current game.
#pragma once

#include <cstdint>

#include "game/infos.h"

class CPartie;

struct PgnSession {
    char pgnPath[kPathSize] = "";
    CPartie* currentGame = nullptr;
    // The session's saves so far (SaveAndReleaseCurrentGame), for its last word.
    std::int32_t savedGames = 0;
    std::int32_t failedSaves = 0;
};

PgnSession& ThePgnSession();
