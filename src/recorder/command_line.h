// The recorder's command line and environment.
//
//   chessrec                  live mode: the board on the serial line
//   chessrec FILE.rec         replay mode: a recorded session, without the board
//   chessrec -h | --help      the help, on standard output
//
// Any other count of arguments prints "Usage : NAME [Recorded file]" on the console.
#pragma once

#include "recorder/session_files.h"

// Reads argv: *replayPath becomes the record file to replay, or null in live mode. The help
// ends the run with 0, a wrong count of arguments with -1.
StepEnd ReadArguments(int argc, char** argv, const char** replayPath);

// Refuses (-1, said on standard error) a CHESSREC_DIR, or in live mode a CHESSREC_PORT,
// that is set but empty.
StepEnd CheckEnvironment(bool live);
