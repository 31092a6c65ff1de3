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

// The squares by name.
// clang-format off
enum : Square {
    kA1, kB1, kC1, kD1, kE1, kF1, kG1, kH1,
    kA2, kB2, kC2, kD2, kE2, kF2, kG2, kH2,
    kA3, kB3, kC3, kD3, kE3, kF3, kG3, kH3,
    kA4, kB4, kC4, kD4, kE4, kF4, kG4, kH4,
    kA5, kB5, kC5, kD5, kE5, kF5, kG5, kH5,
    kA6, kB6, kC6, kD6, kE6, kF6, kG6, kH6,
    kA7, kB7, kC7, kD7, kE7, kF7, kG7, kH7,
    kA8, kB8, kC8, kD8, kE8, kF8, kG8, kH8,
};
// clang-format on

// Ranks as RankOf answers them: rank 1 is 0, rank 8 is 7.
constexpr int kRank1 = 0, kRank2 = 1, kRank3 = 2, kRank4 = 3, kRank5 = 4, kRank6 = 5, kRank7 = 6,
              kRank8 = 7;

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

// The four castling rights, as CPosition::castling holds them.
constexpr int kWhiteKingSide = 0, kWhiteQueenSide = 1, kBlackKingSide = 2, kBlackQueenSide = 3;

// CCoup::castlingKind: which way a king castled.
constexpr std::uint8_t kNoCastling = 0, kKingSideCastling = 1, kQueenSideCastling = 2;

// One way of castling, indexed by its right: the king goes from kingFrom to kingTo and
// the rook from rookFrom to rookTo, the square the king passes over.
struct CastlingMove {
    Piece king;
    Square kingFrom, kingTo, rookFrom, rookTo;
    std::uint8_t kind;
};
constexpr CastlingMove kCastlingMoves[4] = {
    {kKing, kE1, kG1, kH1, kF1, kKingSideCastling},
    {kKing, kE1, kC1, kA1, kD1, kQueenSideCastling},
    {kBlack + kKing, kE8, kG8, kH8, kF8, kKingSideCastling},
    {kBlack + kKing, kE8, kC8, kA8, kD8, kQueenSideCastling},
};

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

    // Sets the board from FEN text. Answers 1, or 0 for a malformed text. Either way the
    // legality verdict kept for Play is dropped: it was about the board that was here.
    virtual std::int32_t SetFromFEN(const char* text);

    std::uint8_t board[64];
    std::uint8_t castling[4];  // indexed by kWhiteKingSide ... kBlackQueenSide
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
    std::uint8_t castlingKind;  // kNoCastling, kKingSideCastling or kQueenSideCastling
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
