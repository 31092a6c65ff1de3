// A game: its information (it is a CInfosPartie2), the tree of positions and moves that
// grows from its starting position, and the interface through which views follow it.
//
// Up to eleven views watch one game: one primary view, which chooses between alternative
// continuations, and ten secondary views in registration order. They share the game's
// viewed position, which is not the recorder's current position: the recorder plays its
// moves on the tree directly and never moves the viewed position.
#pragma once

#include <cstdint>

#include "chess/position.h"
#include "game/infos.h"
#include "platform/platform.h"

class CFichier;

// What a view of a game implements. The game never owns or destroys a view.
class IPartieView {
public:
    // A move was played (MovePlayed).
    virtual void OnMove(CCoup* move) = 0;
    // The viewed position changed, or was set again; position is the viewed position.
    virtual void OnPosition(CPosition* position) = 0;
    // A refresh ordered through RefreshViews.
    virtual void OnRefresh() = 0;
    // Asked when the viewed position has alternative continuations; continuation heads
    // their chain. Answers the position to view next (the position after one of those
    // moves), or null when nothing is chosen.
    virtual CPosition* ChooseVariation(CCoup* continuation) = 0;

protected:
    ~IPartieView() = default;
};

// The navigation and view operations of a game. Position and move arguments belong to
// the game's own tree. A game is destroyed as a CPartie, never through this interface.
class IPartie {
public:
    virtual void GoToStart() = 0;
    // Follows continuations from the viewed position to the end of its line.
    virtual void GoToEnd() = 0;
    virtual void StepBack() = 0;
    // To the position after the continuation; between alternatives the primary view
    // chooses.
    virtual void StepForward() = 0;
    // From inside a variation back to the position after the move it is an alternative to.
    virtual void LeaveVariation() = 0;
    virtual void GoToPosition(CPosition* position) = 0;
    // To the position after the last move of a correspondence game (LastMove, Trait).
    virtual void GoToLastMove() = 0;
    virtual CPosition* GetViewedPosition() = 0;
    // move was played: it becomes viewed and every view but sender hears of it.
    virtual void MovePlayed(CCoup* move, IPartieView* sender) = 0;
    // Refreshes the secondary views, when sender is null or the primary view.
    virtual void RefreshViews(IPartieView* sender) = 0;
    // Answers 1, or 0 when the primary place is taken or the ten secondary places are full.
    virtual std::int32_t AddView(IPartieView* view, bool primary) = 0;
    virtual void RemoveView(IPartieView* view) = 0;
    virtual CInfosPartie2* GetInfos() = 0;

protected:
    ~IPartie() = default;
};

constexpr int kSecondaryViews = 10;

class CPartie : public CInfosPartie2, public IPartie {
public:
    // A new game: the default tags, result "*", the standard initial position, no moves,
    // no views, not modified.
    CPartie();
    // Destroys the tree, then the game information (and with it the headers behind it).
    ~CPartie() override;

    // The game information's setters; each marks the game modified.
    void SetWhite(const char* text) override;
    void SetBlack(const char* text) override;
    void SetDate(const char* text) override;
    void SetRound(const char* text) override;
    void SetSite(const char* text) override;
    void SetEvent(const char* text) override;
    void SetResultText(const char* text) override;
    void SetResult(std::uint8_t code) override;
    CPGNHeader* SetTag(const char* name, const char* value) override;
    CPGNHeader* RemoveTag(CPGNHeader* node) override;

    void GoToStart() override;
    void GoToEnd() override;
    void StepBack() override;
    void StepForward() override;
    void LeaveVariation() override;
    void GoToPosition(CPosition* position) override;
    void GoToLastMove() override;
    CPosition* GetViewedPosition() override;
    void MovePlayed(CCoup* move, IPartieView* sender) override;
    void RefreshViews(IPartieView* sender) override;
    std::int32_t AddView(IPartieView* view, bool primary) override;
    void RemoveView(IPartieView* view) override;
    CInfosPartie2* GetInfos() override;

    // Writes the game as PGN at the file's current position: renders it (GameText, in
    // src/pgn/writer.cpp), then writes the text with one write. Answers false when the
    // write fails or is short.
    bool WritePGN(platform::FileHandle file);

    IPartieView* primaryView;
    IPartieView* secondaryViews[kSecondaryViews];
    std::int32_t viewCount;  // valid entries of secondaryViews
    std::int32_t reserved1;  // 1; no operation reads or changes it
    CPosition startingPosition;
    CPosition* viewedPosition;
    std::int32_t stored;     // 1 once a save succeeded
    std::int32_t reserved2;  // 0; no operation reads or changes it
    std::int32_t modified;   // set by the information setters, cleared by a save
    std::int32_t saveMode;   // 0 write a new file, 2 rewrite the file through a backup
    CFichier* fichier;       // the file object the game is saved through

private:
    // Tells every view the viewed position: the primary view first.
    void NotifyPosition();
};
