// The deepest perft levels: seconds each, so they run as tests of their own (label "slow").
#include <gtest/gtest.h>

#include "support/perft.h"

namespace {

TEST(PerftDeep, InitialDepth5) {
    EXPECT_EQ(PerftFrom(kInitial, 5), 4865609u);
}
TEST(PerftDeep, KiwipeteDepth4) {
    EXPECT_EQ(PerftFrom(kKiwipete, 4), 4085603u);
}
TEST(PerftDeep, EndgameEnPassantPinsDepth5) {
    EXPECT_EQ(PerftFrom(kEndgame, 5), 674624u);
}
TEST(PerftDeep, PromotionsDepth4) {
    EXPECT_EQ(PerftFrom(kPromotions, 4), 422333u);
}
TEST(PerftDeep, TalkchessDepth4) {
    EXPECT_EQ(PerftFrom(kTalkchess, 4), 2103487u);
}

}  // namespace
