// The PGN reader: the recorder's own files read back to the same bytes, the import format
// of other programs, and games that cannot be read.
#include "pgn/reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pgn/writer.h"
#include "support/chess_helpers.h"
#include "support/files.h"
#include "support/pgn_helpers.h"

namespace {

// The end of the game's main line.
CPosition& LastPosition(CPartie& game) {
    CPosition* pos = &game.startingPosition;
    while (pos->continuation)
        pos = pos->continuation->positionAfter;
    return *pos;
}

// A long game with everything the writer writes: long tags that it breaks across lines,
// comments, nested variations, annotations and glyphs, castling both ways, en passant, an
// under-promotion and a disambiguated knight, made by Play as the recorder makes moves.
void GrowLongGame(CPartie& game) {
    game.SetEvent(
        "Championnat de France des jeunes, open A, ronde 5 (salle des fêtes de la mairie de "
        "Paris)");
    game.SetSite(
        "Aix-les-Bains/Savoie/Auvergne-Rhone-Alpes/France/Europe/Terre/Systeme-solaire/"
        "Voie-lactee");
    game.SetDate("2024.07.14");
    game.SetRound("5.12");
    game.SetWhite("Dupont, Jean-Pierre");
    game.SetBlack("Müller, Eva");
    game.SetTag("Annotator", std::string(65, 'a').c_str());  // its closing quote wraps
    game.SetTag("WhiteElo", "2210");
    // Broken at its first space, then on an empty line before a word too long for one.
    game.SetTag("Sponsor", ("Club des jeunes " + std::string(100, 'g') + " et fils").c_str());
    game.startingPosition.comment =
        "A game comment long enough to be broken across lines by the writer, with (brackets) "
        "and a {brace in it";
    CPosition* f5 = PlayLine(&game.startingPosition, "e2e4 d7d5 e4e5 f7f5");
    CPosition* promoted = PlayLine(f5, "e5f6 b8c6 f6g7 c8e6 g7h8n");
    ASSERT_TRUE(promoted);
    promoted->lastMove->annotation = 3;
    promoted->comment =
        "a comment (of several words) that runs on for long enough to need two lines of its own";
    CPosition* pos = PlayLine(promoted, "d8d7 g1f3 e8c8 f1e2 f8g7 e1g1 g7h8 d2d4 c8b8 b1d2");
    for (int i = 0; pos && i < 20; ++i)
        pos = PlayLine(pos, "g8f6 d2b3 f6g8 b3d2");
    ASSERT_TRUE(pos);
    CPosition* nf3 = PlayVariation(f5, "g1f3");
    nf3->comment = "instead of taking en passant";
    ASSERT_TRUE(PlayLine(nf3, "g8f6 f1b5"));
    CPosition* nc6 = PlayVariation(nf3, "b8c6 d2d4");
    ASSERT_TRUE(nc6);
    nc6->glyph = 14;
    game.SetResult(kResultDraw);
}

TEST(PgnReader, RecorderFilesReadBackToTheSameBytes) {
    CPartie grown;
    GrowLongGame(grown);
    CPartie setUp;
    ASSERT_EQ(
        setUp.startingPosition.SetFromFEN(
            "k1r1b1n1/1p1p1p1p/p1p1p1p1/1N1n1B1b/n1N1b1B1/P1P1P1P1/1P1P1P1P/K1R1B1N1 w - - 0 30"),
        1);
    ASSERT_TRUE(PlayLine(&setUp.startingPosition, "c4b6 a8b8 b6d7"));
    setUp.SetResult(kResultWhiteWins);
    const std::string opera = ReadBytes(std::string(CHESSREC_SAMPLES) + "/opera_game.pgn");
    // A game in progress file: the games that could not be saved, then the game in progress.
    const std::string written = GameText(grown) + "\r\n" + GameText(setUp) + "\r\n" + opera;
    // The writer's line breaks inside tag values and comments: at a space, before a value,
    // before a closing quote, after a bracket; the FEN line broken at a space.
    for (const char* broken :
         {"fêtes de\r\nla mairie", "[Site \"\r\nAix", "aaa\r\n\"]", "with (\r\nbrackets)",
          "(3... Nc6 4. d4 $14)", "jeunes\r\n\r\nggg", "K1R1B1N1\r\nw - - 0 30\"]"})
        ASSERT_NE(written.find(broken), std::string::npos) << broken;

    std::vector<PgnProblem> problems;
    std::vector<std::unique_ptr<CPartie>> games = ReadPgnGames(written, &problems);
    EXPECT_TRUE(problems.empty()) << problems[0].line << ": " << problems[0].what;
    ASSERT_EQ(games.size(), 3u);
    EXPECT_EQ(GameText(*games[0]) + "\r\n" + GameText(*games[1]) + "\r\n" + GameText(*games[2]),
              written);
    EXPECT_EQ(Fen(LastPosition(*games[0])), Fen(LastPosition(grown)));
    EXPECT_EQ(Fen(LastPosition(*games[2])),
              "1n1Rkb1r/p4ppp/4q3/4p1B1/4P3/8/PPP2PPP/2K5 b k - 0 17");
    EXPECT_EQ(games[2]->result, kResultUnknown);
}

// The import format as other programs write it: LF line ends, escapes, move numbers
// written in every way, suffix annotations, ';' comments, castling with zeros, promotion
// without '=', a Result tag that the termination marker contradicts.
TEST(PgnReader, ReadsTheImportFormatOfOtherPrograms) {
    const std::string text =
        "\xEF\xBB\xBF% a line passed over\n"
        "[Event \"Club \\\"Rapid\\\" \\\\ Cup\"]\n"
        "[ White  \"Dupont\" ]\n"
        "[ECO \"C00\"] [Result \"1-0\"]\n"
        "\n"
        "{Opening} 1.e4 e5 2. Nf3 {two} {comments} Nc6 3. Bc4 Bc5 4. 0-0 Nf6 5.\n"
        "d3 d6 6. Bg5 h6!? 7. Bxf6 Qxf6 8. Nc3 ( 8. c3 g5 ( {first} 8... O-O 9. b4 ) 9. d4 )\n"
        "8... Bg4 9. Nd5 Qd8 10. c3 a5 $0 $14 $1 $2 11 b4 axb4 12. cxb4 Bb6 13. a4 Bxf3 14. Qxf3 ; "
        "to the end\n"
        "Nd4 15. Qd1 c6 16.Nxb6 Qxb6 0-1\n"
        "[SetUp \"1\"]\n"
        "[FEN \"4k3/1P6/8/8/3p4/8/4P3/4K3 w - - 0 1\"]\n"
        "1. e4 dxe3 2. b8=Q+ Kd7 3. Qb7+ Ke6 4. Kf1 e2+ 5. Kf2 e1Q+ 6. Kxe1 *";
    std::vector<PgnProblem> problems;
    std::vector<std::unique_ptr<CPartie>> games = ReadPgnGames(text, &problems);
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(GameText(*games[0]),
              "[Event \"Club \"Rapid\" \\ Cup\"]\r\n[Site \"?\"]\r\n[Date \"????.??.??\"]\r\n"
              "[Round \"?\"]\r\n[White \"Dupont\"]\r\n[Black \"Black\"]\r\n[Result \"0-1\"]\r\n"
              "[ECO \"C00\"]\r\n\r\n"
              " {Opening}1. e4 e5 2. Nf3 {two comments} 2... Nc6 3. Bc4 Bc5 4. O-O Nf6 5. d3\r\n"
              "d6 6. Bg5 h6 $5 7. Bxf6 Qxf6 8. Nc3 (8. c3 g5 (8... O-O {first} 9. b4) 9. d4)\r\n"
              "8... Bg4 9. Nd5 Qd8 10. c3 a5 $14 $1 11. b4 axb4 12. cxb4 Bb6 13. a4 Bxf3\r\n"
              "14. Qxf3 {to the end} 14... Nd4 15. Qd1 c6 16. Nxb6 Qxb6 0-1\r\n\r\n");
    EXPECT_EQ(Fen(LastPosition(*games[0])),
              "r3k2r/1p3pp1/1qpp3p/4p3/PPBnP3/3P4/5PPP/R2Q1RK1 w kq - 0 17");
    const std::string setUp = GameText(*games[1]);
    EXPECT_EQ(setUp.substr(setUp.find("[SetUp")),
              "[SetUp \"1\"]\r\n[FEN \"4k3/1P6/8/8/3p4/8/4P3/4K3 w - - 0 1\"]\r\n\r\n"
              "1. e4 dxe3 2. b8=Q+ Kd7 3. Qb7+ Ke6 4. Kf1 e2+ 5. Kf2 e1=Q+ 6. Kxe1 *\r\n\r\n");
    EXPECT_TRUE(problems.empty());
}

// Each game that cannot be read is told with the line it starts on, and reading goes on
// with the next game; no part of a bad game is taken for a game of its own.
TEST(PgnReader, BadGamesAreToldAndPassedOver) {
    const std::string text =
        "[White \"first\"]\n1. e4 e5 *\n\n"                                                // 1
        "[White \"illegal\"]\n1. e4 e5 2. Ke3 *\n\n"                                       // 4
        "[White \"ambiguous\"]\n1. d4 d5 2. Nf3 Nf6 3. Nd2 *\n\n"                          // 7
        "[White \"not a move\"]\n1. e4 Zz9 *\n\n"                                          // 10
        "[White \"bad tag\"]\n[Black broken]\n[Round \"2\"]\n\n1. d4 *\n\n"                // 13
        "[White \"cut short\"]\n1. e4 e5 2. Nf3\n"                                         // 19
        "[White \"unopened\"]\n1. e4 ) e5 *\n\n"                                           // 21
        "[White \"unclosed\"]\n1. e4 (1. d4 1-0\n\n"                                       // 24
        "[White \"no kings\"]\n[SetUp \"1\"]\n[FEN \"8/8/8/8/8/8/8/8 w - - 0 1\"]\n*\n\n"  // 27
        "[White \"garbage\"]\n1. e4 <e5> *\n\n"                                            // 32
        "[White \"castling\"]\n1. e4 e5 2. 0-0 *\n\n"                                      // 35
        "[White \"twice\"]\n1. e4 Nf3 *\n\n"                                               // 38
        "[White \"second\"]\n1. d4 d5 1-0\n\n"                                             // 41
        "[White \"at the end\"]\n1. e4\n";                                                 // 44
    std::vector<PgnProblem> problems;
    std::vector<std::unique_ptr<CPartie>> games = ReadPgnGames(text, &problems);
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0]->White, "first");
    EXPECT_EQ(games[1]->White, "second");
    EXPECT_EQ(games[1]->result, kResultWhiteWins);
    std::vector<std::string> told;
    for (const PgnProblem& problem : problems)
        told.push_back(std::to_string(problem.line) + ": " + problem.what);
    EXPECT_EQ(told,
              (std::vector<std::string>{
                  "4: move 2. Ke3 is not legal (line 5)",
                  "7: move 3. Nd2 is ambiguous (line 8)",
                  "10: move 1... Zz9 is not a move (line 11)",
                  "13: not a tag pair: [Name \"value\"] expected (line 14)",
                  "19: no termination marker before the tag pair on line 21",
                  "21: ')' without '(' (line 22)",
                  "24: variation not closed (line 25)",
                  "27: FEN \"8/8/8/8/8/8/8/8 w - - 0 1\" has not one king of each side (line 29)",
                  "32: unexpected character '<' (line 33)",
                  "35: move 2. 0-0 is not legal (line 36)",
                  "38: move 1... Nf3 is not legal: the other side's move (line 39)",
                  "44: no termination marker",
              }));
}

