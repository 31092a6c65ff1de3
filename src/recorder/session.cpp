#include "recorder/session.h"

SessionState& TheSession() {
    static SessionState* session = new SessionState;
    return *session;
}
