#include "pgn/session.h"

PgnSession& ThePgnSession() {
    static PgnSession session;
    return session;
}
