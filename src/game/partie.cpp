#include "game/partie.h"

CPartie::CPartie()
    : primaryView(nullptr),
      secondaryViews{},
      viewCount(0),
      reserved1(1),
      viewedPosition(&startingPosition),
      stored(0),
      reserved2(0),
      modified(0),
      saveMode(0),
      fichier(nullptr) {}

CPartie::~CPartie() {
    // The tree goes first (each move frees what follows it), then the game comment; the
    // game information goes with the base.
    CCoup* line = startingPosition.continuation;
    startingPosition.continuation = nullptr;
    delete line;
    startingPosition.comment.reset();
}

void CPartie::SetWhite(const char* text) {
    CInfosPartie2::SetWhite(text);
    modified = 1;
}

void CPartie::SetBlack(const char* text) {
    CInfosPartie2::SetBlack(text);
    modified = 1;
}

void CPartie::SetDate(const char* text) {
    CInfosPartie2::SetDate(text);
    modified = 1;
}

void CPartie::SetRound(const char* text) {
    CInfosPartie2::SetRound(text);
    modified = 1;
}

void CPartie::SetSite(const char* text) {
    CInfosPartie2::SetSite(text);
    modified = 1;
}

void CPartie::SetEvent(const char* text) {
    CInfosPartie2::SetEvent(text);
    modified = 1;
}

void CPartie::SetResultText(const char* text) {
    CInfosPartie2::SetResultText(text);
    modified = 1;
}

void CPartie::SetResult(std::uint8_t code) {
    CInfosPartie2::SetResult(code);
    modified = 1;
}

CPGNHeader* CPartie::SetTag(const char* name, const char* value) {
    modified = 1;
    return CInfosPartie2::SetTag(name, value);
}

CPGNHeader* CPartie::RemoveTag(CPGNHeader* node) {
    modified = 1;
    return CInfosPartie2::RemoveTag(node);
}

void CPartie::NotifyPosition() {
    if (primaryView) primaryView->OnPosition(viewedPosition);
    for (int i = 0; i < viewCount; ++i)
        secondaryViews[i]->OnPosition(viewedPosition);
}

void CPartie::GoToStart() {
    viewedPosition = &startingPosition;
    NotifyPosition();
}

void CPartie::GoToEnd() {
    // Variations are never entered: only continuations are followed.
    while (viewedPosition->continuation)
        viewedPosition = viewedPosition->continuation->positionAfter;
    NotifyPosition();
}

void CPartie::StepBack() {
    if (!viewedPosition->lastMove) return;
    viewedPosition = viewedPosition->lastMove->positionBefore;
    NotifyPosition();
}

void CPartie::StepForward() {
    CCoup* continuation = viewedPosition->continuation;
    if (!continuation) return;
    CPosition* target = nullptr;
    if (!continuation->nextAlternative || continuation->previousAlternative) {
        target = continuation->positionAfter;
    } else {
        // Alternatives to choose from: the primary view decides, or nothing happens.
        if (!primaryView) return;
        target = primaryView->ChooseVariation(continuation);
        if (!target) return;
    }
    GoToPosition(target);
}

void CPartie::LeaveVariation() {
    // Back along the line to the first move that is an alternative to another.
    CCoup* move = viewedPosition->lastMove;
    while (move && !move->previousAlternative)
        move = move->positionBefore->lastMove;
    if (!move) return;
    while (move->previousAlternative)
        move = move->previousAlternative;
    viewedPosition = move->positionAfter;
    NotifyPosition();
}

void CPartie::GoToPosition(CPosition* position) {
    viewedPosition = position;
    NotifyPosition();
}

void CPartie::GoToLastMove() {
    CPosition* answer = nullptr;
    if (LastMove == 0) {
        answer = &startingPosition;
    } else {
        // Trait is the side to move after the last move, so the mover is the other side.
        int mover = kBlack - (Trait & 0xFF);
        for (CCoup* move = startingPosition.continuation; move;
             move = move->positionAfter->continuation) {
            int moverOfMove = IsBlack(move->positionBefore->board[move->from]) ? kBlack : kWhite;
            if (move->moveNumber == LastMove && moverOfMove == mover) {
                answer = move->positionAfter;
                break;
            }
        }
    }
    if (answer) {
        GoToPosition(answer);
    } else {
        GoToStart();
    }
}

CPosition* CPartie::GetViewedPosition() {
    return viewedPosition;
}

void CPartie::MovePlayed(CCoup* move, IPartieView* sender) {
    viewedPosition = move->positionAfter;
    for (int i = 0; i < viewCount; ++i) {
        if (secondaryViews[i] != sender) secondaryViews[i]->OnMove(move);
    }
    if (primaryView && primaryView != sender) primaryView->OnMove(move);
}

void CPartie::RefreshViews(IPartieView* sender) {
    if (sender && sender != primaryView) return;
    for (int i = 0; i < viewCount; ++i)
        secondaryViews[i]->OnRefresh();
}

std::int32_t CPartie::AddView(IPartieView* view, bool primary) {
    if (!view) return 0;
    if (primary) {
        if (primaryView) return 0;
        primaryView = view;
        return 1;
    }
    if (viewCount >= kSecondaryViews) return 0;
    secondaryViews[viewCount++] = view;
    return 1;
}

void CPartie::RemoveView(IPartieView* view) {
    if (view == primaryView && view) {
        primaryView = nullptr;
        return;
    }
    for (int i = 0; i < viewCount; ++i) {
        if (secondaryViews[i] == view) {
            for (int j = i + 1; j < viewCount; ++j)
                secondaryViews[j - 1] = secondaryViews[j];
            secondaryViews[--viewCount] = nullptr;
            return;
        }
    }
}

CInfosPartie2* CPartie::GetInfos() {
    return this;
}
