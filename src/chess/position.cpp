#include "chess/position.h"

#include <cstdio>
#include <vector>

namespace {

constexpr char kPieceLetters[] = "PRNBQKprnbqk";

// The letter of a piece in FEN, or '?' for a code outside the twelve pieces.
char PieceLetter(Piece piece) {
    int kind = KindOf(piece);
    if (kind < kPawn || kind > kKing) return '?';
    return kPieceLetters[kind - 1 + (IsBlack(piece) ? 6 : 0)];
}

// Frees moves without recursion: before a move is freed, its later alternatives and the
// line after it are taken off it and queued, so each delete is shallow whatever the length
// of the game or the depth of its variations.
void DestroyMoves(CCoup* first) {
    std::vector<CCoup*> pending;
    pending.push_back(first);
    while (!pending.empty()) {
        CCoup* move = pending.back();
        pending.pop_back();
        if (move->nextAlternative) {
            pending.push_back(move->nextAlternative);
            move->nextAlternative = nullptr;
        }
        if (move->positionAfter && move->positionAfter->continuation) {
            pending.push_back(move->positionAfter->continuation);
            move->positionAfter->continuation = nullptr;
        }
        delete move;
    }
}

}  // namespace

CPosition::CPosition()
    : board{kRook, kKnight, kBishop, kQueen, kKing, kBishop, kKnight, kRook,
            kPawn, kPawn,   kPawn,   kPawn,  kPawn, kPawn,   kPawn,   kPawn},
      castling{1, 1, 1, 1},
      enPassant(kNoSquare),
      lastQueryFrom(kNoSquare),
      lastQueryTo(kNoSquare),
      lastQueryResult(0),
      side(kWhite),
      glyph(0),
      moveNumber(0),
      setUp(0),
      lastMove(nullptr),
      continuation(nullptr) {
    for (int file = 0; file < 8; ++file) {
        board[kA7 + file] = kBlack + kPawn;
        board[kA8 + file] = kBlack + board[kA1 + file];
    }
}

CPosition::CPosition(CPosition* before, Square from, Square to)
    : castling{before->castling[kWhiteKingSide], before->castling[kWhiteQueenSide],
               before->castling[kBlackKingSide], before->castling[kBlackQueenSide]},
      enPassant(kNoSquare),
      lastQueryFrom(kNoSquare),
      lastQueryTo(kNoSquare),
      lastQueryResult(0),
      side(static_cast<Side>(kBlack - before->side)),
      glyph(0),
      // White's move n and Black's reply both carry number n.
      moveNumber(static_cast<std::uint16_t>(before->moveNumber + (side == kBlack ? 1 : 0))),
      setUp(0),
      lastMove(nullptr),
      continuation(nullptr) {
    for (int s = 0; s < 64; ++s)
        board[s] = before->board[s];
    CCoup* move = new CCoup(before, this, from, to);
    lastMove = move;

    Piece piece = board[from];
    if (board[to] != kEmpty) {
        move->capture = 1;
    } else if (KindOf(piece) == kPawn && to == before->enPassant) {
        // En passant: the pawn taken stands on the mover's rank, on the target's file.
        move->capture = 1;
        board[RankOf(from) * 8 + FileOf(to)] = kEmpty;
    } else if ((piece == kKing && from == kE1) || (piece == kBlack + kKing && from == kE8)) {
        // The king's two-file step from its own square takes the rook along.
        for (const CastlingMove& castle : kCastlingMoves) {
            if (piece == castle.king && from == castle.kingFrom && to == castle.kingTo) {
                board[castle.rookTo] = board[castle.rookFrom];
                board[castle.rookFrom] = kEmpty;
                move->castlingKind = castle.kind;
            }
        }
    } else if (piece == kPawn && RankOf(from) == kRank2 && RankOf(to) == kRank4) {
        enPassant = static_cast<Square>(kA3 + FileOf(from));
    } else if (piece == kBlack + kPawn && RankOf(from) == kRank7 && RankOf(to) == kRank5) {
        enPassant = static_cast<Square>(kA6 + FileOf(from));
    }
    board[to] = piece;
    board[from] = kEmpty;
}

CPosition::~CPosition() {
    if (continuation) DestroyMoves(continuation);
}

CCoup::CCoup(CPosition* before, CPosition* after, Square from, Square to)
    : from(from),
      to(to),
      moveNumber(after->moveNumber),
      capture(0),
      castlingKind(kNoCastling),
      promotion(0),
      check(0),
      disambiguation{'?', 0, 0},
      annotation(0),
      nextAlternative(nullptr),
      previousAlternative(nullptr),
      positionBefore(before),
      positionAfter(after) {}

CCoup::~CCoup() {
    CCoup* rest = nextAlternative;
    nextAlternative = nullptr;
    if (positionAfter) {
        CCoup* line = positionAfter->continuation;
        positionAfter->continuation = nullptr;
        delete positionAfter;
        if (line) DestroyMoves(line);
    }
    if (rest) DestroyMoves(rest);
}

void DestroyTemporary(CPosition* pos) {
    CCoup* move = pos->lastMove;
    move->positionAfter = nullptr;
    move->nextAlternative = nullptr;
    delete move;
    delete pos;
}

