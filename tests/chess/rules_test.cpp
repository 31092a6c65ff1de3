#include "chess/rules.h"

#include <gtest/gtest.h>

#include "support/chess_helpers.h"
#include "support/perft.h"

namespace {

bool Legal(const char* fen, const char* from, const char* to) {
    CPosition pos;
    EXPECT_EQ(pos.SetFromFEN(fen), 1) << fen;
    return IsLegal(pos, Sq(from), Sq(to)) == 1;
}

TEST(Legality, EnPassantAndItsExpiry) {
    CPosition start;
    CPosition* pos = PlayLine(&start, "e2e4 d7d5 e4e5 f7f5");
    ASSERT_NE(pos, nullptr);
    EXPECT_EQ(pos->enPassant, 45);
    CPosition* taken = pos->Play(Sq("e5"), Sq("f6"), nullptr, 0);
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->lastMove->capture, 1);
    EXPECT_EQ(taken->board[37], kEmpty);
    EXPECT_EQ(San(*taken->lastMove), "exf6");

    CPosition* later = PlayLine(pos, "g1f3 b8c6");
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later->Play(Sq("e5"), Sq("f6"), nullptr, 0), nullptr);

    // The pawn taken en passant may be all that shielded the king.
    EXPECT_FALSE(Legal("8/8/8/K2pP2r/8/8/8/7k w - d6 0 1", "e5", "d6"));
    EXPECT_TRUE(Legal("8/8/8/3pP3/8/8/8/K6k w - d6 0 1", "e5", "d6"));
}

TEST(Legality, Castling) {
    // Perft meets most of castling; not these.
    const char* open = "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1";
    EXPECT_TRUE(Legal(open, "e1", "g1"));
    EXPECT_TRUE(Legal(open, "e1", "c1"));
    EXPECT_FALSE(Legal("r3k2r/8/8/8/8/8/8/RN2K2R w KQkq - 0 1", "e1", "c1"));   // b1 taken
    EXPECT_FALSE(Legal("r3k2r/8/8/8/8/8/4p3/R3K2R w KQkq - 0 1", "e1", "g1"));  // e2 pawn eyes f1
    EXPECT_FALSE(Legal("r3k2r/8/8/8/8/8/8/3RK2R b KQkq - 0 1", "e8", "c8"));    // d8 attacked
    EXPECT_TRUE(Legal("r3k2r/8/8/8/8/8/8/1R2K2R b KQkq - 0 1", "e8", "c8"));    // b8 attacked

    // Rights follow the king's and the rooks' squares.
    CPosition pos;
    ASSERT_EQ(pos.SetFromFEN("r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1"), 1);
    CPosition* back = PlayLine(&pos, "e1e2 e8e7 e2e1 e7e8");
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(Fen(*back), "r3k2r/8/8/8/8/8/8/R3K2R w - - 0 3");
    EXPECT_EQ(back->Play(Sq("e1"), Sq("g1"), nullptr, 0), nullptr);

    CPosition other;
    ASSERT_EQ(other.SetFromFEN("r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 0 1"), 1);
    CPosition* rookTaken = PlayLine(&other, "h8h1");
    ASSERT_NE(rookTaken, nullptr);
    EXPECT_EQ(Fen(*rookTaken), "r3k3/8/8/8/8/8/8/R3K2r w Qq - 0 2");
    EXPECT_EQ(rookTaken->Play(Sq("e1"), Sq("g1"), nullptr, 0), nullptr);
}

TEST(Legality, KingSafety) {
    // Perft covers pins and checks; these are what it never meets.
    EXPECT_FALSE(Legal("4k3/8/8/8/8/3p4/8/4K3 w - - 0 1", "e1", "e2"));  // pawn's diagonal
    EXPECT_TRUE(Legal("4k3/8/8/8/8/3p4/8/4K3 w - - 0 1", "e1", "d2"));   // in front of it
    // No king of the mover's colour: nothing to keep safe.
    EXPECT_TRUE(Legal("4k3/8/8/8/8/8/8/R7 w - - 0 1", "a1", "a7"));
}

TEST(Legality, ColourOfThePieceDecidesNotTheSideToMove) {
    CPosition start;
    CPosition* pos = PlayLine(&start, "e2e4 d2d4");
    ASSERT_NE(pos, nullptr);
    EXPECT_EQ(pos->side, kWhite);                // alternates whatever colour moved
    EXPECT_EQ(San(*pos->lastMove, 1), "1. d4");  // the piece's colour, not the turn
}

TEST(Play, ANewBoardInheritsNoVerdictAboutTheOldOne) {
    // Play trusts the verdict IsLegal kept for the same squares; a board set from FEN
    // text, even text refused half way, is another board.
    const char* texts[] = {"4k3/8/8/8/8/8/8/4K3 w - - 0 1", "4k3/8/8/8/8/8/8/4K3 w KX - 0 1"};
    for (const char* text : texts) {
        CPosition pos;
        ASSERT_TRUE(IsLegal(pos, kE2, kE4));
        pos.SetFromFEN(text);
        EXPECT_EQ(pos.Play(kE2, kE4, nullptr, 0), nullptr) << text;  // e2 is empty now
        EXPECT_EQ(pos.continuation, nullptr);
    }

    CPosition pos;
    EXPECT_EQ(pos.Play(64, kE4, nullptr, 0), nullptr);
    EXPECT_EQ(pos.Play(kE2, 200, nullptr, 0), nullptr);
}

