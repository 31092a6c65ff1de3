// The session state: one record for the whole process, shared by start-up, the capture
// loop, the decoder, the handlers and the log.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/platform.h"

struct SessionState {
    platform::FileHandle log;           // the session log; while invalid, log writes are dropped
    platform::FileHandle record;        // live: the record file written; replay: the file read
    std::int32_t firstTimePending = 1;  // cleared at the first 0xFF byte, real or made
    std::int32_t live = 0;
    std::int32_t recordWriteReported = 0;  // a failed record write is logged once
    std::int32_t logColumn = 0;            // hex bytes already on the current log line
    std::mutex logLock;                    // guards the log's format buffer and handle
    char logBuffer[10240];
    std::size_t logHeld = 0;  // bytes of the current message's log text not yet written
    std::int32_t logMessageOpen = 0;
    // Held while one turn of the capture loop applies its bytes, and by the console control
    // handler for its whole save: a save never sees a half-played move, and two saves
    // never overlap.
    std::mutex sessionLock;
    // The session's PGN path and current game are shared with saving: ThePgnSession().
};

// The process's session state. It is never destroyed, so the control handler's thread may
// use it at any moment, also while the main thread returns from main.
SessionState& TheSession();
