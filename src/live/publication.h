// What is published of a round: every board's game in the PGN standard's export format, with
// the round's tags from the pairings file, and the state that the spectators' page draws.
//
// A board's published game carries the Seven Tag Roster first and in its order (the
// recorder's own values, then those the pairings give every board, then the board's own),
// then the further tags: the recorder's, Board, and the rest of the pairings' in their
// order. Its moves are the main line of the game the board shows, a mate marked '#'. Its
// result is the pairings' Result when given (an arbiter's, for a resignation or an agreed
// draw; "*" takes it back), else 1-0 or 0-1 when the last move mates, 1/2-1/2 on
// stalemate, else "*"; the moves end with the same result. A board that waits publishes a
// game without moves.
#pragma once

#include <string>

#include "game/partie.h"
#include "pgn/pairings.h"

namespace live {

struct BoardPublication {
    std::string pgn;    // game-N.pgn
    std::string event;  // the board's Server-Sent Events message ("event: board")
};

// Board number's publication, from the game it shows (null while it waits).
BoardPublication PublishBoard(int number, CPartie* shown, const Pairings& pairings);

// The round's Server-Sent Events message ("event: round"): its Event, Site, Date and Round
// as the pairings give every board ("?" when they do not), and the number of boards.
std::string RoundEvent(const Pairings& pairings, int boards);

}  // namespace live
