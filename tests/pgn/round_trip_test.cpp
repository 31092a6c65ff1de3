// Games written by WritePGN and saved by SaveGame, then indexed by CFichier::Open and by
// the pgnindex tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "pgn/fichier.h"
#include "pgn/save.h"
#include "pgn/writer.h"
#include "session/session.h"
#include "support/pgn_helpers.h"
#include "support/process.h"

namespace {

struct SavedGame {
    std::uint32_t startOffset;
    std::string text;
};

// Saves game into path through a file object of its own, as the recorder does.
SavedGame SaveInto(const std::string& path, CPartie* game) {
    std::snprintf(TheSession().pgnPath, sizeof TheSession().pgnPath, "%s", path.c_str());
    TheSession().currentGame = game;
    SavedGame saved{0, GameText(*game)};
    CFichier file;
    EXPECT_EQ(SaveGame(file), 0u);
    saved.startOffset = game->startOffset;
    TheSession().currentGame = nullptr;
    return saved;
}

// Four games of different kinds, saved one after the other.
std::vector<SavedGame> SaveFourGames(const std::string& path) {
    std::vector<SavedGame> saved;

    auto* plain = new CPartie;
    PlayLine(&plain->startingPosition, "e2e4 e7e5 g1f3");
    saved.push_back(SaveInto(path, plain));

    auto* tagged = new CPartie;
    tagged->SetWhite("Kasparov, Garry");
    tagged->SetBlack("Topalov, Veselin");
    tagged->SetEvent("Hoogovens");
    tagged->SetSite("Wijk aan Zee NED");
    tagged->SetDate("1999.01.20");
    tagged->SetRound("4");
    tagged->SetResultText("1-0");
    tagged->SetTag("ECO", "B07");
    tagged->SetTag("Annotator", "Someone");
    tagged->startingPosition.comment = "A famous game";
    CPosition* e4 = PlayLine(&tagged->startingPosition, "e2e4");
    PlayLine(e4, "d7d6 d2d4 g8f6");
    CPosition* c5 = PlayVariation(e4, "c7c5");
    c5->comment = "the Sicilian instead";
    PlayLine(c5, "g1f3");
    saved.push_back(SaveInto(path, tagged));

    auto* setUp = new CPartie;
    EXPECT_EQ(setUp->startingPosition.SetFromFEN("4k3/8/8/8/8/8/4P3/4K3 w - - 0 40"), 1);
    PlayLine(&setUp->startingPosition, "e2e4 e8e7");
    setUp->SetResult(1);
    saved.push_back(SaveInto(path, setUp));

    auto* empty = new CPartie;
    empty->SetResult(2);
    empty->SetBlack("");
    saved.push_back(SaveInto(path, empty));
    return saved;
}

TEST(RoundTrip, SavedGamesAreIndexedWithTheirOffsetsTagsAndPreviews) {
    ScratchDir dir;
    std::string path = dir / "games.pgn";
    std::vector<SavedGame> saved = SaveFourGames(path);

    std::string bytes = ReadBytes(path);
    ASSERT_EQ(bytes, saved[0].text + "\r\n" + saved[1].text + "\r\n" + saved[2].text + "\r\n" +
                         saved[3].text);
    EXPECT_EQ(saved[0].startOffset, 0u);
    for (std::size_t i = 1; i < saved.size(); ++i)
        EXPECT_EQ(bytes.compare(saved[i].startOffset, 7, "[Event "), 0) << i;

    CFichier index(path.c_str());
    ASSERT_EQ(index.Open(), 1);
    ASSERT_EQ(index.gameCount, 4);
    std::vector<CInfosPartie2*> headers;
    for (CInfosPartie2* h = index.head; h; h = h->next)
        headers.push_back(h);
    ASSERT_EQ(headers.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(headers[i]->startOffset, saved[i].startOffset) << i;

    EXPECT_EQ(headers[0]->White, "White");
    EXPECT_EQ(headers[0]->Date, "????.??.??");
    EXPECT_EQ(headers[0]->result, 3);
    EXPECT_EQ(headers[0]->preview, "1. e4 e5 2. Nf3 *");

    EXPECT_EQ(headers[1]->White, "Kasparov, Garry");
    EXPECT_EQ(headers[1]->Black, "Topalov, Veselin");
    EXPECT_EQ(headers[1]->Event, "Hoogovens");
    EXPECT_EQ(headers[1]->Site, "Wijk aan Zee NED");
    EXPECT_EQ(headers[1]->Date, "1999.01.20");
    EXPECT_EQ(headers[1]->Round, "4");
    EXPECT_EQ(headers[1]->result, 0);
    EXPECT_EQ(headers[1]->ECO, "B07");
    EXPECT_EQ(headers[1]->preview, " {A famous game}1. e4 d6 (1...");

    EXPECT_EQ(headers[2]->preview, "(Position)");
    EXPECT_EQ(headers[2]->result, 1);

    EXPECT_EQ(headers[3]->Black, "");
    EXPECT_EQ(headers[3]->result, 2);
    EXPECT_EQ(headers[3]->preview, " 0-1");
}

TEST(RoundTrip, PgnIndexPrintsOneLinePerGame) {
    ScratchDir dir;
    std::string path = dir / "games.pgn";
    std::vector<SavedGame> saved = SaveFourGames(path);
    RunResult run = RunProgram(dir, {PgnindexBinary(), path});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "0\tWhite\tBlack\t*\t????.??.??\t?\t?\t?\t\t1. e4 e5 2. Nf3 *\n" +
                           std::to_string(saved[1].startOffset) +
                           "\tKasparov, Garry\tTopalov, Veselin\t1-0\t1999.01.20\tHoogovens\t"
                           "Wijk aan Zee NED\t4\tB07\t {A famous game}1. e4 d6 (1...\n" +
                           std::to_string(saved[2].startOffset) +
                           "\tWhite\tBlack\t1/2-1/2\t????.??.??\t?\t?\t?\t\t(Position)\n" +
                           std::to_string(saved[3].startOffset) +
                           "\tWhite\t\t0-1\t????.??.??\t?\t?\t?\t\t 0-1\n");
}

}  // namespace
