#include "chess/position.h"

#include <gtest/gtest.h>

#include "support/chess_helpers.h"

namespace {

constexpr const char* kStart = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

TEST(Fen, InitialPositionAndSuccessors) {
    CPosition start;
    EXPECT_EQ(Fen(start), kStart);

    CPosition* e4 = new CPosition(&start, 12, 28);
    EXPECT_EQ(Fen(*e4), "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1");
    EXPECT_EQ(e4->moveNumber, 1);
    EXPECT_EQ(e4->enPassant, 20);

    CPosition* c5 = new CPosition(e4, 50, 34);
    EXPECT_EQ(Fen(*c5), "rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq c6 0 2");
    EXPECT_EQ(c5->moveNumber, 1);
    DestroyTemporary(c5);
    DestroyTemporary(e4);
}

TEST(Fen, RoundTripsAndFieldMeanings) {
    const char* texts[] = {
        kStart,
        "r3k2r/p1ppqpb1/bn2pnp1/3PN3/1p2P3/2N2Q1p/PPPBBPPP/R3K2R w KQkq - 0 1",
        "8/2p5/3p4/KP5r/1R3p1k/8/4P1P1/8 b - - 0 37",
        "rnbqkbnr/ppp1pppp/8/3pP3/8/8/PPPP1PPP/RNBQKBNR w Kq d6 0 3",
    };
    for (const char* text : texts) {
        CPosition pos;
        ASSERT_EQ(pos.SetFromFEN(text), 1) << text;
        EXPECT_EQ(Fen(pos), text);
        EXPECT_EQ(pos.setUp, 1);
    }

    CPosition pos;
    ASSERT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w - e3 0 1"), 1);
    EXPECT_EQ(pos.enPassant, 20);
    EXPECT_EQ(pos.castling[0] + pos.castling[1] + pos.castling[2] + pos.castling[3], 0);
    EXPECT_EQ(pos.moveNumber, 0);  // full-move 1 with White to move
    ASSERT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 b Qk - 0 12"), 1);
    EXPECT_EQ(pos.moveNumber, 12);
    EXPECT_EQ(pos.side, kBlack);
    EXPECT_EQ(pos.castling[1] + pos.castling[2], 2);
}

TEST(Fen, RefusesMalformedTextWithoutLeavingTheBoardOrTheText) {
    CPosition pos;
    EXPECT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w KX - 0 1"), 0);  // castling letter
    EXPECT_EQ(pos.setUp, 0);                                         // unchanged on refusal
    EXPECT_EQ(pos.castling[0], 1);                                   // read before the X
    EXPECT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w - ex 0 1"), 0);  // en-passant square
    EXPECT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w - e"), 0);       // text ends in it
    EXPECT_EQ(pos.SetFromFEN("8/8/8/8/8/8/8/8/8 w - - 0 1"), 0);     // 72 squares
    EXPECT_EQ(pos.SetFromFEN("pppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp"
                             "p w - - 0 1"),
              0);
    EXPECT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3"), 0);      // no side
    EXPECT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w"), 0);    // no castling
    EXPECT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w -"), 0);  // no en passant
    EXPECT_EQ(pos.SetFromFEN(""), 0);

    // No clock fields, as EPD writes a position: taken as move 1.
    ASSERT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w - -"), 1);
    EXPECT_EQ(Fen(pos), "4k3/8/8/8/8/8/8/4K3 w - - 0 1");
    ASSERT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 b - -"), 1);
    EXPECT_EQ(Fen(pos), "4k3/8/8/8/8/8/8/4K3 b - - 0 1");
}

TEST(Successor, SpecialMoves) {
    CPosition pos;
    ASSERT_EQ(pos.SetFromFEN("4k3/8/8/3pP3/8/8/8/R3K2R w KQ d6 0 1"), 1);
    CPosition* ep = new CPosition(&pos, 36, 43);  // e5xd6 en passant
    EXPECT_EQ(ep->board[35], kEmpty);
    EXPECT_EQ(ep->lastMove->capture, 1);
    DestroyTemporary(ep);

    CPosition* castled = new CPosition(&pos, 4, 6);
    EXPECT_EQ(castled->board[5], kRook);
    EXPECT_EQ(castled->board[7], kEmpty);
    EXPECT_EQ(castled->lastMove->castlingKind, kKingSideCastling);
    DestroyTemporary(castled);

    CPosition* step = new CPosition(&pos, 4, 5);  // the king alone
    EXPECT_EQ(step->board[7], kRook);
    EXPECT_EQ(step->lastMove->castlingKind, kNoCastling);
    DestroyTemporary(step);
}

TEST(Successor, MoveNumbersCountPast255) {
    CPosition pos;
    ASSERT_EQ(pos.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w - - 0 256"), 1);
    EXPECT_EQ(pos.moveNumber, 255);
    CPosition* white = new CPosition(&pos, 4, 12);
    EXPECT_EQ(white->moveNumber, 256);
    EXPECT_EQ(Fen(*white), "4k3/8/8/8/8/8/4K3/8 b - - 0 256");
    CPosition* black = new CPosition(white, 60, 52);
    EXPECT_EQ(Fen(*black), "8/4k3/8/8/8/8/4K3/8 w - - 0 257");
    DestroyTemporary(black);
    DestroyTemporary(white);
}

TEST(Tree, DestroyingAMoveWithClearedLinkKeepsTheRestOfItsChain) {
    CPosition start;
    CPosition* e4 = start.Play(12, 28, nullptr, 0);
    CPosition* d4 = start.Play(11, 27, nullptr, 0);  // alternative
    CPosition* c4 = start.Play(10, 26, nullptr, 0);  // second alternative
    ASSERT_TRUE(e4 && d4 && c4);
    CCoup* head = start.continuation;
    CCoup* second = head->nextAlternative;
    ASSERT_EQ(second, d4->lastMove);
    ASSERT_EQ(second->nextAlternative, c4->lastMove);
    EXPECT_EQ(c4->lastMove->previousAlternative, second);

    // Unlink d4 and destroy it alone: c4 stays behind e4.
    head->nextAlternative = second->nextAlternative;
    second->nextAlternative->previousAlternative = head;
    second->nextAlternative = nullptr;
    delete second;
    EXPECT_EQ(head->nextAlternative, c4->lastMove);
    EXPECT_EQ(Fen(*c4), "rnbqkbnr/pppppppp/8/8/2P5/8/PP1PPPPP/RNBQKBNR b KQkq c3 0 1");
}

TEST(Tree, LongGamesAndDeepVariationsAreDestroyedWithoutDeepRecursion) {
    // 120,000 king moves (legal for the rules here); at every tenth position another move
    // is played first, so the line goes on through an alternative and variations nest
    // 12,000 deep. Naive recursion would be as deep as the game.
    auto* start = new CPosition;
    ASSERT_EQ(start->SetFromFEN("k7/8/8/8/8/8/8/K7 w - - 0 1"), 1);
    CPosition* pos = start;
    const Square walk[4][2] = {{0, 1}, {56, 57}, {1, 0}, {57, 56}};
    for (int i = 0; i < 120000; ++i) {
        const Square* m = walk[i % 4];
        if (i % 10 == 0) {
            ASSERT_NE(pos->Play(m[0], static_cast<Square>(m[0] + 8), nullptr, 0), nullptr);
        }
        CPosition* next = pos->Play(m[0], m[1], nullptr, 0);
        ASSERT_NE(next, nullptr) << i;
        pos = next;
    }
    EXPECT_EQ(pos->moveNumber, 60000);
    delete start;  // must not overflow the stack (nor leak: the sanitizer build checks)
}

}  // namespace