// FEN, as read and written here:
//   <placement> <side> <castling> <en passant> <half-move clock> <full-move number>
// The placement runs from rank 8 to rank 1, files a to h; a digit 1-8 stands for that
// many empty squares, a letter of "PRNBQK" for a White piece and of "prnbqk" for a Black
// one; every other character (the '/' included) is passed over, so ranks change by count
// alone. The side is 'w' for White, anything else for Black. Castling holds K, Q, k, q or
// '-'. En passant is '-' or a square. The half-move clock is read over and written as 0.
// The text may stop after the en-passant field (as EPD writes positions).
std::int32_t CPosition::SetFromFEN(const char* text) {
    // A verdict about the old board says nothing about the new one.
    lastQueryFrom = kNoSquare;
    lastQueryTo = kNoSquare;
    lastQueryResult = 0;
    for (auto& square : board)
        square = kEmpty;
    for (auto& right : castling)
        right = 0;

    const char* p = text;
    int written = 0;  // squares placed so far, from a8
    for (; *p != '\0' && *p != ' '; ++p) {
        int count = 0;
        Piece piece = kEmpty;
        if (*p >= '1' && *p <= '8') {
            count = *p - '0';
        } else {
            for (int i = 0; i < 12; ++i) {
                if (kPieceLetters[i] == *p) {
                    piece = static_cast<Piece>(i < 6 ? i + 1 : kBlack + i - 5);
                    count = 1;
                }
            }
        }
        if (written + count > 64) return 0;  // more than 64 squares
        for (; count > 0; --count, ++written) {
            board[(kRank8 - written / 8) * 8 + written % 8] = piece;
        }
    }
    if (*p == '\0' || p[1] == '\0') return 0;  // no side to move
    ++p;
    side = (*p == 'w') ? kWhite : kBlack;
    if (p[1] == '\0') return 0;
    p += 2;  // the castling field starts two characters after the side

    for (; *p != '\0' && *p != ' '; ++p) {
        switch (*p) {
            case 'K':
                castling[kWhiteKingSide] = 1;
                break;
            case 'Q':
                castling[kWhiteQueenSide] = 1;
                break;
            case 'k':
                castling[kBlackKingSide] = 1;
                break;
            case 'q':
                castling[kBlackQueenSide] = 1;
                break;
            case '-':
                break;
            default:
                return 0;
        }
    }
    if (*p == '\0') return 0;  // no en-passant field
    ++p;

    if (*p == '-') {
        enPassant = kNoSquare;
        ++p;
    } else if (*p >= 'a' && *p <= 'h') {
        if (p[1] < '1' || p[1] > '8') return 0;
        enPassant = static_cast<Square>((p[1] - '1') * 8 + (p[0] - 'a'));
        p += 2;
    } else if (*p == '\0') {
        return 0;
    }
    // Any other character leaves the square as it was; that field is then read over as
    // the half-move clock.

    while (*p == ' ')
        ++p;
    bool clocks = *p != '\0';
    while (*p != '\0' && *p != ' ')
        ++p;  // the half-move clock
    while (*p == ' ')
        ++p;
    if (clocks && *p != '\0') {
        std::uint16_t number = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            number = static_cast<std::uint16_t>(number * 10 + (*p - '0'));
        }
        moveNumber = number;
    } else {
        moveNumber = 1;  // no full-move number: as for move 1
    }
    if (side == kWhite) moveNumber = static_cast<std::uint16_t>(moveNumber - 1);
    setUp = 1;
    return 1;
}

int WriteFEN(char* buffer, const CPosition& pos) {
    char* out = buffer;
    for (int rank = 7; rank >= 0; --rank) {
        int empty = 0;
        for (int file = 0; file < 8; ++file) {
            Piece piece = pos.board[rank * 8 + file];
            if (piece == kEmpty) {
                ++empty;
                continue;
            }
            if (empty > 0) *out++ = static_cast<char>('0' + empty);
            empty = 0;
            *out++ = PieceLetter(piece);
        }
        if (empty > 0) *out++ = static_cast<char>('0' + empty);
        *out++ = rank > 0 ? '/' : ' ';
    }
    *out++ = pos.side == kWhite ? 'w' : 'b';
    *out++ = ' ';
    const char kRights[] = "KQkq";  // in the order of the rights' indices
    bool any = false;
    for (int i = 0; i < 4; ++i) {
        if (pos.castling[i]) {
            *out++ = kRights[i];
            any = true;
        }
    }
    if (!any) *out++ = '-';
    *out++ = ' ';
    if (pos.enPassant > 63) {
        *out++ = '-';
    } else {
        *out++ = static_cast<char>('a' + FileOf(pos.enPassant));
        *out++ = static_cast<char>('1' + RankOf(pos.enPassant));
    }
    *out++ = ' ';
    *out++ = '0';
    *out++ = ' ';
    int fullMove = pos.moveNumber + (pos.side == kWhite ? 1 : 0);
    int room = kFenBufferSize - static_cast<int>(out - buffer);
    out += std::snprintf(out, static_cast<std::size_t>(room), "%d", fullMove);
    return static_cast<int>(out - buffer);
}
