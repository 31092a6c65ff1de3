#include "recorder/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "game/partie.h"
#include "pgn/save.h"
#include "pgn/session.h"
#include "recorder/capture.h"
#include "session/bounded.h"
#include "session/console.h"
#include "session/log.h"
#include "session/state.h"

namespace {

constexpr int kLastSessionNumber = 99;
constexpr std::size_t kNumberRoom = 8;  // "NNN.pgn" and its terminator

void PrintHelp(const char* name) {
    std::printf(
        "Usage : %s [Recorded file]\n"
        "\n"
        "Without an argument, records the board on the serial line: every move is checked,\n"
        "printed and logged, and every game is saved as PGN when the board starts a new game\n"
        "and when the recorder is stopped (Ctrl-C). With a record file, replays that session\n"
        "without the board.\n"
        "\n"
        "Files, beside the executable (or in CHESSREC_DIR), NNN being the first session\n"
        "number from 000 to 099 whose PGN file does not exist:\n"
        "  NAME.NNN.pgn  the session's games\n"
        "  NAME.NNN.log  every byte the board sent, and what the recorder made of it\n"
        "  NAME.NNN.rec  every chunk the serial line delivered (live mode only)\n"
        "\n"
        "Environment:\n"
        "  CHESSREC_DIR   folder for the session files\n"
        "  CHESSREC_PORT  serial device of the board (default %s)\n",
        name, platform::DefaultSerialDevice());
    std::fflush(stdout);
}

// The console control handler: saves the game in progress and ends the process. It holds
// the session lock to the end, so the capture loop never runs again once it has begun.
void OnControlEvent() {
    SessionState& session = TheSession();
    session.sessionLock.lock();
    SaveAndReleaseCurrentGame();
    CloseLog();
    // A live record file is written only under the session lock, which this thread holds.
    // A replay's input is left to the process's end: the capture loop may be reading it.
    if (session.live) platform::CloseFile(session.record);
    platform::ExitProcess(0);
}

// The last path separator in path, or null.
const char* LastSeparator(const char* path) {
    const char* last = nullptr;
    for (const char* at = path; *at; ++at) {
        if (platform::IsPathSeparator(*at)) last = at;
    }
    return last;
}

// Where the session files go: the executable's path, or the same file name in
// CHESSREC_DIR. Answers false when the path cannot be had or does not fit.
bool SessionBasePath(char* path, std::size_t size) {
    char executable[4096];
    if (!platform::ExecutablePath(executable, sizeof executable)) return false;
    const char* folder = std::getenv("CHESSREC_DIR");
    if (!folder || !*folder) return BoundedCopy(path, size, executable) == kOk;
    const char* slash = LastSeparator(executable);
    const char* name = slash ? slash + 1 : executable;
    std::size_t length = std::strlen(folder);
    const char* separator = length > 0 && platform::IsPathSeparator(folder[length - 1]) ? "" : "/";
    return BoundedPrint(path, size, nullptr, "%s%s%s", folder, separator, name) == kOk;
}

// The offset at which the session number goes: after the last dot of the file name,
// or, for a name without one, after a dot appended to it.
std::size_t NumberOffset(char* path) {
    const char* slash = LastSeparator(path);
    char* name = slash ? path + (slash - path) + 1 : path;
    char* dot = std::strrchr(name, '.');
    if (dot && dot != name) return static_cast<std::size_t>(dot + 1 - path);
    std::size_t length = std::strlen(path);
    path[length] = '.';
    path[length + 1] = '\0';
    return length + 1;
}

// Whether the names fit with the number at offset in path; says so when not.
bool NumberFits(const char* path, std::size_t offset) {
    if (offset + kNumberRoom <= kPathRoom) return true;
    std::fprintf(stderr, "chessrec: cannot name the session files: %s path too long\n", path);
    return false;
}

// The stem beside the executable (or in CHESSREC_DIR): its path up to the number.
bool OwnStem(char (&stem)[kPathRoom + 2]) {
    if (!SessionBasePath(stem, kPathRoom - 1)) {
        std::fprintf(stderr, "chessrec: cannot name the session files: path too long or unknown\n");
        return false;
    }
    std::size_t offset = NumberOffset(stem);
    if (!NumberFits(stem, offset)) return false;
    stem[offset] = '\0';
    return true;
}

}  // namespace

