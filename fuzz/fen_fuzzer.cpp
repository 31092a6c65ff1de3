// FEN text in both directions, and moves from whatever position it sets up.
//
// Input: a text, up to the first NUL byte (or the whole input), then move bytes.
//   - SetFromFEN of the text. When it answers 1: WriteFEN, SetFromFEN of that text (on a
//     fresh position) must answer 1 too, and its WriteFEN must give the same text again.
//   - Then, from the position set up (also one that a refused text left half set), the
//     move bytes in threes: from-square, to-square (any byte: Play must refuse those
//     above 63) and a control byte: bits 0-2 choose the promotion piece (none, rook,
//     knight, bishop, queen), bit 3 appends the move as an alternative instead of
//     replacing the continuation, bit 4 takes the move back at once, bits 5-7 give the
//     move an annotation code. Every move played is written with WriteSAN (with and
//     without number, numeric and glyph annotation); the position it leads to must not
//     leave the mover's king attacked, and must read back from its own FEN text.
#include <cstdint>
#include <cstring>
#include <string>

#include "chess/position.h"
#include "chess/rules.h"
#include "chess/san.h"
#include "support.h"

namespace {

constexpr std::size_t kMaxMoves = 64;
constexpr std::uint8_t kPromotions[] = {0, kRook, kKnight, kBishop, kQueen, 0, 0, 0};

std::string Fen(const CPosition& pos) {
    char text[kFenBufferSize];
    std::memset(text, 0x7F, sizeof text);
    int length = WriteFEN(text, pos);
    FUZZ_CHECK(length > 0 && length < kFenBufferSize);
    FUZZ_CHECK(std::strlen(text) == static_cast<std::size_t>(length));
    return text;
}

// WriteFEN, SetFromFEN of that text, WriteFEN again: the same text.
void CheckRoundTrip(const CPosition& pos) {
    std::string first = Fen(pos);
    CPosition again;
    FUZZ_CHECK(again.SetFromFEN(first.c_str()) == 1);
    FUZZ_CHECK(Fen(again) == first);
}

void CheckSan(CCoup& move) {
    for (int withNumber = 0; withNumber < 2; ++withNumber) {
        for (int numeric = 0; numeric < 2; ++numeric) {
            char text[kSanBufferSize];
            std::memset(text, 0x7F, sizeof text);
            int length = WriteSAN(text, move, withNumber, numeric);
            FUZZ_CHECK(length > 0 && length < kSanBufferSize);
            FUZZ_CHECK(std::strlen(text) == static_cast<std::size_t>(length));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    std::size_t textLength = nul ? static_cast<std::size_t>(nul - data) : size;
    std::string text(reinterpret_cast<const char*>(data), textLength);

    CPosition root;
    if (root.SetFromFEN(text.c_str()) == 1) {
        FUZZ_CHECK(root.setUp == 1);
        CheckRoundTrip(root);
    }

    const std::uint8_t* moves = nul ? nul + 1 : data + size;
    std::size_t left = static_cast<std::size_t>(data + size - moves);
    CPosition* current = &root;
    for (std::size_t i = 0; i + 3 <= left && i / 3 < kMaxMoves; i += 3) {
        Square from = moves[i];
        Square to = moves[i + 1];
        std::uint8_t control = moves[i + 2];
        Side mover = from < 64 ? SideOf(current->board[from]) : kWhite;
        CCoup* replaced = (control & 8) ? nullptr : current->continuation;
        CPosition* next = current->Play(from, to, replaced, kPromotions[control & 7]);
        if (!next) continue;
        FUZZ_CHECK(from < 64 && to < 64);
        CCoup& move = *next->lastMove;
        FUZZ_CHECK(move.positionBefore == current && move.positionAfter == next);
        move.annotation = static_cast<std::uint8_t>(control >> 5);
        CheckSan(move);
        // a legal move never leaves the mover's own king attacked
        Square king = FindKing(*next, mover);
        FUZZ_CHECK(king == kNoSquare || !IsAttacked(*next, king, kBlack - mover));
        CheckRoundTrip(*next);
        if (!(control & 16)) current = next;
    }
    return 0;
}
