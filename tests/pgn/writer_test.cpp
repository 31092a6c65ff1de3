#include "pgn/writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "platform/testkit.h"
#include "support/pgn_helpers.h"

namespace {

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

// Plays the moves of the Opera Game's boardsim script (samples/opera_game.txt).
void PlayOperaGame(CPartie& game) {
    std::ifstream script(std::string(CHESSREC_SAMPLES) + "/opera_game.txt");
    CPosition* pos = &game.startingPosition;
    for (std::string line; std::getline(script, line);) {
        std::istringstream tokens(line.substr(0, line.find('#')));
        for (std::string move; tokens >> move;) {
            if (move.size() == 4) pos = PlayLine(pos, move);
        }
    }
    ASSERT_NE(pos, nullptr);
    ASSERT_EQ(pos->moveNumber, 17);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
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
        EXPECT_EQ(GameText(game), DefaultTags(c.tag) + "\r\n1. d4" + c.marker + "\r\n\r\n")
            << "result " << c.code;
    }
    CPartie empty;  // no moves: the marker alone, with its space
    EXPECT_EQ(GameText(empty), DefaultTags() + "\r\n *\r\n\r\n");
}

TEST(Writer, UnusualHeaders) {
    CPartie game;
    game.SetEvent(nullptr);
    game.SetSite(nullptr);
    game.SetDate(nullptr);
    game.SetRound(nullptr);
    game.SetWhite(nullptr);
    game.SetBlack("");
    game.result = kNoResult;
    game.LastMoveDate = "2024.02.03";
    game.LastMove = -1;
    game.Trait = 5;
    game.SetTag("Annotator", "Jos\xE9 \"Q\" \\");  // 8-bit bytes, no escaping
    // A value that reaches column 80 is continued on the next line.
    game.SetTag("Note", (std::string(30, 'x') + " " + std::string(60, 'y')).c_str());
    PlayLine(&game.startingPosition, "d2d4");
    const std::string further = "[Annotator \"Jos\xE9 \"Q\" \\\"]\r\n[Note \"" +
                                std::string(30, 'x') + "\r\n" + std::string(60, 'y') +
                                "\"]\r\n\r\n1. d4\r\n\r\n";
    const std::string roster =
        "[Event \"?\"]\r\n[Site \"?\"]\r\n[Date \"????.??.??\"]\r\n[Round \"?\"]\r\n"
        "[White \"?\"]\r\n[Black \"\"]\r\n";
    // The correspondence tags only with WhiteEmail, and then all five.
    EXPECT_EQ(GameText(game), roster + further);
    game.WhiteEmail = "w@example.org";
    EXPECT_EQ(GameText(game), roster +
                                  "[WhiteEmail \"w@example.org\"]\r\n[BlackEmail \"?\"]\r\n"
                                  "[LastMoveDate \"2024.02.03\"]\r\n[LastMove \"-1\"]\r\n"
                                  "[Trait \"Black\"]\r\n" +
                                  further);
    game.Trait = 0;
    EXPECT_NE(GameText(game).find("[Trait \"White\"]\r\n"), std::string::npos);
}

TEST(Writer, SetUpPositions) {
    // A FEN line of 90 characters or more is broken at its last space at or before
    // index 78; one of 89 stays whole.
    CPartie game;
    ASSERT_EQ(game.startingPosition.SetFromFEN(
                  "r1b1k1n1/1p1p1p1p/p1p1p1p1/1P1P1P1P/P1P1P1P1/1p1p1p1p/B1N1Q1R1/1R1N1K1B "
                  "b KQkq e3 0 100"),
              1);
    std::string fen = Fen(game.startingPosition);
    ASSERT_EQ(fen.size(), 87u);
    std::string placement = fen.substr(0, fen.find(' '));
    EXPECT_EQ(GameText(game), DefaultTags() + "[SetUp \"1\"]\r\n[FEN \"" + placement + "\r\n" +
                                  fen.substr(placement.size() + 1) + "\"]\r\n\r\n *\r\n\r\n");

    CPartie shorter;
    ASSERT_EQ(
        shorter.startingPosition.SetFromFEN(
            "r1b1k1n1/1p1p1p1p/p1p1p1p1/1P1P1P1P/P1P1P1P1/1p1p1p1p/B1N1Q1R1/p1p1p3 w - - 0 1"),
        1);
    std::string fen89 = Fen(shorter.startingPosition);
    ASSERT_EQ(fen89.size() + 10, 89u);
    EXPECT_EQ(GameText(shorter),
              DefaultTags() + "[SetUp \"1\"]\r\n[FEN \"" + fen89 + "\"]\r\n\r\n *\r\n\r\n");

    // Black to move first: the first move shows its number with three dots.
    CPartie black;
    ASSERT_EQ(black.startingPosition.SetFromFEN("4k3/8/8/8/8/8/8/4K3 b - - 0 300"), 1);
    PlayLine(&black.startingPosition, "e8e7 e1e2");
    EXPECT_EQ(MoveText(GameText(black)), "300... Ke7 301. Ke2 *");
}

