// The recorder's run as named steps, which RecorderMain takes in this order:
//
//   ReadArguments       the command line: live mode, replay mode, usage or help
//   InstallStopHandler  the console control handler
//   OpenSessionFiles    the session number, the file names and the session log
//   OpenInput           replay: the record file to replay; live: the record file and port
//   StartGame           the session's first game, current
//   Capture             the capture loop, until its input ends or fails
//   Shutdown            the port closed, the game in progress kept (live) or freed
//
// A run inside a test, a fuzz target or a benchmark takes the steps it needs, on files of
// its own, and ends with ResetSession, which makes the process ready for the next run.
#pragma once

#include <optional>

#include "board/serial_port.h"
#include "chess/position.h"
#include "session/state.h"

constexpr int kPathRoom = 260;  // characters of a session path, the terminator excluded

// What the steps have set up. The session state, the log and the PGN session hold the
// rest.
struct RecorderRun {
    const char* replayPath = nullptr;  // replay mode: the record file; null in live mode
    int number = -1;                   // the session number
    char logPath[kPathRoom + 1] = "";
    char recordPath[kPathRoom + 1] = "";
    char gameInProgressPath[kGameInProgressPathSize] = "";  // live mode: NNN.current.pgn
    CSerialPort port;
    CPosition* current = nullptr;  // the decoder's cursor into the current game
};

// The exit code of a run that ends at a step; none when the run goes on.
using StepEnd = std::optional<int>;

// No argument: live mode; one: replay mode, or -h / --help, which prints the help and ends
// with 0. Any other count prints the usage line and ends with -1.
StepEnd ReadArguments(RecorderRun& run, int argc, char** argv);

// Installs the console control handler: on Ctrl-C (or the console closed) it saves the game
// in progress, closes the log and the record file and ends the process with 0.
void InstallStopHandler();

// First puts the game in progress of every live session that died into its PGN file (a
// stem + "NNN.current.pgn" that no running recorder holds; one line on standard error for
// each). Then names the session's files stem + "NNN.pgn", "NNN.log", "NNN.rec" and
// "NNN.current.pgn", NNN being the first number from 000 to 099 whose PGN file and game in
// progress do not exist, whose record file is missing or empty, and whose log no running
// recorder holds, and creates the log. stem ends where the number goes; null means the
// executable's path, or its file name in CHESSREC_DIR, with the number in the place of
// its extension. Ends with -1 when the names do not fit, no number is free, or the log
// cannot be created (said on standard error with the system's reason).
StepEnd OpenSessionFiles(RecorderRun& run, const char* stem = nullptr);

// Replay mode: opens the record file to replay (ends with -1 when it cannot). Live mode:
// CreateRecordFile, then opens the serial port (ends with -1 when it cannot).
StepEnd OpenInput(RecorderRun& run);

// Live mode's record file, created on run.recordPath. Ends with -1 when it cannot be (said
// on standard error with the system's reason).
StepEnd CreateRecordFile(RecorderRun& run);

// A new game becomes the session's current game; run.current is its starting position. A
// live session keeps it on disk from its first change on (session/in_progress.h).
void StartGame(RecorderRun& run);

// Runs the capture loop on the run's port from run.current.
void Capture(RecorderRun& run);

// Closes the port; a live session saves its game in progress (its line failed) and removes
// the file that kept it, a replay frees it. Answers the exit code, 0.
int Shutdown(RecorderRun& run);

// Ends an in-process run: closes the log and the record file and frees the current game;
// the next run awaits the board's greeting again, in replay mode until it says otherwise.
void ResetSession();
