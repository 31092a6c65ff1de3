// Positions and moves: the nodes of a game tree.
//
// A game grows from its starting position. Every move played from a position is a CCoup,
// and every CCoup owns the position it leads to. The moves played from one position form
// a doubly linked chain of alternatives whose head (the position's continuation) is the
// main move; every later member is a variation.
//
// Ownership: a position owns its comment and its continuation; a move owns its next
// alternative and its position after. Last move, previous alternative and position before
// are plain references. Destroying a position destroys everything that follows from it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A square is rank * 8 + file: a1 = 0, e1 = 4, h1 = 7, a8 = 56, h8 = 63.
using Square = std::uint8_t;
constexpr Square kNoSquare = 255;

// A piece: White pawn 1, rook 2, knight 3, bishop 4, queen 5, king 6; Black the same + 32.
using Piece = std::uint8_t;
constexpr Piece kEmpty = 0;
constexpr Piece kPawn = 1, kRook = 2, kKnight = 3, kBishop = 4, kQueen = 5, kKing = 6;

// A side is 0 (White) or 32 (Black), so that side + kind is that side's piece.
using Side = std::uint8_t;
constexpr Side kWhite = 0, kBlack = 32;

constexpr int FileOf(int square) {
    return square & 7;
}
constexpr int RankOf(int square) {
    return square >> 3;
}
constexpr int KindOf(Piece piece) {
    return piece % 32;
}
constexpr bool IsBlack(Piece piece) {
    return piece > 32;
}
constexpr Side SideOf(Piece piece) {
    return IsBlack(piece) ? kBlack : kWhite;
}

// Room for WriteFEN's text and its terminator.
constexpr int kFenBufferSize = 96;

class CCoup;

class CPosition {
public:
    // The standard initial position.
    CPosition();
    // The position after the piece on from has moved to to, with its new move (the
    // position's last move, which owns it). Legality is not checked here.
    CPosition(CPosition* before, Square from, Square to);
    CPosition(const CPosition&) = delete;
    CPosition& operator=(const CPosition&) = delete;

    virtual ~CPosition();

    // Plays from-to when it is legal here and links the new move into this position's
    // chain: as the continuation, in the place of replaced, or appended as an alternative.
    // Answers the new position, or null.
    virtual CPosition* Play(Square from, Square to, CCoup* replaced, std::uint8_t promotion);

    // Sets the board from FEN text. Answers 1, or 0 for a malformed text.
    virtual std::int32_t SetFromFEN(const char* text);

    std::uint8_t board[64];
    std::uint8_t castling[4];  // White king side, White queen side, Black king side, queen side
    Square enPassant;          // square passed over by the double step that led here
    Square lastQueryFrom;      // query cache of IsLegal
    Square lastQueryTo;
    std::int32_t lastQueryResult;
    Side side;                 // side to move
    std::uint8_t glyph;        // numeric annotation of the move that led here, 0 none
    std::uint16_t moveNumber;  // number of the move that led here, 0 at the start
    std::int32_t setUp;        // 1 when set from FEN text
    std::optional<std::string> comment;
    CCoup* lastMove;      // not owned
    CCoup* continuation;  // owned: head of the chain of moves played from here
};

class CCoup {
public:
    CCoup(CPosition* before, CPosition* after, Square from, Square to);
    CCoup(const CCoup&) = delete;
    CCoup& operator=(const CCoup&) = delete;

    // Destroys the later alternatives, then the position after (and all that follows).
    virtual ~CCoup();

    Square from;
    Square to;
    std::uint16_t moveNumber;  // that of the position after
    std::int32_t capture;
    std::uint8_t castlingKind;  // 0 none, 1 king side, 2 queen side
    std::uint8_t promotion;     // kind the pawn became, 0 none
    std::int32_t check;
    char disambiguation[3];  // '?' first: not worked out yet
    std::uint8_t annotation;
    CCoup* nextAlternative;      // owned
    CCoup* previousAlternative;  // not owned
    CPosition* positionBefore;   // not owned
    CPosition* positionAfter;    // owned
};

// Writes pos as FEN text into buffer (kFenBufferSize characters); answers the length.
int WriteFEN(char* buffer, const CPosition& pos);

// Destroys a successor made for a test (its move goes first, without its position).
void DestroyTemporary(CPosition* pos);
