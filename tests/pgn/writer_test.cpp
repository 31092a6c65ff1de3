#include "pgn/writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/pgn_helpers.h"

namespace {

// What WriteWrapped writes for piece from column, and the column after it.
struct Wrapped {
    std::string text;
    int column;
};
Wrapped WrapFrom(int column, const std::string& piece, bool splittable, int reserve = 0,
                 bool skip = false) {
    ScratchDir dir;
    std::string path = dir / "piece";
    platform::FileHandle file =
        platform::OpenFile(path.c_str(), platform::kWrite, platform::Share::kNone,
                           platform::Disposition::kCreateAlways);
    SetOutputColumn(column);
    EXPECT_TRUE(WriteWrapped(file, piece.c_str(), splittable, reserve, skip));
    int after = OutputColumn();
    platform::CloseFile(file);
    return {ReadBytes(path), after};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

// The move text of a written game: from the empty line after the tags to the marker.
std::string MoveText(const std::string& pgn) {
    std::size_t start = pgn.find("\r\n\r\n") + 4;
    return pgn.substr(start, pgn.size() - 4 - start);
}

TEST(Writer, PlainGameWithTheDefaultTags) {
    CPartie game;
    PlayLine(&game.startingPosition, "e2e4 e7e5 g1f3");
    EXPECT_EQ(PgnText(game), DefaultTags() + "\r\n1. e4 e5 2. Nf3 *\r\n\r\n");
}

TEST(Writer, GameWithoutMoves) {
    CPartie game;
    EXPECT_EQ(PgnText(game), DefaultTags() + "\r\n *\r\n\r\n");
}

TEST(Writer, ResultTagAndTerminationMarker) {
    const struct {
        int code;
        const char* tag;
        const char* marker;
    } cases[] = {{0, "1-0", " 1-0"}, {1, "1/2-1/2", " 1/2-1/2"}, {2, "0-1", " 0-1"},
                 {3, "*", " *"},     {-1, nullptr, ""},          {7, nullptr, ""}};
    for (const auto& c : cases) {
        CPartie game;
        PlayLine(&game.startingPosition, "d2d4");
        game.result = c.code;
        EXPECT_EQ(PgnText(game), DefaultTags(c.tag) + "\r\n1. d4" + c.marker + "\r\n\r\n")
            << "result " << c.code;
    }
}

TEST(Writer, TagsWithoutAStringAndValuesAsStored) {
    CPartie game;
    game.SetEvent(nullptr);
    game.SetSite(nullptr);
    game.SetDate(nullptr);
    game.SetRound(nullptr);
    game.SetWhite(nullptr);
    game.SetBlack("");
    game.SetTag("Annotator", "Jos\xE9 \"Q\" \\");  // 8-bit bytes, no escaping
    game.SetTag("ECO", "C20");
    EXPECT_EQ(PgnText(game),
              "[Event \"?\"]\r\n[Site \"?\"]\r\n[Date \"????.??.??\"]\r\n[Round \"?\"]\r\n"
              "[White \"?\"]\r\n[Black \"\"]\r\n[Result \"*\"]\r\n"
              "[Annotator \"Jos\xE9 \"Q\" \\\"]\r\n[ECO \"C20\"]\r\n\r\n *\r\n\r\n");
}

TEST(Writer, CorrespondenceTagsOnlyWithWhiteEmail) {
    CPartie game;
    game.BlackEmail = "b@example.org";
    game.LastMove = 12;
    EXPECT_EQ(PgnText(game), DefaultTags() + "\r\n *\r\n\r\n");

    game.WhiteEmail = "w@example.org";
    game.BlackEmail.reset();
    game.LastMove = -1;
    game.Trait = 0;
    game.SetTag("Mode", "EM");
    std::string expected = DefaultTags() +
                           "[WhiteEmail \"w@example.org\"]\r\n[BlackEmail \"?\"]\r\n"
                           "[LastMoveDate \"?\"]\r\n[LastMove \"-1\"]\r\n[Trait \"White\"]\r\n"
                           "[Mode \"EM\"]\r\n\r\n *\r\n\r\n";
    EXPECT_EQ(PgnText(game), expected);
    game.Trait = 5;
    game.LastMoveDate = "2024.02.03";
    std::string black = PgnText(game);
    EXPECT_NE(black.find("[LastMoveDate \"2024.02.03\"]\r\n[LastMove \"-1\"]\r\n"
                         "[Trait \"Black\"]\r\n"),
              std::string::npos);
}

TEST(Writer, CommentsAndGlyphs) {
    CPartie game;
    game.startingPosition.comment = "Opening";
    CPosition* e4 = PlayLine(&game.startingPosition, "e2e4");
    CPosition* e5 = PlayLine(e4, "e7e5");
    PlayLine(e5, "g1f3");
    EXPECT_EQ(MoveText(PgnText(game)), " {Opening}1. e4 e5 2. Nf3 *");

    e4->comment = "best";
    EXPECT_EQ(MoveText(PgnText(game)), " {Opening}1. e4 {best} 1... e5 2. Nf3 *");

    game.startingPosition.comment.reset();
    e4->comment.reset();
    e4->glyph = 1;
    e4->lastMove->annotation = 3;  // the move's own code comes first, from WriteSAN
    e5->glyph = 146;
    EXPECT_EQ(MoveText(PgnText(game)), "1. e4 $3 $1 e5 $146 2. Nf3 *");

    e5->comment = "";  // an empty comment is still a comment
    EXPECT_EQ(MoveText(PgnText(game)), "1. e4 $3 $1 e5 $146 {} 2. Nf3 *");
}

TEST(Writer, VariationsNestTwoDeep) {
    CPartie game;
    CPosition* e4 = PlayLine(&game.startingPosition, "e2e4");
    PlayLine(e4, "e7e5 g1f3");
    CPosition* c5 = PlayVariation(e4, "c7c5");
    PlayLine(c5, "g1f3 d7d6");
    PlayVariation(c5, "c2c3 d7d5");
    EXPECT_EQ(MoveText(PgnText(game)), "1. e4 e5 (1... c5 2. Nf3 (2. c3 d5) 2... d6) 2. Nf3 *");
}

TEST(Writer, SeveralAlternativesOfOneMove) {
    CPartie game;
    PlayLine(&game.startingPosition, "e2e4 e7e5");
    PlayVariation(&game.startingPosition, "d2d4 d7d5");
    CPosition* c4 = PlayVariation(&game.startingPosition, "c2c4");
    c4->comment = "English";
    EXPECT_EQ(MoveText(PgnText(game)), "1. e4 (1. d4 d5) (1. c4 {English}) 1... e5 *");
}

TEST(Writer, DeepVariationsDoNotExhaustTheStack) {
    // Each variation holds the next one: 20000 levels of parentheses.
    // Level i is an alternative to the second move of level i - 1: the knights on g1
    // and g8 shuffle along the deepest line, and the b-knights make the main moves.
    CPartie game;
    CPosition* pos = &game.startingPosition;
    ASSERT_NE(PlayLine(pos, "b1c3"), nullptr);
    const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    const int depth = 20000;
    for (int i = 0; i < depth; ++i) {
        CPosition* alternative = PlayVariation(pos, shuffle[i % 4]);
        ASSERT_NE(alternative, nullptr);
        ASSERT_NE(PlayLine(alternative, i % 2 == 0 ? "b8c6" : "b1c3"), nullptr);
        pos = alternative;
    }
    std::string text = MoveText(PgnText(game));
    EXPECT_EQ(std::count(text.begin(), text.end(), '('), depth);
    EXPECT_EQ(std::count(text.begin(), text.end(), ')'), depth);
}

TEST(Writer, SetUpPositionAndTheFenLine) {
    // A FEN line of 90 characters or more is broken at its last space at or before
    // index 78.
    CPartie game;
    ASSERT_EQ(game.startingPosition.SetFromFEN(
                  "r1b1k1n1/1p1p1p1p/p1p1p1p1/1P1P1P1P/P1P1P1P1/1p1p1p1p/B1N1Q1R1/1R1N1K1B "
                  "b KQkq e3 0 100"),
              1);
    std::string fen = Fen(game.startingPosition);
    ASSERT_EQ(fen.size(), 87u);
    std::string placement = fen.substr(0, fen.find(' '));
    EXPECT_EQ(PgnText(game), DefaultTags() + "[SetUp \"1\"]\r\n[FEN \"" + placement + "\r\n" +
                                 fen.substr(placement.size() + 1) + "\"]\r\n\r\n *\r\n\r\n");

    // 89 characters: one line.
    CPartie shorter;
    ASSERT_EQ(
        shorter.startingPosition.SetFromFEN(
            "r1b1k1n1/1p1p1p1p/p1p1p1p1/1P1P1P1P/P1P1P1P1/1p1p1p1p/B1N1Q1R1/p1p1p3 w - - 0 1"),
        1);
    std::string fen89 = Fen(shorter.startingPosition);
    ASSERT_EQ(fen89.size() + 10, 89u);
    EXPECT_EQ(PgnText(shorter),
              DefaultTags() + "[SetUp \"1\"]\r\n[FEN \"" + fen89 + "\"]\r\n\r\n *\r\n\r\n");
}

TEST(Writer, BlackToMoveInASetUpPositionShowsThreeDots) {
    CPartie game;
    ASSERT_EQ(game.startingPosition.SetFromFEN("4k3/8/8/8/8/8/8/4K3 b - - 0 300"), 1);
    PlayLine(&game.startingPosition, "e8e7 e1e2");
    EXPECT_EQ(MoveText(PgnText(game)), "300... Ke7 301. Ke2 *");
}

TEST(Writer, ATagValueReachingColumn80IsContinued) {
    CPartie game;
    std::string value = std::string(30, 'x') + " " + std::string(60, 'y');
    game.SetEvent(value.c_str());
    std::string pgn = PgnText(game);
    EXPECT_EQ(pgn.substr(0, pgn.find("[Site")),
              "[Event \"" + std::string(30, 'x') + "\r\n" + std::string(60, 'y') + "\"]\r\n");
}

TEST(Writer, WrappingOfMoveTokens) {
    // A short token that would reach column 80 starts the next line without its space.
    EXPECT_EQ(WrapFrom(75, " Nf3", false).text, " Nf3");
    Wrapped moved = WrapFrom(76, " Nf3", false);
    EXPECT_EQ(moved.text, "\r\nNf3");
    EXPECT_EQ(moved.column, 3);
    // A token longer than 10 characters may run on to column 89.
    EXPECT_EQ(WrapFrom(76, " 10... Nbxd2+", false).text, " 10... Nbxd2+");
    EXPECT_EQ(WrapFrom(77, " 10... Nbxd2+", false).text, "\r\n10... Nbxd2+");
    // So may a token whose comment follows, counted in the reserve.
    EXPECT_EQ(WrapFrom(65, " Nf3", false, 20).text, " Nf3");
    EXPECT_EQ(WrapFrom(66, " Nf3", false, 20).text, "\r\nNf3");
    EXPECT_EQ(WrapFrom(60, " Nf3", false, 40).text, "\r\nNf3");
}

TEST(Writer, ClosingBracketsStayOnTheirLine) {
    for (const char* piece : {")", "}"}) {
        Wrapped at79 = WrapFrom(79, piece, true);
        EXPECT_EQ(at79.text, piece);
        EXPECT_EQ(at79.column, 80);
        EXPECT_EQ(WrapFrom(88, piece, true).text, piece);
        EXPECT_EQ(WrapFrom(89, piece, true).text, std::string("\r\n") + piece);
    }
    EXPECT_EQ(WrapFrom(85, " (", true).text, " (");
    EXPECT_EQ(WrapFrom(85, " {", true).text, " {");
}

TEST(Writer, BreakingTextPieces) {
    // At the last space before the line end; the rest loses its leading spaces.
    Wrapped spaced = WrapFrom(70, "alpha beta  gamma delta", true);
    EXPECT_EQ(spaced.text, "alpha\r\nbeta  gamma delta");
    EXPECT_EQ(spaced.column, 17);
    EXPECT_EQ(WrapFrom(70, "abc   defghijklmnopqrstu", true).text, "abc  \r\ndefghijklmnopqrstu");
    // Just after a bracket, which stays on the first line.
    EXPECT_EQ(WrapFrom(70, "abcd(efghijklmnopqrstuvwxyz", true).text,
              "abcd(\r\nefghijklmnopqrstuvwxyz");
    EXPECT_EQ(WrapFrom(70, "ab{cdefghijklmnopqrstuvwxyz", true).text,
              "ab{\r\ncdefghijklmnopqrstuvwxyz");
    // No break point in range: a new line, and the piece is broken there if it can be.
    Wrapped retried = WrapFrom(60, std::string(40, 'a') + " b", true);
    EXPECT_EQ(retried.text, "\r\n" + std::string(40, 'a') + " b");
    // No break point at all: the piece is written whole after the line break.
    Wrapped whole = WrapFrom(50, std::string(100, 'z'), true);
    EXPECT_EQ(whole.text, "\r\n" + std::string(100, 'z'));
    EXPECT_EQ(whole.column, 100);
    // An unsplittable piece shorter than 80 characters moves whole to a new line.
    EXPECT_EQ(WrapFrom(70, std::string(20, 'q'), false).text, "\r\n" + std::string(20, 'q'));
}

TEST(Writer, ColumnAfterALineBreak) {
    EXPECT_EQ(WrapFrom(10, "\"]\r\n", true).column, 0);
    EXPECT_EQ(WrapFrom(10, "ab\r\ncd", true).column, 2);
    EXPECT_EQ(WrapFrom(10, "\r\n\r\n", true).column, 2);
    EXPECT_EQ(WrapFrom(10, "abc", true).column, 13);
}

TEST(Writer, FindBreak) {
    bool atSpace = false;
    EXPECT_EQ(FindBreak("ab cd(ef", 7, &atSpace), 6);
    EXPECT_FALSE(atSpace);
    EXPECT_EQ(FindBreak("ab cd(ef", 4, &atSpace), 2);
    EXPECT_TRUE(atSpace);
    EXPECT_EQ(FindBreak("abcdef", 5, &atSpace), -1);
    EXPECT_EQ(FindBreak("ab cd", 100, &atSpace), 2);  // a start past the end is clamped
    EXPECT_EQ(FindBreak("", 10, &atSpace), -1);
}

TEST(Writer, LongGamesKeepTheirLinesShort) {
    // 300 plies with comments and glyphs: every line ends before column 90, only tokens
    // move to a new line, and the breaks fall between tokens.
    CPartie game;
    CPosition* pos = &game.startingPosition;
    const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    std::string unwrapped;
    for (int i = 0; i < 300; ++i) {
        pos = PlayLine(pos, shuffle[i % 4]);
        ASSERT_NE(pos, nullptr);
        if (i % 17 == 5) pos->comment = "a remark of some length " + std::to_string(i);
        if (i % 23 == 7) pos->glyph = static_cast<std::uint8_t>(i % 7 + 1);
    }
    std::string text = MoveText(PgnText(game));
    std::vector<std::string> lines = Lines(text);
    ASSERT_GT(lines.size(), 10u);
    for (const std::string& line : lines) {
        EXPECT_LT(line.size(), 90u) << line;
        EXPECT_FALSE(line.empty());
        EXPECT_NE(line[0], ' ') << line;
    }
    // Joining the lines with spaces gives the text without wrapping.
    std::string joined;
    for (const std::string& line : lines)
        joined += (joined.empty() ? "" : " ") + line;
    EXPECT_EQ(joined.find("  "), std::string::npos);
    EXPECT_EQ(joined.substr(0, 22), "1. Nf3 Nf6 2. Ng1 Ng8 ");
    EXPECT_NE(joined.find("3. Nf3 Nf6 {a remark of some length 5} 4. Ng1"), std::string::npos);
}

TEST(Writer, LongCommentsAreWrittenInPieces) {
    std::string comment;
    for (int i = 0; comment.size() < 1500; ++i)
        comment += (i ? " w" : "w") + std::to_string(i);
    CPartie game;
    CPosition* e4 = PlayLine(&game.startingPosition, "e2e4");
    e4->comment = comment;
    std::string text = MoveText(PgnText(game));
    std::vector<std::string> lines = Lines(text);
    std::string joined;
    for (const std::string& line : lines) {
        EXPECT_LT(line.size(), 90u) << line;
        joined += (joined.empty() ? "" : " ") + line;
    }
    EXPECT_EQ(joined, "1. e4 {" + comment + "} *");
}

TEST(Writer, WriteLongTextCutsAtSpacesOrAt511) {
    ScratchDir dir;
    std::string path = dir / "long";
    platform::FileHandle file =
        platform::OpenFile(path.c_str(), platform::kWrite, platform::Share::kNone,
                           platform::Disposition::kCreateAlways);
    // 1100 bytes without a space, written unsplittable at a column far past the end: each
    // piece goes whole onto a line of its own, so the pieces show as lines.
    std::string text(1100, 'n');
    SetOutputColumn(0);
    ASSERT_TRUE(WriteLongText(text.c_str(), file, false));
    platform::CloseFile(file);
    std::vector<std::string> lines = Lines(ReadBytes(path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1].size(), 511u);
    EXPECT_EQ(lines[2].size(), 511u);
    EXPECT_EQ(lines[3].size(), 78u);
}

TEST(Writer, AFailedWriteIsReported) {
    CPartie game;
    PlayLine(&game.startingPosition, "e2e4 e7e5");
    for (int nth = 1;; ++nth) {
        ScratchDir dir;
        std::string path = dir / "game.pgn";
        platform::FileHandle file =
            platform::OpenFile(path.c_str(), platform::kWrite, platform::Share::kNone,
                               platform::Disposition::kCreateAlways);
        bool written;
        bool fired;
        {
            FaultPlan plan(platform::FileOp::kWrite, nth, 28);
            written = game.WritePGN(file);
            fired = plan.Fired();
        }
        platform::CloseFile(file);
        if (!fired) {
            EXPECT_TRUE(written);
            EXPECT_GT(nth, 10);
            break;
        }
        EXPECT_FALSE(written) << "write " << nth;
    }
}

}  // namespace
