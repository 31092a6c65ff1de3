#include "game/partie.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/testkit.h"
#include "support/chess_helpers.h"

namespace {

// A view that writes down every notification as "name:event".
class RecordingView : public IPartieView {
public:
    RecordingView(std::string name, std::vector<std::string>* log)
        : name_(std::move(name)), log_(log) {}

    void OnMove(CCoup* move) override { log_->push_back(name_ + ":move " + San(*move)); }
    void OnPosition(CPosition* position) override {
        log_->push_back(name_ + ":position " + Fen(*position));
    }
    void OnRefresh() override { log_->push_back(name_ + ":refresh"); }
    CPosition* ChooseVariation(CCoup* continuation) override {
        log_->push_back(name_ + ":choose " + San(*continuation));
        return choice;
    }

    CPosition* choice = nullptr;

private:
    std::string name_;
    std::vector<std::string>* log_;
};

// 1. e4 e5 (1... c5 2. Nf3) 2. Nf3: the main line and one variation to Black's first move.
struct GameWithVariation {
    CPartie* game = new CPartie;
    CPosition* afterE4;
    CPosition* afterE5;
    CPosition* afterNf3;
    CPosition* variationEnd;

    GameWithVariation() {
        afterE4 = PlayLine(&game->startingPosition, "e2e4");
        afterE5 = PlayLine(afterE4, "e7e5");
        afterNf3 = PlayLine(afterE5, "g1f3");
        CPosition* c5 = afterE4->Play(Sq("c7"), Sq("c5"), nullptr, 0);  // appended: a variation
        variationEnd = PlayLine(c5, "g1f3");
    }
    ~GameWithVariation() { delete game; }
};

TEST(Partie, ANewGameViewsItsStart) {
    CPartie game;
    EXPECT_EQ(game.GetViewedPosition(), &game.startingPosition);
    std::vector<std::string> log;
    RecordingView view("v", &log);
    game.AddView(&view, false);
    game.GoToEnd();  // no moves: stays, and still tells the view once
    EXPECT_EQ(game.GetViewedPosition(), &game.startingPosition);
    EXPECT_EQ(log.size(), 1u);
}

TEST(Partie, EverySetterMarksTheGameModified) {
    const std::vector<void (*)(CPartie&)> setters = {
        [](CPartie& g) { g.SetWhite("White"); },  // the same text it holds
        [](CPartie& g) { g.SetBlack(nullptr); },
        [](CPartie& g) { g.SetDate("2024.01.01"); },
        [](CPartie& g) { g.SetRound("1"); },
        [](CPartie& g) { g.SetSite("Here"); },
        [](CPartie& g) { g.SetEvent("Club"); },
        [](CPartie& g) { g.SetResultText("1-0"); },
        [](CPartie& g) { g.SetResult(1); },
        [](CPartie& g) { g.SetTag("Annotator", "Me"); },
        [](CPartie& g) {
            CPGNHeader stranger("A", "B");
            EXPECT_EQ(g.RemoveTag(&stranger), nullptr);  // not in the list: still marks
        },
    };
    for (std::size_t i = 0; i < setters.size(); ++i) {
        CPartie game;
        setters[i](game);
        EXPECT_EQ(game.modified, 1) << "setter " << i;
    }
    // Setters reached through the game information are the game's own.
    CPartie game;
    CInfosPartie& infos = game;
    infos.SetSite("There");
    EXPECT_EQ(game.modified, 1);
    // Playing moves does not touch the flag.
    CPartie played;
    PlayLine(&played.startingPosition, "e2e4 e7e5");
    EXPECT_EQ(played.modified, 0);
}

TEST(Partie, StepsAndNotifications) {
    GameWithVariation g;
    std::vector<std::string> log;
    RecordingView primary("p", &log), second("s", &log);
    ASSERT_EQ(g.game->AddView(&second, false), 1);
    ASSERT_EQ(g.game->AddView(&primary, true), 1);

    g.game->StepBack();  // at the start: nothing, nobody told
    EXPECT_TRUE(log.empty());
    g.game->GoToStart();  // unchanged position, but told, primary first
    EXPECT_EQ(log, (std::vector<std::string>{"p:position " + Fen(g.game->startingPosition),
                                             "s:position " + Fen(g.game->startingPosition)}));
    log.clear();
    g.game->StepForward();
    EXPECT_EQ(g.game->GetViewedPosition(), g.afterE4);
    EXPECT_EQ(log.size(), 2u);
    g.game->GoToEnd();  // the main line only
    EXPECT_EQ(g.game->GetViewedPosition(), g.afterNf3);
    g.game->StepBack();
    EXPECT_EQ(g.game->GetViewedPosition(), g.afterE5);
    g.game->GoToPosition(g.variationEnd);
    EXPECT_EQ(g.game->GetViewedPosition(), g.variationEnd);
    g.game->StepBack();
    g.game->GoToEnd();  // from inside the variation: to the variation's end
    EXPECT_EQ(g.game->GetViewedPosition(), g.variationEnd);
}

TEST(Partie, StepForwardBetweenAlternativesAsksThePrimaryView) {
    GameWithVariation g;
    std::vector<std::string> log;
    g.game->GoToPosition(g.afterE4);

    g.game->StepForward();  // no primary view: nothing
    EXPECT_EQ(g.game->GetViewedPosition(), g.afterE4);

    RecordingView primary("p", &log), second("s", &log);
    g.game->AddView(&primary, true);
    g.game->AddView(&second, false);
    g.game->StepForward();  // the primary view chooses nothing
    EXPECT_EQ(g.game->GetViewedPosition(), g.afterE4);
    EXPECT_EQ(log, (std::vector<std::string>{"p:choose e5"}));

    log.clear();
    primary.choice = g.variationEnd->lastMove->positionBefore;  // after 1... c5
    g.game->StepForward();
    EXPECT_EQ(g.game->GetViewedPosition(), primary.choice);
    EXPECT_EQ(log, (std::vector<std::string>{"p:choose e5", "p:position " + Fen(*primary.choice),
                                             "s:position " + Fen(*primary.choice)}));
    // Inside the variation there is a single continuation: no question.
    log.clear();
    g.game->StepForward();
    EXPECT_EQ(g.game->GetViewedPosition(), g.variationEnd);
    EXPECT_EQ(log.size(), 2u);
    g.game->StepForward();  // end of the line: nothing
    EXPECT_EQ(log.size(), 2u);
}

TEST(Partie, LeaveVariationReturnsOneLevelUp) {
    GameWithVariation g;
    std::vector<std::string> log;
    RecordingView view("v", &log);
    g.game->AddView(&view, false);

    g.game->GoToPosition(g.variationEnd);
    log.clear();
    g.game->LeaveVariation();
    EXPECT_EQ(g.game->GetViewedPosition(), g.afterE5);
    EXPECT_EQ(log.size(), 1u);

    // From any main-line position: nothing, and nobody told.
    for (CPosition* pos : {&g.game->startingPosition, g.afterE4, g.afterE5, g.afterNf3}) {
        g.game->GoToPosition(pos);
        log.clear();
        g.game->LeaveVariation();
        EXPECT_EQ(g.game->GetViewedPosition(), pos);
        EXPECT_TRUE(log.empty());
    }

    // Two levels deep: 1. e4 e5 (1... c5 2. Nf3 (2. c3)) leaves to after 2. Nf3 of the
    // variation, then to after 1... e5.
    CPosition* afterC5 = g.variationEnd->lastMove->positionBefore;
    CPosition* c3 = afterC5->Play(Sq("c2"), Sq("c3"), nullptr, 0);
    CPosition* deep = PlayLine(c3, "d7d5");
    g.game->GoToPosition(deep);
    g.game->LeaveVariation();
    EXPECT_EQ(g.game->GetViewedPosition(), g.variationEnd);
    g.game->LeaveVariation();
    EXPECT_EQ(g.game->GetViewedPosition(), g.afterE5);
}

TEST(Partie, GoToLastMoveFindsTheCorrespondenceMove) {
    GameWithVariation g;
    auto viewedAfter = [&](int lastMove, int trait) {
        g.game->GoToPosition(g.afterNf3);
        g.game->LastMove = static_cast<std::int16_t>(lastMove);
        g.game->Trait = static_cast<std::uint16_t>(trait);
        g.game->GoToLastMove();
        return g.game->GetViewedPosition();
    };
    EXPECT_EQ(viewedAfter(0, 0), &g.game->startingPosition);
    EXPECT_EQ(viewedAfter(1, 0), g.afterE5);   // White to move: Black moved last
    EXPECT_EQ(viewedAfter(1, 32), g.afterE4);  // Black to move: White moved last
    EXPECT_EQ(viewedAfter(2, 32), g.afterNf3);
    EXPECT_EQ(viewedAfter(2, 0), &g.game->startingPosition);  // Black's move 2 not played
    EXPECT_EQ(viewedAfter(300, 32), &g.game->startingPosition);
    EXPECT_EQ(viewedAfter(-1, 32), &g.game->startingPosition);
    EXPECT_EQ(viewedAfter(1, 1), &g.game->startingPosition);
    EXPECT_EQ(viewedAfter(1, 0x120), g.afterE4);  // only the low 8 bits count
}

TEST(Partie, GoToLastMoveMatchesMoveNumbersAbove255) {
    // Move numbers are 16-bit: a game set up at move 299 finds its move 300.
    CPartie game;
    ASSERT_EQ(game.startingPosition.SetFromFEN("4k3/8/8/8/8/8/8/4K3 w - - 0 300"), 1);
    CPosition* after = PlayLine(&game.startingPosition, "e1e2 e8e7");
    game.LastMove = 300;
    game.Trait = 0;
    game.GoToLastMove();
    EXPECT_EQ(game.GetViewedPosition(), after);
}

TEST(Partie, MovePlayedAndRefreshSkipTheSender) {
    GameWithVariation g;
    std::vector<std::string> log;
    RecordingView primary("p", &log), s1("s1", &log), s2("s2", &log);
    g.game->AddView(&primary, true);
    g.game->AddView(&s1, false);
    g.game->AddView(&s2, false);

    g.game->MovePlayed(g.afterE4->lastMove, nullptr);
    EXPECT_EQ(g.game->GetViewedPosition(), g.afterE4);
    EXPECT_EQ(log, (std::vector<std::string>{"s1:move e4", "s2:move e4", "p:move e4"}));
    log.clear();
    g.game->MovePlayed(g.afterE5->lastMove, &primary);
    EXPECT_EQ(log, (std::vector<std::string>{"s1:move e5", "s2:move e5"}));
    log.clear();
    g.game->MovePlayed(g.afterNf3->lastMove, &s2);
    EXPECT_EQ(log, (std::vector<std::string>{"s1:move Nf3", "p:move Nf3"}));

    log.clear();
    g.game->RefreshViews(&s1);  // from a secondary view: ignored
    EXPECT_TRUE(log.empty());
    g.game->RefreshViews(nullptr);
    EXPECT_EQ(log, (std::vector<std::string>{"s1:refresh", "s2:refresh"}));
    log.clear();
    g.game->RefreshViews(&primary);
    EXPECT_EQ(log, (std::vector<std::string>{"s1:refresh", "s2:refresh"}));
}

TEST(Partie, ViewTable) {
    CPartie game;
    std::vector<std::string> log;
    std::vector<RecordingView> views;
    for (int i = 0; i < 12; ++i)
        views.emplace_back("v" + std::to_string(i), &log);

    EXPECT_EQ(game.AddView(&views[0], true), 1);
    EXPECT_EQ(game.AddView(&views[1], true), 0);  // a second primary view
    EXPECT_EQ(game.AddView(nullptr, false), 0);
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(game.AddView(&views[i], false), 1);
    EXPECT_EQ(game.AddView(&views[11], false), 0);  // the eleventh secondary view
    EXPECT_EQ(game.viewCount, 10);

    game.RemoveView(&views[11]);  // never registered
    EXPECT_EQ(game.viewCount, 10);
    game.RemoveView(&views[2]);
    EXPECT_EQ(game.viewCount, 9);
    EXPECT_EQ(game.secondaryViews[0], &views[1]);
    EXPECT_EQ(game.secondaryViews[1], &views[3]);
    EXPECT_EQ(game.secondaryViews[8], &views[10]);
    game.RemoveView(&views[0]);
    EXPECT_EQ(game.primaryView, nullptr);
    EXPECT_EQ(game.viewCount, 9);
    EXPECT_EQ(game.AddView(&views[11], false), 1);

    // The same view twice is told twice.
    CPartie twice;
    twice.AddView(&views[0], false);
    twice.AddView(&views[0], false);
    log.clear();
    twice.GoToStart();
    EXPECT_EQ(log.size(), 2u);
}

TEST(Partie, DestroysLongGamesAndTheHeadersBehindIt) {
    // 20,000 moves destroyed on a 64 KiB stack: a destructor that recursed along the line
    // would overflow it. The headers behind the game go with it (the sanitizers see a leak).
    auto* game = new CPartie;
    CPosition* pos = &game->startingPosition;
    for (int i = 0; i < 20000 && pos; ++i)
        pos = PlayLine(pos, i % 4 < 2 ? (i % 2 ? "g8f6" : "g1f3") : (i % 2 ? "f6g8" : "f3g1"));
    ASSERT_NE(pos, nullptr);
    game->startingPosition.comment = "a game comment";
    game->next = new CInfosPartie2;
    game->next->next = new CPartie;
    game->SetTag("A", "1");
    EXPECT_TRUE(platform::testkit::RunOnSmallStack(64 * 1024, [game] { delete game; }));
}

}  // namespace