StepEnd ReadArguments(RecorderRun& run, int argc, char** argv) {
    if (argc != 1 && argc != 2) {
        // A program may be started with no arguments at all, not even its name.
        ConsolePrint("Usage : %s [Recorded file]\n", argc > 0 && argv[0] ? argv[0] : "chessrec");
        return -1;
    }
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        PrintHelp(argv[0]);
        return 0;
    }
    run.replayPath = argc == 2 ? argv[1] : nullptr;
    return std::nullopt;
}

void InstallStopHandler() {
    platform::InstallControlHandler(OnControlEvent);
}

StepEnd OpenSessionFiles(RecorderRun& run, const char* stem) {
    char ownStem[kPathRoom + 2];
    if (!stem) {
        if (!OwnStem(ownStem)) return -1;
        stem = ownStem;
    }
    const std::size_t offset = std::strlen(stem);
    if (!NumberFits(stem, offset)) return -1;
    PgnSession& pgn = ThePgnSession();
    BoundedCopy(pgn.pgnPath, sizeof pgn.pgnPath, stem);
    BoundedCopy(run.logPath, sizeof run.logPath, stem);
    BoundedCopy(run.recordPath, sizeof run.recordPath, stem);

    // The session number: the first whose PGN file does not exist and whose log no running
    // recorder holds. Taking the log here, locked before it is truncated, keeps two
    // recorders started together off one number.
    int number = 0;
    for (; number <= kLastSessionNumber; ++number) {
        std::size_t room = kPathRoom - offset;
        BoundedPrint(pgn.pgnPath + offset, room, nullptr, "%03d.pgn", number);
        BoundedPrint(run.logPath + offset, room, nullptr, "%03d.log", number);
        BoundedPrint(run.recordPath + offset, room, nullptr, "%03d.rec", number);
        if (platform::FileExists(pgn.pgnPath)) continue;
        if (OpenLog(run.logPath) ||
            !platform::IsError(platform::LastError(), platform::ErrorKind::kSharingViolation))
            break;
    }
    if (number > kLastSessionNumber) {
        ConsolePrint("No free session number\n");
        return -1;
    }
    run.number = number;
    return std::nullopt;
}

StepEnd OpenInput(RecorderRun& run) {
    SessionState& session = TheSession();
    if (run.replayPath) {
        session.live = 0;
        session.record = platform::OpenFile(run.replayPath, platform::kRead, platform::Share::kRead,
                                            platform::Disposition::kOpenExisting);
        if (!session.record.IsValid()) {
            platform::ErrorCode code = platform::LastError();
            ConsolePrint("Unable to open record file %s\n", run.replayPath);
            char context[kPathRoom + 16];
            BoundedPrint(context, sizeof context, nullptr, "CreateFile(\"%s\")", run.replayPath);
            SystemErrorReport(context, code);
            return -1;
        }
        return std::nullopt;
    }
    CreateRecordFile(run);
    if (!run.port.Open()) {
        ConsolePrint("Unable to open COM port\n");
        run.port.Close();
        return -1;
    }
    return std::nullopt;
}

void CreateRecordFile(RecorderRun& run) {
    SessionState& session = TheSession();
    session.live = 1;
    session.record = platform::OpenFile(run.recordPath, platform::kWrite, platform::Share::kRead,
                                        platform::Disposition::kCreateAlways);
}

void StartGame(RecorderRun& run) {
    PgnSession& pgn = ThePgnSession();
    std::lock_guard<std::mutex> hold(TheSession().sessionLock);
    delete pgn.currentGame;
    pgn.currentGame = new CPartie;
    run.current = &pgn.currentGame->startingPosition;
}

void Capture(RecorderRun& run) {
    CaptureLoop(&run.port, run.current);
}

int Shutdown(RecorderRun& run) {
    run.port.Close();
    PgnSession& pgn = ThePgnSession();
    std::lock_guard<std::mutex> hold(TheSession().sessionLock);
    if (TheSession().live) {
        // The line failed (the board's cable pulled): keep the game in progress.
        SaveAndReleaseCurrentGame();
    }
    // A replay that reaches its end does not save the game in progress.
    delete pgn.currentGame;
    pgn.currentGame = nullptr;
    run.current = nullptr;
    return 0;
}

void ResetSession() {
    SessionState& session = TheSession();
    std::lock_guard<std::mutex> hold(session.sessionLock);
    CloseLog();
    platform::CloseFile(session.record);
    delete ThePgnSession().currentGame;
    ThePgnSession().currentGame = nullptr;
    session.firstTimePending = 1;
    session.live = 0;
    session.recordWriteReported = 0;
}
