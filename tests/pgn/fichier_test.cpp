#include "pgn/fichier.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "pgn/session.h"

namespace {

void UsePath(const char* path) {
    std::snprintf(ThePgnSession().pgnPath, sizeof ThePgnSession().pgnPath, "%s", path);
}

TEST(Fichier, BoundToTheSessionPath) {
    UsePath("/tmp/games/chess.000.pgn");
    CFichier file;
    EXPECT_STREQ(file.path, "/tmp/games/chess.000.pgn");
    ASSERT_NE(file.namePart, nullptr);
    EXPECT_STREQ(file.namePart, "chess.000.pgn");
    EXPECT_EQ(file.head, nullptr);
    EXPECT_EQ(file.tail, nullptr);
    EXPECT_EQ(file.gameCount, 0);

    UsePath("chess.000.pgn");
    CFichier bare;
    EXPECT_EQ(bare.namePart, nullptr);
    EXPECT_STREQ(bare.path, "chess.000.pgn");
}

}  // namespace
