// The session state: one record for the whole process, shared by start-up, the capture
// loop and the decoder. The session log keeps its own state (session/log.h); the PGN path
// and the current game are shared with saving (pgn/session.h).
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/platform.h"

// Room for a session path (260 characters), the name's "NNN.current.pgn" in the place of
// "NNN.pgn", and the terminator.
constexpr int kGameInProgressPathSize = 261 + 8;

struct SessionState {
    platform::FileHandle record;        // live: the record file written; replay: the file read
    std::int32_t firstTimePending = 1;  // cleared at the first 0xFF byte, real or made
    std::int32_t live = 0;
    std::int32_t recordWriteReported = 0;  // a failed record write is logged once
    // Live mode: the file that keeps the game in progress (session/in_progress.h); empty
    // when it is not kept.
    char gameInProgressPath[kGameInProgressPathSize] = "";
    std::int32_t gameInProgressReported = 0;  // a failed write is logged, once until one works
    // Held while one turn of the capture loop applies its bytes, and by the console control
    // handler for its whole save: a save never sees a half-played move, and two saves
    // never overlap.
    std::mutex sessionLock;
};

// The process's session state. It is never destroyed, so the control handler's thread may
// use it at any moment, also while the main thread returns from main.
SessionState& TheSession();