TEST(Writer, VariationsCommentsAndGlyphs) {
    // A game comment, a move's comment (an empty one too), glyphs after the move's own
    // annotation code, and two alternatives of one move; the last token and the marker
    // run on to column 82.
    CPartie game;
    game.startingPosition.comment = "Opening";
    CPosition* e4 = PlayLine(&game.startingPosition, "e2e4");
    CPosition* e5 = PlayLine(e4, "e7e5");
    CPosition* nf3 = PlayLine(e5, "g1f3");
    e4->comment = "best";
    e5->glyph = 146;
    e5->comment = "";
    nf3->glyph = 1;
    nf3->lastMove->annotation = 3;
    PlayVariation(&game.startingPosition, "d2d4 d7d5");
    PlayVariation(&game.startingPosition, "c2c4")->comment = "English";
    EXPECT_EQ(MoveText(GameText(game)),
              " {Opening}1. e4 {best} (1. d4 d5) (1. c4 {English}) 1... e5 $146 {} 2. Nf3 $3 $1 *");

    // Variations nest.
    CPartie nested;
    e4 = PlayLine(&nested.startingPosition, "e2e4");
    PlayLine(e4, "e7e5 g1f3");
    CPosition* c5 = PlayVariation(e4, "c7c5");
    PlayLine(c5, "g1f3 d7d6");
    PlayVariation(c5, "c2c3 d7d5");
    EXPECT_EQ(MoveText(GameText(nested)), "1. e4 e5 (1... c5 2. Nf3 (2. c3 d5) 2... d6) 2. Nf3 *");
}

TEST(Writer, DeepVariationsNeedNoDeepStack) {
    // Each variation holds the next one: 20000 levels of parentheses, written on a stack of
    // 256 KiB, which a writer that recursed per level would overflow. Level i is an
    // alternative to the second move of level i - 1: the knights on g1 and g8 shuffle
    // along the deepest line, and the b-knights make the main moves.
    const int depth = 20000;
    std::string text;
    bool ran = platform::testkit::RunOnSmallStack(256 * 1024, [&] {
        CPartie game;
        CPosition* pos = &game.startingPosition;
        PlayLine(pos, "b1c3");
        const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
        for (int i = 0; i < depth && pos; ++i) {
            pos = PlayVariation(pos, shuffle[i % 4]);
            if (pos) PlayLine(pos, i % 2 == 0 ? "b8c6" : "b1c3");
        }
        if (pos) text = MoveText(GameText(game));
    });
    ASSERT_TRUE(ran);
    EXPECT_EQ(std::count(text.begin(), text.end(), '('), depth);
    EXPECT_EQ(std::count(text.begin(), text.end(), ')'), depth);
}

TEST(Writer, WrappingAtTheLineEnd) {
    const struct {
        int column;
        const char* piece;
        bool splittable;
        int reserve;
        const char* written;
    } cases[] = {
        // A short token that would reach column 80 starts the next line without its space.
        {75, " Nf3", false, 0, " Nf3"},
        {76, " Nf3", false, 0, "\r\nNf3"},
        // A token longer than 10 characters may run on to column 89...
        {76, " 10... Nbxd2+", false, 0, " 10... Nbxd2+"},
        {77, " 10... Nbxd2+", false, 0, "\r\n10... Nbxd2+"},
        // ...and so may one whose comment follows, counted in the reserve.
        {65, " Nf3", false, 20, " Nf3"},
        {66, " Nf3", false, 20, "\r\nNf3"},
        {60, " Nf3", false, 40, "\r\nNf3"},
        // Closing brackets and other pieces of one or two characters stay up to column 89.
        {88, ")", true, 0, ")"},
        {89, "}", true, 0, "\r\n}"},
        {85, " (", true, 0, " ("},
        // Text is broken at the last space before the line end, the rest without its
        // leading spaces, or just after a bracket.
        {70, "alpha beta  gamma delta", true, 0, "alpha\r\nbeta  gamma delta"},
        {70, "abc   defghijklmnopqrstu", true, 0, "abc  \r\ndefghijklmnopqrstu"},
        {70, "abcd(efghijklmnopqrstuvwxyz", true, 0, "abcd(\r\nefghijklmnopqrstuvwxyz"},
        {70, "ab{cdefghijklmnopqrstuvwxyz", true, 0, "ab{\r\ncdefghijklmnopqrstuvwxyz"},
        // No break point in range: a new line; no break point at all: the piece whole.
        {60, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa b", true, 0,
         "\r\naaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa b"},
        // An unsplittable piece shorter than 80 characters moves whole to a new line.
        {70, "qqqqqqqqqqqqqqqqqqqq", false, 0, "\r\nqqqqqqqqqqqqqqqqqqqq"},
    };
    for (const auto& c : cases) {
        PgnText out{"", c.column};
        WriteWrapped(out, c.piece, c.splittable, c.reserve, false);
        EXPECT_EQ(out.text, c.written) << "'" << c.piece << "' at column " << c.column;
    }
    // A piece without any break point goes whole onto a line of its own.
    PgnText out{"", 50};
    WriteWrapped(out, std::string(100, 'z').c_str(), true, 0, false);
    EXPECT_EQ(out.text, "\r\n" + std::string(100, 'z'));
}

