#include "chess/san.h"

#include <cstdio>

#include "chess/rules.h"

namespace {

// Annotation codes 1 to 6 as glyphs; characters, not pointers, so the table is read-only.
constexpr char kGlyphs[][3] = {"", "!", "?", "!!", "??", "!?", "?!"};

char* PutSquare(char* out, Square square) {
    *out++ = static_cast<char>('a' + FileOf(square));
    *out++ = static_cast<char>('1' + RankOf(square));
    return out;
}

}  // namespace

void Disambiguate(CCoup& move) {
    if (move.disambiguation[0] != '?') return;
    Square rivals[64];
    int count = 0;
    ListRivals(*move.positionBefore, move.from, move.to, rivals, &count);
    bool sameFile = false;
    bool sameRank = false;
    for (int i = 0; i < count; ++i) {
        sameFile = sameFile || FileOf(rivals[i]) == FileOf(move.from);
        sameRank = sameRank || RankOf(rivals[i]) == RankOf(move.from);
    }
    char* text = move.disambiguation;
    if (count > 0) {
        char file = static_cast<char>('a' + FileOf(move.from));
        char rank = static_cast<char>('1' + RankOf(move.from));
        if (!sameFile) {
            *text++ = file;
        } else if (!sameRank) {
            *text++ = rank;
        } else {
            *text++ = file;
            *text++ = rank;
        }
    }
    *text = '\0';
}

int WriteSAN(char* buffer, CCoup& move, int withNumber, int numericAnnotation) {
    char* out = buffer;
    char* end = buffer + kSanBufferSize;
    Piece piece = move.positionBefore->board[move.from];
    if (withNumber) {
        out += std::snprintf(out, static_cast<std::size_t>(end - out),
                             IsBlack(piece) ? "%d... " : "%d. ", move.moveNumber);
    }
    int kind = KindOf(piece);
    if (kind == kKing && move.castlingKind == kKingSideCastling) {
        for (const char* c = "O-O"; *c; ++c)
            *out++ = *c;
    } else if (kind == kKing && move.castlingKind == kQueenSideCastling) {
        for (const char* c = "O-O-O"; *c; ++c)
            *out++ = *c;
    } else if (kind == kKing) {
        *out++ = 'K';
        if (move.capture) *out++ = 'x';
        out = PutSquare(out, move.to);
    } else if (kind == kPawn) {
        if (move.capture) {
            *out++ = static_cast<char>('a' + FileOf(move.from));
            *out++ = 'x';
        }
        out = PutSquare(out, move.to);
    } else {
        if (kind >= kRook && kind <= kQueen) *out++ = " PRNBQK"[kind];
        Disambiguate(move);
        for (const char* c = move.disambiguation; *c; ++c)
            *out++ = *c;
        if (move.capture) *out++ = 'x';
        out = PutSquare(out, move.to);
    }
    if (move.promotion >= kRook && move.promotion <= kQueen) {
        *out++ = '=';
        *out++ = " PRNBQK"[move.promotion];
    }
    if (move.check) *out++ = '+';
    if (numericAnnotation && move.annotation != 0) {
        out += std::snprintf(out, static_cast<std::size_t>(end - out), " $%d", move.annotation);
    } else if (move.annotation >= 1 && move.annotation <= 6) {
        for (const char* c = kGlyphs[move.annotation]; *c; ++c)
            *out++ = *c;
    }
    *out = '\0';
    return static_cast<int>(out - buffer);
}
