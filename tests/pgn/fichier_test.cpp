#include "pgn/fichier.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "pgn/session.h"

namespace {

// A file object is bound to the path it is given, or without one to the session's PGN
// path; its name part is what follows the last separator, none without a separator.
TEST(Fichier, BoundToAGivenPathOrTheSessions) {
    std::snprintf(ThePgnSession().pgnPath, sizeof ThePgnSession().pgnPath, "%s",
                  "/tmp/games/chess.000.pgn");
    CFichier session;
    EXPECT_STREQ(session.path, "/tmp/games/chess.000.pgn");
    ASSERT_NE(session.namePart, nullptr);
    EXPECT_STREQ(session.namePart, "chess.000.pgn");

    CFichier given("chess.001.pgn");
    EXPECT_STREQ(given.path, "chess.001.pgn");
    EXPECT_EQ(given.namePart, nullptr);

    const std::string longest(300, 'x');
    CFichier cut(longest.c_str());
    EXPECT_EQ(std::string(cut.path), longest.substr(0, kPathSize - 1));
}

}  // namespace
