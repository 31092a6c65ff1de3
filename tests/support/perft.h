// Perft, the classic known-answer test of move legality, and the published positions.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "chess/position.h"

// Perft by brute force: every square of the side to move to every square, each promotion
// piece where a pawn reaches its last rank; Play decides. The counts are the published
// ones for these positions.
inline std::uint64_t Perft(CPosition& pos, int depth) {
    if (depth == 0) return 1;
    std::uint64_t leaves = 0;
    for (int f = 0; f < 64; ++f) {
        Piece piece = pos.board[f];
        if (piece == kEmpty || SideOf(piece) != pos.side) continue;
        for (int t = 0; t < 64; ++t) {
            if (t == f) continue;
            bool promotes = KindOf(piece) == kPawn && RankOf(t) == (IsBlack(piece) ? 0 : 7);
            for (std::uint8_t kind = promotes ? kRook : 0; kind <= (promotes ? kQueen : 0);
                 ++kind) {
                CPosition* next = pos.Play(static_cast<Square>(f), static_cast<Square>(t),
                                           pos.continuation, kind);
                if (!next) break;
                leaves += Perft(*next, depth - 1);
            }
        }
    }
    return leaves;
}

inline std::uint64_t PerftFrom(const char* fen, int depth) {
    CPosition pos;
    EXPECT_EQ(pos.SetFromFEN(fen), 1);
    return Perft(pos, depth);
}

constexpr const char* kInitial = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
constexpr const char* kKiwipete =
    "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1";
constexpr const char* kEndgame = "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 w - - 0 1";
constexpr const char* kPromotions =
    "r3k2r/Pppp1ppp/1b3nbN/nP6/BBP1P3/q4N2/Pp1P2PP/R2Q1RK1 w kq - 0 1";
constexpr const char* kTalkchess = "rnbq1k1r/pp1Pbppp/2p5/8/2B5/8/PPP1NnPP/RNBQK2R w KQ - 1 8";
