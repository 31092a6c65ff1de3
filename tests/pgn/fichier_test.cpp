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

TEST(Fichier, AddGameBuildsTheListItOwns) {
    UsePath("x.pgn");
    CFichier file;
    auto* a = new CInfosPartie2;
    auto* b = new CInfosPartie2;
    file.AddGame(a, 10);
    EXPECT_EQ(file.head, a);
    EXPECT_EQ(file.tail, a);
    file.AddGame(b, 20);
    EXPECT_EQ(file.head, a);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(file.tail, b);
    EXPECT_EQ(b->next, nullptr);
    // Both go with the file object (the leak checker of the sanitizer build sees it).
}

TEST(Fichier, LinkNextStart) {
    UsePath("x.pgn");
    CFichier file;
    auto* a = new CInfosPartie2;
    auto* b = new CInfosPartie2;
    auto* c = new CInfosPartie2;
    file.AddGame(a, 0);
    file.AddGame(b, 0);
    file.AddGame(c, 0);
    a->endOffset = 1234;
    file.LinkNextStart(a, b);
    EXPECT_EQ(c->startOffset, 1234u);
    file.LinkNextStart(a, c);  // c has no successor: nothing changes
    EXPECT_EQ(b->startOffset, 0u);
}

}  // namespace
