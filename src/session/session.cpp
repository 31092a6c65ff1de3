#include "session/session.h"

#include "game/partie.h"
#include "session/log.h"

namespace {

// Made before main runs and never destroyed.
Session& theSession = *new Session;

}  // namespace

Session& TheSession() {
    return theSession;
}

void ResetSession() {
    Session& session = TheSession();
    std::lock_guard<SessionLock> hold(session.lock);
    CloseLog();
    platform::CloseFile(session.record);
    delete session.currentGame;
    session = Session{};
}