TEST(Play, ReplaceOrAppend) {
    CPosition start;
    ASSERT_NE(PlayLine(&start, "e2e4 e7e5 g1f3"), nullptr);
    CCoup* first = start.continuation;

    // Appending leaves the main move in place.
    CPosition* d4 = start.Play(Sq("d2"), Sq("d4"), nullptr, 0);
    ASSERT_NE(d4, nullptr);
    EXPECT_EQ(start.continuation, first);
    EXPECT_EQ(first->nextAlternative, d4->lastMove);
    EXPECT_EQ(d4->lastMove->previousAlternative, first);

    // Replacing the head: the new move heads the chain, the alternative stays behind it.
    CPosition* c4 = start.Play(Sq("c2"), Sq("c4"), start.continuation, 0);
    ASSERT_NE(c4, nullptr);
    EXPECT_EQ(start.continuation, c4->lastMove);
    EXPECT_EQ(c4->lastMove->previousAlternative, nullptr);
    EXPECT_EQ(c4->lastMove->nextAlternative, d4->lastMove);
    EXPECT_EQ(d4->lastMove->previousAlternative, c4->lastMove);

    // Replacing a variation keeps the head.
    CPosition* nf3 = start.Play(Sq("g1"), Sq("f3"), d4->lastMove, 0);
    ASSERT_NE(nf3, nullptr);
    EXPECT_EQ(start.continuation->nextAlternative, nf3->lastMove);
    EXPECT_EQ(nf3->lastMove->nextAlternative, nullptr);

    // Playing the same move again as a replacement gives a fresh position with no line.
    CPosition* line = PlayLine(c4, "e7e5 g1f3");
    ASSERT_NE(line, nullptr);
    CPosition* again = start.Play(Sq("c2"), Sq("c4"), start.continuation, 0);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->continuation, nullptr);
    EXPECT_EQ(start.continuation, again->lastMove);
}

TEST(Mate, KnownPositions) {
    const struct {
        const char* fen;
        bool mate;
        bool stalemate;
    } cases[] = {
        {"6rk/5Npp/8/8/8/8/8/6K1 b - - 0 1", true, false},      // smothered
        {"R5k1/5ppp/8/8/8/8/8/6K1 b - - 0 1", true, false},     // back rank
        {"R5k1/5ppp/8/8/8/8/1r6/6K1 b - - 0 1", false, false},  // ...but Rb8 blocks
        {"4k3/4R3/8/8/8/8/8/4K3 b - - 0 1", false, false},      // the king takes the rook
        {"7k/5Q2/6K1/8/8/8/8/8 b - - 0 1", false, true},
        // The pawn's capture en passant is Black's only move; without it, stalemate.
        {"k7/8/1Q6/8/3Pp3/4P3/8/7K b - d3 0 1", false, false},
        {"k7/8/1Q6/8/3Pp3/4P3/8/7K b - - 0 1", false, true},
        // Mate but for the capture en passant of the pawn that gives check.
        {"8/8/2Q5/k7/1Pp5/8/8/1R4K1 b - b3 0 1", false, false},
        {"8/8/2Q5/k7/1Pp5/8/8/1R4K1 b - - 0 1", true, false},
    };
    for (const auto& c : cases) {
        CPosition pos;
        ASSERT_EQ(pos.SetFromFEN(c.fen), 1) << c.fen;
        EXPECT_EQ(IsCheckmate(pos), c.mate) << c.fen;
        EXPECT_EQ(IsStalemate(pos), c.stalemate) << c.fen;
        EXPECT_EQ(HasLegalMove(pos), !c.mate && !c.stalemate) << c.fen;
    }

    // Fool's mate, played.
    CPosition start;
    CPosition* mated = PlayLine(&start, "f2f3 e7e5 g2g4 d8h4");
    ASSERT_NE(mated, nullptr);
    EXPECT_TRUE(IsCheckmate(*mated));
    EXPECT_FALSE(IsCheckmate(*mated->lastMove->positionBefore));
    EXPECT_FALSE(IsCheckmate(start) || IsStalemate(start));
}

TEST(Perft, ShallowLevels) {
    EXPECT_EQ(PerftFrom(kInitial, 1), 20u);
    EXPECT_EQ(PerftFrom(kInitial, 2), 400u);
    EXPECT_EQ(PerftFrom(kInitial, 3), 8902u);
    EXPECT_EQ(PerftFrom(kKiwipete, 1), 48u);
    EXPECT_EQ(PerftFrom(kKiwipete, 2), 2039u);
    EXPECT_EQ(PerftFrom(kEndgame, 1), 14u);
    EXPECT_EQ(PerftFrom(kEndgame, 2), 191u);
    EXPECT_EQ(PerftFrom(kEndgame, 3), 2812u);
    EXPECT_EQ(PerftFrom(kPromotions, 1), 6u);
    EXPECT_EQ(PerftFrom(kPromotions, 2), 264u);
    EXPECT_EQ(PerftFrom(kTalkchess, 1), 44u);
    EXPECT_EQ(PerftFrom(kTalkchess, 2), 1486u);
}

TEST(Perft, DeeperLevels) {
    EXPECT_EQ(PerftFrom(kInitial, 4), 197281u);
    EXPECT_EQ(PerftFrom(kKiwipete, 3), 97862u);
    EXPECT_EQ(PerftFrom(kEndgame, 4), 43238u);
    EXPECT_EQ(PerftFrom(kPromotions, 3), 9467u);
    EXPECT_EQ(PerftFrom(kTalkchess, 3), 62379u);
}

}  // namespace
