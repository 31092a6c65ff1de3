// The session state: one record for the whole process, shared by start-up, the capture
// loop and the decoder. The session log keeps its own state (session/log.h); the PGN path
// and the current game are shared with saving (pgn/session.h).
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/platform.h"

struct SessionState {
    platform::FileHandle record;        // live: the record file written; replay: the file read
    std::int32_t firstTimePending = 1;  // cleared at the first 0xFF byte, real or made
    std::int32_t live = 0;
    std::int32_t recordWriteReported = 0;  // a failed record write is logged once
    // Held while one turn of the capture loop applies its bytes, and by the console control
    // handler for its whole save: a save never sees a half-played move, and two saves
    // never overlap.
    std::mutex sessionLock;
};

// The process's session state. It is never destroyed, so the control handler's thread may
// use it at any moment, also while the main thread returns from main.
SessionState& TheSession();
