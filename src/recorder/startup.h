// The recorder's run as named steps, which RecorderMain takes in this order:
//
//   ReadArguments       the command line: live mode, replay mode, usage or help
//   CheckEnvironment    CHESSREC_DIR and CHESSREC_PORT, set but empty: refused
//   InstallStopHandler  the console control handler
//   OpenSessionFiles    the session's folder and number, the file names and the session log
//   OpenInput           replay: the record file to replay; live: the record file and port
//   AnnounceSession     where the session's files go, on standard error
//   StartGame           the session's first game, current
//   Capture             the capture loop, until its input ends or fails
//   Shutdown            the port closed, the game in progress kept (live) or freed, and
//                       the games saved told
//
// Standard output carries only the recorder's console lines (session/console.h). The
// recorder's own words go to standard error, one line each, "chessrec: ...": the session
// (AnnounceSession), the games saved at its end (Shutdown, or the control handler), and
// every reason that a session cannot start, naming the file or device and the system's
// reason.
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

// Refuses (-1, said on standard error) a CHESSREC_DIR, or in live mode a CHESSREC_PORT,
// that is set but empty.
StepEnd CheckEnvironment(const RecorderRun& run);

// Installs the console control handler: on Ctrl-C (or the console closed) it saves the game
// in progress, closes the log and the record file, tells the games saved (once the session
// was announced) and ends the process with 0.
void InstallStopHandler();

// First puts the game in progress of every live session that died into its PGN file (a
// stem + "NNN.current.pgn" that no running recorder holds; one line on standard error for
// each). Then names the session's files stem + "NNN.pgn", "NNN.log", "NNN.rec" and
// "NNN.current.pgn", NNN being the first number from 000 to 099 whose PGN file and game in
// progress do not exist, whose record file is missing or empty, and whose log no running
// recorder holds, and creates the log. stem ends where the number goes; null means the
// executable's file name, with the number in the place of its extension, in CHESSREC_DIR
// when it is set, else in the executable's folder when the log can be created there, else
// in the current folder. Ends with -1 when the names do not fit, no number is free, or the
// log cannot be created (said on standard error with the system's reason).
StepEnd OpenSessionFiles(RecorderRun& run, const char* stem = nullptr);

// Replay mode: opens the record file to replay. Live mode: CreateRecordFile, then opens the
// serial port ("Unable to open COM port" on the console). Ends with -1 when it cannot, said
// on standard error with the file or device, the failed call and the system's reason.
StepEnd OpenInput(RecorderRun& run);

// Live mode's record file, created on run.recordPath. Ends with -1 when it cannot be (said
// on standard error with the system's reason).
StepEnd CreateRecordFile(RecorderRun& run);

// Says on standard error where the session's files go: "session NNN in FOLDER: NAME.NNN.pgn,
// .log and .rec; board on DEVICE" (a replay: "NAME.NNN.pgn and .log; replay of FILE"). From
// then on the session's end tells how many games were saved, and where.
void AnnounceSession(const RecorderRun& run);

// A new game becomes the session's current game; run.current is its starting position. A
// live session keeps it on disk from its first change on (session/in_progress.h).
void StartGame(RecorderRun& run);

// Runs the capture loop on the run's port from run.current.
void Capture(RecorderRun& run);

// Closes the port; a live session saves its game in progress (its line failed) and removes
// the file that kept it, a replay frees it. Then, when the session was announced, says how
// many games were saved and where ("N games saved in PATH", or "no game saved"). Answers
// the exit code, 0.
int Shutdown(RecorderRun& run);

// Ends an in-process run: closes the log and the record file and frees the current game;
// the next run awaits the board's greeting again, in replay mode until it says otherwise.
void ResetSession();
