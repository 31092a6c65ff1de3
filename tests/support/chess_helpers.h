// Small helpers for tests that play through positions by square names.
#pragma once

#include <sstream>
#include <string>

#include "chess/position.h"
#include "chess/san.h"

inline Square Sq(const std::string& name) {
    return static_cast<Square>((name[1] - '1') * 8 + (name[0] - 'a'));
}

// Plays "e2e4 e7e5 ..." from pos, each move as the continuation (as the board does);
// answers the last position, or null when a move is refused.
inline CPosition* PlayLine(CPosition* pos, const std::string& moves) {
    std::istringstream in(moves);
    std::string move;
    while (pos && in >> move) {
        std::uint8_t promotion = 0;
        if (move.size() == 5)
            promotion = static_cast<std::uint8_t>(std::string(" rnbq").find(move[4]) + 1);
        pos = pos->Play(Sq(move.substr(0, 2)), Sq(move.substr(2, 2)), pos->continuation, promotion);
    }
    return pos;
}

inline std::string Fen(const CPosition& pos) {
    char text[kFenBufferSize];
    WriteFEN(text, pos);
    return text;
}

inline std::string San(CCoup& move, int withNumber = 0, int numeric = 0) {
    char text[kSanBufferSize];
    WriteSAN(text, move, withNumber, numeric);
    return text;
}