TEST(Writer, LongGamesAndLongComments) {
    // 300 plies with comments, glyphs and one comment of 1500 characters: every line ends
    // before column 90, only tokens move to a new line, and the breaks fall between
    // tokens or words.
    std::string longComment;
    for (int i = 0; longComment.size() < 1500; ++i)
        longComment += (i ? " w" : "w") + std::to_string(i);
    CPartie game;
    CPosition* pos = &game.startingPosition;
    const char* shuffle[] = {"g1f3", "g8f6", "f3g1", "f6g8"};
    for (int i = 0; i < 300; ++i) {
        pos = PlayLine(pos, shuffle[i % 4]);
        ASSERT_NE(pos, nullptr);
        if (i % 17 == 5) pos->comment = "a remark of some length " + std::to_string(i);
        if (i % 23 == 7) pos->glyph = static_cast<std::uint8_t>(i % 7 + 1);
        if (i == 150) pos->comment = longComment;
    }
    std::vector<std::string> lines = Lines(MoveText(GameText(game)));
    ASSERT_GT(lines.size(), 30u);
    std::string joined;
    for (const std::string& line : lines) {
        EXPECT_LT(line.size(), 90u) << line;
        EXPECT_FALSE(line.empty());
        EXPECT_NE(line[0], ' ') << line;
        joined += (joined.empty() ? "" : " ") + line;
    }
    // Joining the lines with spaces gives the text without wrapping.
    EXPECT_EQ(joined.find("  "), std::string::npos);
    EXPECT_EQ(joined.substr(0, 22), "1. Nf3 Nf6 2. Ng1 Ng8 ");
    EXPECT_NE(joined.find("3. Nf3 Nf6 {a remark of some length 5} 4. Ng1"), std::string::npos);
    EXPECT_NE(joined.find(" {" + longComment + "} "), std::string::npos);

    // A game comment is unsplittable: pieces of 511 characters when it holds no space,
    // each on a line of its own.
    CPartie commented;
    commented.startingPosition.comment = std::string(1100, 'n');
    EXPECT_EQ(MoveText(GameText(commented)), " {\r\n" + std::string(511, 'n') + "\r\n" +
                                                 std::string(511, 'n') + "\r\n" +
                                                 std::string(78, 'n') + "} *");
}

TEST(Writer, BroadcastStyle) {
    // The Opera Game, in the recorder's style as the golden sample holds it, and for a
    // broadcast: its last move mates, the checks before it keep '+', a tag value's quotes
    // and backslash are escaped, and a tag pair too long for a line stays on one.
    CPartie game;
    PlayOperaGame(game);
    const std::string golden = ReadBytes(std::string(CHESSREC_SAMPLES) + "/opera_game.pgn");
    ASSERT_NE(golden.find("11. Bxb5+ Nbd7"), std::string::npos);
    EXPECT_EQ(GameText(game), golden);
    const PgnStyle& broadcast = kExportStyle;
    EXPECT_EQ(GameText(game, broadcast), Replaced(golden, "17. Rd8+ *", "17. Rd8# *"));

    game.SetWhite(R"(Paul "Morphy" \ New Orleans)");
    const std::string white =
        Replaced(golden, R"([White "White"])", R"([White "Paul "Morphy" \ New Orleans"])");
    EXPECT_EQ(GameText(game), white);
    EXPECT_EQ(GameText(game, broadcast), Replaced(Replaced(white, "17. Rd8+ *", "17. Rd8# *"),
                                                  R"([White "Paul "Morphy" \ New Orleans"])",
                                                  R"([White "Paul \"Morphy\" \\ New Orleans"])"));

    const std::string longName(100, 'x');
    game.SetBlack((longName + " " + longName).c_str());
    const std::string line = "\r\n[Black \"" + longName + " " + longName + "\"]\r\n";
    EXPECT_EQ(GameText(game).find(line), std::string::npos);
    EXPECT_NE(GameText(game, broadcast).find(line), std::string::npos);
}

TEST(Writer, WritePGNWritesTheTextWithOneWrite) {
    CPartie game;
    PlayLine(&game.startingPosition, "e2e4 e7e5");
    for (int failing : {2, 1}) {
        ScratchDir dir;
        std::string path = dir / "game.pgn";
        platform::FileHandle file =
            platform::OpenFile(path.c_str(), platform::kWrite, platform::Share::kNone,
                               platform::Disposition::kCreateAlways);
        ASSERT_TRUE(file.IsValid());
        FaultPlan plan(platform::FileOp::kWrite, failing, 28);
        EXPECT_EQ(game.WritePGN(file), failing == 2);
        EXPECT_EQ(plan.Fired(), failing == 1);
        platform::CloseFile(file);
        if (failing == 2) {
            EXPECT_EQ(ReadBytes(path), GameText(game));
        }
    }
}

}  // namespace
