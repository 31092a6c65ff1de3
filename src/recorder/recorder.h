// The recorder's start-up, run and shutdown.
#pragma once

// Checks the command line (none: live mode; one record file: replay mode), opens the
// session's files, runs the capture loop and answers the exit code: 0 when the loop
// returned, -1 after a usage error or when the session cannot start.
int RecorderMain(int argc, char** argv);
