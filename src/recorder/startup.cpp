#include "recorder/startup.h"

#include <mutex>

#include "pgn/game_in_progress.h"
#include "recorder/capture.h"
#include "recorder/messages.h"
#include "session/bounded.h"
#include "session/console.h"
#include "session/log.h"
#include "session/session.h"

namespace {

// The console control handler: saves the game in progress and ends the process. It holds
// the session lock to the end, so the capture loop never runs again once it has begun.
void OnControlEvent() {
    Session& session = TheSession();
    session.lock.lock();
    // A game that could not be saved stays on disk for the next recorder.
    SaveGameAtEnd();
    CloseLog();
    // A live record file is written only under the session lock, which this thread holds.
    // A replay's input is left to the process's end: the capture loop may be reading it.
    if (session.live) platform::CloseFile(session.record);
    // Said once all is on the disk; it waits for nothing that the main thread holds.
    SayGamesSaved("");
    platform::ExitProcess(0);
}

// Opens the session's record file, the one to replay or the one to write, and makes it the
// session's, with its mode (under the lock: the control handler reads both). Answers
// whether it is open; LastError() says why not.
bool OpenRecord(const char* path, bool live) {
    platform::FileHandle record =
        live ? platform::OpenFile(path, platform::kWrite, platform::Share::kRead,
                                  platform::Disposition::kCreateAlways)
             : platform::OpenFile(path, platform::kRead, platform::Share::kRead,
                                  platform::Disposition::kOpenExisting);
    const platform::ErrorCode code = platform::LastError();
    Session& session = TheSession();
    {
        std::lock_guard<SessionLock> hold(session.lock);
        session.live = live ? 1 : 0;
        session.record = record;
    }
    platform::SetLastError(code);
    return record.IsValid();
}

}  // namespace

void InstallStopHandler() {
    platform::InstallControlHandler(OnControlEvent);
}

StepEnd OpenInput(RecorderRun& run) {
    if (run.replayPath) {
        if (!OpenRecord(run.replayPath, false)) {
            const platform::ErrorCode code = platform::LastError();
            SayCannotOpenRecord(run.replayPath, code);
            char context[platform::kMaxPath + 16];
            BoundedPrint(context, sizeof context, nullptr, "CreateFile(\"%s\")", run.replayPath);
            SystemErrorReport(context, code);
            return -1;
        }
        return std::nullopt;
    }
    if (StepEnd end = CreateRecordFile(run)) return end;
    if (!run.port.Open()) {
        ConsolePrint("Unable to open COM port\n");
        SayPortFailure(run.port);
        run.port.Close();
        return -1;
    }
    return std::nullopt;
}

StepEnd CreateRecordFile(RecorderRun& run) {
    if (OpenRecord(run.recordPath, true)) return std::nullopt;
    SayCannotCreate(run.recordPath, platform::LastError());
    return -1;
}

void AnnounceSession(const RecorderRun& run) {
    SayAnnouncement(run.number, TheSession().pgnPath, run.replayPath);
}

void StartGame(RecorderRun& run) {
    Session& session = TheSession();
    std::lock_guard<SessionLock> hold(session.lock);
    StartNewGame(run.current);
    // Kept from its first change on: a game without moves is worth no disk write while
    // the board is silent.
    if (session.live) KeepGameInProgressAt(run.gameInProgressPath);
}

void Capture(RecorderRun& run) {
    CaptureLoop(&run.port, run.current);
}

int Shutdown(RecorderRun& run) {
    run.port.Close();
    Session& session = TheSession();
    std::lock_guard<SessionLock> hold(session.lock);
    bool gameLeft = false;
    if (session.live) {
        // The line failed (the board's cable pulled): save the game in progress. One that
        // could not be saved stays on disk for the next recorder.
        SaveGameAtEnd();
    } else {
        // A replay that reaches its end does not save the game in progress.
        gameLeft = DropGameInProgress();
    }
    run.current = nullptr;
    SayGamesSaved(gameLeft ? "; a replay does not save the game in progress at its end" : "");
    return 0;
}
