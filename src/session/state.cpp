#include "session/state.h"

SessionState& TheSession() {
    static SessionState* session = new SessionState;
    return *session;
}
