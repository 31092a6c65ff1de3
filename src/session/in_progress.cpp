#include "session/in_progress.h"

#include "pgn/keep.h"
#include "pgn/session.h"
#include "session/bounded.h"
#include "session/log.h"
#include "session/state.h"

void KeepGameInProgressAt(const char* path) {
    SessionState& session = TheSession();
    BoundedCopy(session.gameInProgressPath, sizeof session.gameInProgressPath, path ? path : "");
    session.gameInProgressReported = 0;
}

void KeepGameInProgress() {
    SessionState& session = TheSession();
    CPartie* game = ThePgnSession().currentGame;
    if (session.gameInProgressPath[0] == '\0' || !game) return;
    if (WriteGameFile(*game, session.gameInProgressPath)) {
        session.gameInProgressReported = 0;
        return;
    }
    if (session.gameInProgressReported) return;
    session.gameInProgressReported = 1;
    SystemErrorReport("WriteFile(game in progress)", platform::LastError());
}

void ForgetGameInProgress() {
    SessionState& session = TheSession();
    if (session.gameInProgressPath[0] != '\0') platform::RemoveFile(session.gameInProgressPath);
    KeepGameInProgressAt(nullptr);
}
