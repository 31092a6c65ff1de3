#include "recorder/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "game/partie.h"
#include "pgn/keep.h"
#include "pgn/save.h"
#include "pgn/session.h"
#include "recorder/capture.h"
#include "session/bounded.h"
#include "session/console.h"
#include "session/in_progress.h"
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
        "number from 000 to 099 that no earlier session's files take:\n"
        "  NAME.NNN.pgn          the session's games\n"
        "  NAME.NNN.log          every byte the board sent, and what the recorder made of it\n"
        "  NAME.NNN.rec          every chunk the serial line delivered (live mode only)\n"
        "  NAME.NNN.current.pgn  the game in progress (live mode only); a recorder that was\n"
        "                        killed leaves it, and the next one saves it into NAME.NNN.pgn\n"
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
    // A game that could not be saved stays on disk for the next recorder.
    if (SaveAndReleaseCurrentGame() == 0) ForgetGameInProgress();
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

// Says on standard error that the file at path cannot be created, and why.
void ReportCannotCreate(const char* path, platform::ErrorCode code) {
    char reason[512];
    if (!platform::ErrorText(code, reason, sizeof reason)) {
        BoundedPrint(reason, sizeof reason, nullptr, "error 0x%08X", code);
    }
    std::fprintf(stderr, "chessrec: cannot create %s: %s\n", path, reason);
}

// Whether the file at path may hold a session's data: it has some, or a running recorder
// holds it. A file that cannot be opened otherwise cannot be truncated either.
bool MayHoldData(const char* path) {
    platform::FileHandle file = platform::OpenFile(path, platform::kRead, platform::Share::kRead,
                                                   platform::Disposition::kOpenExisting);
    if (!file.IsValid()) {
        return platform::IsError(platform::LastError(), platform::ErrorKind::kSharingViolation);
    }
    std::uint64_t size = 1;
    platform::SetFilePointer(file, 0, platform::SeekFrom::kEnd, &size);
    platform::CloseFile(file);
    return size > 0;
}

// The names of session number's files, stem + "NNN.kind", at offset in their buffers.
void NameSessionFiles(RecorderRun& run, std::size_t offset, int number) {
    std::size_t room = kPathRoom - offset;
    BoundedPrint(ThePgnSession().pgnPath + offset, room, nullptr, "%03d.pgn", number);
    BoundedPrint(run.logPath + offset, room, nullptr, "%03d.log", number);
    BoundedPrint(run.recordPath + offset, room, nullptr, "%03d.rec", number);
    BoundedPrint(run.gameInProgressPath + offset, sizeof run.gameInProgressPath - offset, nullptr,
                 "%03d.current.pgn", number);
}

// The games in progress of live sessions that died: each NNN.current.pgn that no running
// recorder holds (a recorder holds its log open for writing, unshared, for its whole run)
// goes into its session's PGN file. The log is held while that is done, so that two
// recorders that start together never recover one game twice.
void RecoverDeadSessions(RecorderRun& run, std::size_t offset) {
    for (int number = 0; number <= kLastSessionNumber; ++number) {
        NameSessionFiles(run, offset, number);
        if (!platform::FileExists(run.gameInProgressPath)) continue;
        platform::FileHandle lock =
            platform::OpenFile(run.logPath, platform::kWrite, platform::Share::kRead,
                               platform::Disposition::kOpenAlways);
        if (!lock.IsValid()) continue;  // its recorder is running
        const char* pgnPath = ThePgnSession().pgnPath;
        Recovery done = RecoverGame(run.gameInProgressPath, pgnPath);
        if (done == Recovery::kRecovered || done == Recovery::kAlreadySaved) {
            std::fprintf(stderr,
                         "chessrec: recovered the game in progress of session %03d into %s\n",
                         number, pgnPath);
        }
        platform::CloseFile(lock);
    }
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
    BoundedCopy(run.gameInProgressPath, sizeof run.gameInProgressPath, stem);
    RecoverDeadSessions(run, offset);

    // The session number: the first whose PGN file does not exist, whose record file and
    // game in progress are not left from a session that died, and whose log no running
    // recorder holds. Taking the log here, locked before it is truncated, keeps two
    // recorders started together off one number.
    int number = 0;
    bool logOpen = false;
    for (; number <= kLastSessionNumber; ++number) {
        NameSessionFiles(run, offset, number);
        if (platform::FileExists(pgn.pgnPath) || platform::FileExists(run.gameInProgressPath) ||
            MayHoldData(run.recordPath))
            continue;
        logOpen = OpenLog(run.logPath);
        if (logOpen ||
            !platform::IsError(platform::LastError(), platform::ErrorKind::kSharingViolation))
            break;
    }
    if (number > kLastSessionNumber) {
        ConsolePrint("No free session number\n");
        return -1;
    }
    // A session that cannot keep its log would record nothing that says what it saw.
    if (!logOpen) {
        ReportCannotCreate(run.logPath, platform::LastError());
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
    if (StepEnd end = CreateRecordFile(run)) return end;
    if (!run.port.Open()) {
        ConsolePrint("Unable to open COM port\n");
        run.port.Close();
        return -1;
    }
    return std::nullopt;
}

StepEnd CreateRecordFile(RecorderRun& run) {
    SessionState& session = TheSession();
    session.live = 1;
    session.record = platform::OpenFile(run.recordPath, platform::kWrite, platform::Share::kRead,
                                        platform::Disposition::kCreateAlways);
    if (session.record.IsValid()) return std::nullopt;
    ReportCannotCreate(run.recordPath, platform::LastError());
    return -1;
}

void StartGame(RecorderRun& run) {
    PgnSession& pgn = ThePgnSession();
    SessionState& session = TheSession();
    std::lock_guard<std::mutex> hold(session.sessionLock);
    delete pgn.currentGame;
    pgn.currentGame = new CPartie;
    run.current = &pgn.currentGame->startingPosition;
    // Kept from its first change on: a game without moves is worth no disk write while
    // the board is silent.
    if (session.live) KeepGameInProgressAt(run.gameInProgressPath);
}

void Capture(RecorderRun& run) {
    CaptureLoop(&run.port, run.current);
}

int Shutdown(RecorderRun& run) {
    run.port.Close();
    PgnSession& pgn = ThePgnSession();
    std::lock_guard<std::mutex> hold(TheSession().sessionLock);
    if (TheSession().live) {
        // The line failed (the board's cable pulled): save the game in progress. One that
        // could not be saved stays on disk for the next recorder.
        if (SaveAndReleaseCurrentGame() == 0) ForgetGameInProgress();
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
    KeepGameInProgressAt(nullptr);
}
