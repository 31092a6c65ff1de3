// The session: one record for the whole process, shared by start-up, the capture loop, the
// decoder and its handlers, the log, saving and the game in progress. It holds the session
// log's handle, format buffer and column, the record file, the board's greeting still to
// come, the PGN path, the live flag, the current game, the two locks, and what the
// recorder adds: the file that keeps the game in progress, the games that could not be
// saved, the count of saves, and whether the session has said where its files go.
//
// A run inside a test, a fuzz target or a benchmark ends with ResetSession, which closes
// what is open and makes the record a fresh one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/path.h"
#include "platform/platform.h"

class CPartie;

// A lock that stays where it is: a fresh session record assigned over the old one keeps
// the old one's locks, which may be held meanwhile.
class SessionLock {
public:
    SessionLock() = default;
    SessionLock(const SessionLock&) {}
    SessionLock& operator=(const SessionLock&) { return *this; }
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

constexpr std::size_t kLogBufferSize = 10240;

// Room for a session path with "NNN.current.pgn" in the place of "NNN.pgn".
constexpr std::size_t kGameInProgressPathSize = platform::kMaxPath + 8;

// The session log (session/log.h). The log lock guards all of it but the column, which
// belongs to the main thread.
struct SessionLog {
    platform::FileHandle file;
    char buffer[kLogBufferSize];  // the format buffer: the current message's text so far
    std::size_t held = 0;         // bytes of the current message's text not yet written
    bool messageOpen = false;
    std::int32_t column = 0;  // hex bytes already on the current line
};

struct Session {
    SessionLog log;
    SessionLock logLock;
    // Live mode: the record file written; replay mode: the record file read.
    platform::FileHandle record;
    std::int32_t firstTimePending = 1;  // cleared at the board's first 0xFF, real or made
    char pgnPath[platform::kMaxPath] = "";
    std::int32_t live = 0;
    CPartie* currentGame = nullptr;

    std::int32_t recordWriteReported = 0;  // a failed record write ends the recording, once
    // Live mode: the file that keeps the game in progress (pgn/game_in_progress.h); empty
    // when it is not kept. While its writes fail, failing is set: that is said once, and
    // again when a write works.
    char gameInProgressPath[kGameInProgressPathSize] = "";
    bool gameInProgressFailing = false;
    // The PGN of the session's games that could not be saved, as saves separate them.
    std::string unsaved;
    // The session's saves so far, for its last word.
    std::int32_t savedGames = 0;
    std::int32_t failedSaves = 0;
    // The session has said where its files go; its last word is still to be said.
    bool announced = false;

    // Held while one turn of the capture loop applies its bytes, and by the console control
    // handler for its whole save: a save never sees a half-played move, and two saves never
    // overlap.
    SessionLock lock;
};

// The process's session. It is never destroyed, so the control handler's thread may use it
// at any moment, also while the main thread returns from main.
Session& TheSession();

// Ends an in-process run: closes the log and the record file, frees the current game, and
// makes the session a fresh one (the next run awaits the board's greeting again).
void ResetSession();
