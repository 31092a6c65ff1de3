#include "chess/san.h"

#include <gtest/gtest.h>

#include "chess/rules.h"
#include "support/chess_helpers.h"

namespace {

// The text of from-to played on the position of fen.
std::string SanOf(const char* fen, const char* from, const char* to, int withNumber = 0) {
    CPosition pos;
    EXPECT_EQ(pos.SetFromFEN(fen), 1) << fen;
    CPosition* after = pos.Play(Sq(from), Sq(to), nullptr, 0);
    if (!after) return "(illegal)";
    return San(*after->lastMove, withNumber);
}

TEST(San, NumbersAndPlainMoves) {
    CPosition start;
    CPosition* e4 = PlayLine(&start, "e2e4");
    EXPECT_EQ(San(*e4->lastMove, 1), "1. e4");
    EXPECT_EQ(San(*e4->lastMove, 0), "e4");
    CPosition* e5 = PlayLine(e4, "e7e5");
    EXPECT_EQ(San(*e5->lastMove, 1), "1... e5");
    CPosition* nf3 = PlayLine(e5, "g1f3");
    EXPECT_EQ(San(*nf3->lastMove, 1), "2. Nf3");
    CPosition* d5 = PlayLine(e4, "d7d5");
    CPosition* exd5 = PlayLine(d5, "e4d5");
    EXPECT_EQ(San(*exd5->lastMove), "exd5");
    CPosition* kiss = PlayLine(exd5, "e8d7 e1e2");
    EXPECT_EQ(San(*kiss->lastMove, 1), "3. Ke2");
}

TEST(San, Disambiguation) {
    EXPECT_EQ(SanOf("4k3/8/8/8/8/5N2/8/1N2K3 w - - 0 1", "b1", "d2"), "Nbd2");
    EXPECT_EQ(SanOf("4k3/8/8/R7/8/8/8/R3K3 w - - 0 1", "a1", "a3"), "R1a3");
    EXPECT_EQ(SanOf("4k3/8/3Q4/8/1Q1Q4/8/8/4K3 w - - 0 1", "d4", "b6"), "Qd4b6");
    EXPECT_EQ(SanOf("4k3/8/3Q4/8/1Q1Q4/8/8/4K3 w - - 0 1", "b4", "b6"), "Qbb6");
    // A pinned knight is no rival.
    EXPECT_EQ(SanOf("4k3/4r3/8/8/8/8/4N3/1N2K3 w - - 0 1", "b1", "c3"), "Nc3");
    EXPECT_EQ(SanOf("4k3/8/8/8/8/8/4N3/1N2K3 w - - 0 1", "b1", "c3"), "Nbc3");
    // Captures by a piece with a rival.
    EXPECT_EQ(SanOf("4k3/8/8/3p4/8/2N1N3/8/4K3 w - - 0 1", "c3", "d5"), "Ncxd5");
}

TEST(San, CastlingPromotionAndCheck) {
    EXPECT_EQ(SanOf("4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1", "e1", "g1"), "O-O");
    EXPECT_EQ(SanOf("4k3/8/8/8/8/8/8/R3K2R w KQ - 0 1", "e1", "c1"), "O-O-O");
    EXPECT_EQ(SanOf("5k2/8/8/8/8/8/8/4K2R w K - 0 1", "e1", "g1"), "O-O+");
    EXPECT_EQ(SanOf("5k2/8/8/8/8/8/8/R3K3 b Q - 0 1", "f8", "f7", 1), "1... Kf7");
    EXPECT_EQ(SanOf("k7/4P3/8/8/8/8/8/4K3 w - - 0 1", "e7", "e8"), "e8=Q+");
    EXPECT_EQ(SanOf("k7/8/8/8/8/8/p7/7K b - - 0 1", "a2", "a1", 1), "1... a1=Q+");
    CPosition pos;
    ASSERT_EQ(pos.SetFromFEN("3r3k/4P3/8/8/8/8/8/4K3 w - - 0 1"), 1);
    CPosition* knight = pos.Play(Sq("e7"), Sq("d8"), nullptr, kKnight);
    ASSERT_NE(knight, nullptr);
    EXPECT_EQ(San(*knight->lastMove), "exd8=N");
}

TEST(San, Annotations) {
    CPosition start;
    CPosition* e4 = PlayLine(&start, "e2e4");
    CCoup& move = *e4->lastMove;
    move.annotation = 3;
    EXPECT_EQ(San(move, 0, 0), "e4!!");
    EXPECT_EQ(San(move, 0, 1), "e4 $3");
    move.annotation = 7;
    EXPECT_EQ(San(move, 0, 0), "e4");
    EXPECT_EQ(San(move, 0, 1), "e4 $7");
    move.annotation = 0;
    EXPECT_EQ(San(move, 0, 1), "e4");
}

TEST(San, LongestTextsFitTheBuffer) {
    // Move numbers past 255 are written whole: no wrap to 0.
    CPosition pos;
    ASSERT_EQ(pos.SetFromFEN("q6k/8/8/8/8/8/8/Q6K b - - 0 65535"), 1);
    CPosition* after = pos.Play(Sq("a8"), Sq("a1"), nullptr, 0);
    ASSERT_NE(after, nullptr);
    after->lastMove->annotation = 255;
    char text[kSanBufferSize];
    int length = WriteSAN(text, *after->lastMove, 1, 1);
    EXPECT_STREQ(text, "65535... Qxa1+ $255");
    EXPECT_EQ(length, 19);

    CPosition at255;
    ASSERT_EQ(at255.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w - - 0 256"), 1);
    CPosition* next = at255.Play(Sq("e1"), Sq("e2"), nullptr, 0);
    EXPECT_EQ(San(*next->lastMove, 1), "256. Ke2");
}

}  // namespace
