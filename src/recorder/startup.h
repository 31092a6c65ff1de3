// The recorder's run as named steps, which RecorderMain takes in this order:
//
//   ReadArguments       the command line: live mode, replay mode, usage or help
//   CheckEnvironment    CHESSREC_DIR and CHESSREC_PORT, set but empty: refused
//   InstallStopHandler  the console control handler
//   OpenSessionFiles    the dead sessions recovered, the session's number, files and log
//   OpenInput           replay: the record file to replay; live: the record file and port
//   AnnounceSession     where the session's files go, on standard error
//   StartGame           the session's first game, current
//   Capture             the capture loop, until its input ends or fails
//   Shutdown            the port closed, the game in progress saved (live) or freed, and
//                       the games saved told
//
// The command line and the session's files have headers of their own
// (recorder/command_line.h, recorder/session_files.h), and so do the recorder's words to its
// user (recorder/messages.h). A run inside a test, a fuzz target or a benchmark takes the
// steps it needs, on files of its own, and ends with ResetSession (session/session.h).
#pragma once

#include "board/serial_port.h"
#include "chess/position.h"
#include "recorder/command_line.h"
#include "recorder/session_files.h"

// What the steps have set up, beside the session's files. The session record holds the
// rest.
struct RecorderRun : SessionFiles {
    const char* replayPath = nullptr;  // replay mode: the record file; null in live mode
    CSerialPort port;
    CPosition* current = nullptr;  // the decoder's cursor into the current game
};

// Installs the console control handler: on Ctrl-C (or the console closed) it saves the game
// in progress, closes the log and the record file, tells the games saved (once the session
// was announced) and ends the process with 0.
void InstallStopHandler();

// Replay mode: opens the record file to replay. Live mode: CreateRecordFile, then opens the
// serial port ("Unable to open COM port" on the console). Ends with -1 when it cannot, said
// on standard error with the file or device, the failed call and the system's reason.
StepEnd OpenInput(RecorderRun& run);

// Live mode's record file, created on run.recordPath. Ends with -1 when it cannot be (said
// on standard error with the system's reason).
StepEnd CreateRecordFile(RecorderRun& run);

// Says on standard error where the session's files go (SayAnnouncement).
void AnnounceSession(const RecorderRun& run);

// The session's first game becomes current; run.current is its starting position. A live
// session keeps it on disk from its first change on (pgn/game_in_progress.h).
void StartGame(RecorderRun& run);

// Runs the capture loop on the run's port from run.current.
void Capture(RecorderRun& run);

// Closes the port; a live session saves its game in progress (its line failed) and leaves
// only what could not be saved in the game in progress, a replay frees it. Then, when the
// session was announced, says how many games were saved and where. Answers the exit code, 0.
int Shutdown(RecorderRun& run);
