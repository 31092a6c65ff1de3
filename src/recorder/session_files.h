// The session's files: their names, the choice of the session number, and the recovery of
// what dead sessions left.
//
// The files of session NNN are stem + "NNN.pgn", "NNN.log", "NNN.rec" and
// "NNN.current.pgn". The stem ends where the number goes: the executable's file name with the
// number in the place of its extension (after a dot appended when it has none), in
// CHESSREC_DIR when it is set, else in the executable's folder when the log can be created
// there, else in the current folder.
//
// A recorder holds its log open for writing, unshared, for its whole run: a log that cannot
// be opened so belongs to a running recorder, whose files are never touched. Every other
// session whose game in progress or leftovers are still there died: before it chooses its
// number, a start puts that game into the dead session's PGN file and settles the leftovers
// of its cut saves (pgn/game_in_progress.h), holding the dead session's log meanwhile, so
// that two recorders that start together never recover one game twice.
//
// The session number is the first from 000 to 099 whose PGN file and game in progress do
// not exist, whose record file and first-save leftover are missing or empty, and whose log
// no running recorder holds: the files of a session that died are never truncated, while the
// empty leftovers of a start that failed are reused. Taking the log, locked before it is
// truncated, keeps two recorders started together off one number.
#pragma once

#include <optional>

#include "platform/path.h"
#include "session/session.h"

constexpr int kLastSessionNumber = 99;

// The exit code of a run that ends at a step; none when the run goes on.
using StepEnd = std::optional<int>;

// Room for a stem: a session path up to its number.
constexpr std::size_t kStemSize = platform::kMaxPath + 2;

// The names of one session's files (the PGN path is the session's, in TheSession()).
struct SessionFiles {
    int number = -1;
    char logPath[platform::kMaxPath + 1] = "";
    char recordPath[platform::kMaxPath + 1] = "";
    char gameInProgressPath[kGameInProgressPathSize] = "";
};

// The stem of the session files in folder (null: the executable's own path): their path up
// to the number. False, said on standard error, when the path cannot be had or the names
// would not fit.
bool MakeStem(char (&stem)[kStemSize], const char* folder);

// Puts the game in progress of every session at stem that died into its PGN file, and
// settles the leftovers of its cut saves; each recovery, and each leftover kept, is one line
// on standard error.
void RecoverDeadSessions(const char* stem);

// How the search for a session number at one stem ended.
enum class Found {
    kOpen,        // files names the session's files, its log is open
    kFailed,      // said on standard error
    kLogRefused,  // the log files.logPath cannot be created (LastError() says why); unsaid
};

// Names the files of the first free session number at stem and opens its log as the
// session's; the PGN path becomes the session's.
Found FindSessionNumber(const char* stem, SessionFiles& files);

// Recovers the dead sessions at stem (null: the stem chosen as said above), then finds the
// session number and opens its log. Ends with -1 when the names do not fit, no number is
// free, or the log cannot be created (said on standard error with the system's reason).
StepEnd OpenSessionFiles(SessionFiles& files, const char* stem = nullptr);
