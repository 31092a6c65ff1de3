#include "recorder/recorder.h"

#include "recorder/startup.h"

int RecorderMain(int argc, char** argv) {
    RecorderRun run;
    if (StepEnd end = ReadArguments(argc, argv, &run.replayPath)) return *end;
    if (StepEnd end = CheckEnvironment(!run.replayPath)) return *end;
    InstallStopHandler();
    if (StepEnd end = OpenSessionFiles(run)) return *end;
    if (StepEnd end = OpenInput(run)) return *end;
    AnnounceSession(run);
    StartGame(run);
    Capture(run);
    return Shutdown(run);
}