// What a hostile file can do costs time in proportion to its size, and no stack.
TEST(PgnReader, HostileTextIsAnsweredWithAValue) {
    std::vector<PgnProblem> problems;
    std::string nested = "1. e4";
    for (int i = 0; i < 100000; ++i)
        nested += " (1. d4";
    EXPECT_TRUE(ReadPgnGames(nested + " *", &problems).empty());
    EXPECT_EQ(problems.back().what, "variations nested deeper than 64");
    EXPECT_TRUE(ReadPgnGames("1. " + std::string(1000000, 'a') + " *", &problems).empty());
    EXPECT_EQ(problems.back().what, "move 1. aaaaaaaaaaaaaaaaaaaaaaaa... is not a move");
    EXPECT_TRUE(
        ReadPgnGames(std::string("[White \"") + std::string(100000, '{'), &problems).empty());
    EXPECT_EQ(problems.back().what, "tag value not closed");

    // One line of a million characters, and a hundred thousand variations of one move.
    std::string line;
    for (int i = 0; i < 62500; ++i)
        line += "Nf3 Nf6 Ng1 Ng8 ";
    std::string variations = "1. e4";
    for (int i = 0; i < 100000; ++i)
        variations += " (1. d4)";
    std::vector<std::unique_ptr<CPartie>> games =
        ReadPgnGames(line + "*\n\n" + variations + " *", &problems);
    ASSERT_EQ(games.size(), 2u);
    int plies = 0;
    for (CCoup* move = games[0]->startingPosition.continuation; move;
         move = move->positionAfter->continuation)
        ++plies;
    EXPECT_EQ(plies, 250000);
    int alternatives = 0;
    for (CCoup* move = games[1]->startingPosition.continuation; move; move = move->nextAlternative)
        ++alternatives;
    EXPECT_EQ(alternatives, 100001);
}

}  // namespace
