#include "recorder/startup.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "board/serial_port.h"
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
        "Files, in CHESSREC_DIR when it is set, else beside the executable when that folder\n"
        "can be written, else in the current folder; NNN is the first session number from\n"
        "000 to 099 that no earlier session's files take:\n"
        "  NAME.NNN.pgn          the session's games\n"
        "  NAME.NNN.log          every byte the board sent, and what the recorder made of it\n"
        "  NAME.NNN.rec          every chunk the serial line delivered (live mode only)\n"
        "  NAME.NNN.current.pgn  the game in progress (live mode only); a recorder that was\n"
        "                        killed leaves it, and the next one saves it into NAME.NNN.pgn\n"
        "\n"
        "Standard output carries the moves and the board's events. Standard error says, in\n"
        "lines that begin with \"chessrec:\", where the session's files go, how many games\n"
        "were saved at the end, and why a session cannot start; the manual page\n"
        "chessrec(1) explains each message.\n"
        "\n"
        "Environment (when set, not empty):\n"
        "  CHESSREC_DIR   folder for the session files\n"
        "  CHESSREC_PORT  serial device of the board (default %s)\n",
        name, platform::DefaultSerialDevice());
    std::fflush(stdout);
}

// Writes "chessrec: " and the formatted text as one line on standard error (one write:
// standard error is unbuffered, and one print goes out whole).
void Say(const char* format, ...) CHESSREC_PRINTF(1, 2);
void Say(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "chessrec: %s\n", text);
    std::fflush(stderr);
}

// Set once the session has told where its files go; its last word (SayGamesSaved) is said
// once, and only then.
std::atomic<bool> sessionAnnounced{false};

// How many games the session saved, and where: the session's last word.
void SayGamesSaved(const char* gameLeft) {
    if (!sessionAnnounced.exchange(false)) return;
    const PgnSession& pgn = ThePgnSession();
    char failed[64] = "";
    if (pgn.failedSaves > 0) {
        BoundedPrint(failed, sizeof failed, nullptr, "; %d could not be saved",
                     static_cast<int>(pgn.failedSaves));
    }
    if (pgn.savedGames == 0) {
        Say("no game saved%s%s", failed, gameLeft);
    } else {
        Say("%d game%s saved in %s%s%s", static_cast<int>(pgn.savedGames),
            pgn.savedGames == 1 ? "" : "s", pgn.pgnPath, failed, gameLeft);
    }
}

// The console control handler: saves the game in progress and ends the process. It holds
// the session lock to the end, so the capture loop never runs again once it has begun.
void OnControlEvent() {
    SessionState& session = TheSession();
    session.sessionLock.lock();
    // A game that could not be saved stays on disk for the next recorder.
    SaveGameInProgress(true);
    CloseLog();
    // A live record file is written only under the session lock, which this thread holds.
    // A replay's input is left to the process's end: the capture loop may be reading it.
    if (session.live) platform::CloseFile(session.record);
    // Said once all is on the disk; it waits for nothing that the main thread holds.
    SayGamesSaved("");
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

// The session files' path before their number: the executable's own path (folder null), or
// its file name in folder, after the system's separator unless folder ends with one.
// Answers false when the path cannot be had or does not fit.
bool SessionBasePath(char* path, std::size_t size, const char* folder) {
    char executable[4096];
    if (!platform::ExecutablePath(executable, sizeof executable)) return false;
    if (!folder) return BoundedCopy(path, size, executable) == kOk;
    const char* slash = LastSeparator(executable);
    const char* name = slash ? slash + 1 : executable;
    std::size_t length = std::strlen(folder);
    const char separator[2] = {platform::PathSeparator(), '\0'};
    const bool ends = length > 0 && platform::IsPathSeparator(folder[length - 1]);
    return BoundedPrint(path, size, nullptr, "%s%s%s", folder, ends ? "" : separator, name) == kOk;
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
    Say("cannot name the session files: %s path too long", path);
    return false;
}

using Stem = char[kPathRoom + 2];

// The stem of the session files (see SessionBasePath): their path up to the number.
bool MakeStem(Stem& stem, const char* folder) {
    if (!SessionBasePath(stem, kPathRoom - 1, folder)) {
        Say("cannot name the session files: path too long or unknown");
        return false;
    }
    std::size_t offset = NumberOffset(stem);
    if (!NumberFits(stem, offset)) return false;
    stem[offset] = '\0';
    return true;
}

// The folder part of path (up to its last separator, without it) into folder; "." when
// path names no folder.
void FolderOf(const char* path, char* folder, std::size_t size) {
    const char* slash = LastSeparator(path);
    if (!slash) {
        BoundedCopy(folder, size, ".");
        return;
    }
    std::size_t length = static_cast<std::size_t>(slash - path);
    if (length == 0) length = 1;  // the root folder keeps its separator
    BoundedPrint(folder, size, nullptr, "%.*s", static_cast<int>(length), path);
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
            Say("recovered the game in progress of session %03d into %s", number, pgnPath);
        }
        platform::CloseFile(lock);
    }
}

// Says why the serial port did not open: the device, the failed call, the system's reason
// and, where one helps, what to do. A device name that ends in ':' (Windows' "COM1:") is
// quoted, else its colon would run into the one that follows it.
void ReportPortFailure(const CSerialPort& port) {
    const char* device = SerialDevice();
    const std::size_t length = std::strlen(device);
    const char* quote = length > 0 && device[length - 1] == ':' ? "\"" : "";
    const platform::ErrorCode code = port.FailedError();
    const char* call = port.FailedCall() ? port.FailedCall() : "CreateFile";
    if (std::strcmp(call, "CreateFile") != 0) {
        Say("cannot set up %s%s%s (%s): %s (is it the board's serial line?)", quote, device, quote,
            call, platform::ReasonText(code).c_str());
        return;
    }
    const char* systemHint = platform::SerialOpenHint(code);
    char hint[512] = "";
    if (platform::IsError(code, platform::ErrorKind::kNotFound)) {
        BoundedPrint(hint, sizeof hint, nullptr, " (name the board's device in CHESSREC_PORT%s%s)",
                     systemHint ? "; " : "", systemHint ? systemHint : "");
    } else if (systemHint) {
        BoundedPrint(hint, sizeof hint, nullptr, " (%s)", systemHint);
    }
    Say("cannot open %s%s%s: %s%s", quote, device, quote, platform::ReasonText(code).c_str(), hint);
}

// How the search for a session number in one folder ended.
enum class Found {
    kOpen,        // run.number is the session's, its log is open
    kFailed,      // said on standard error
    kLogRefused,  // the log run.logPath cannot be created (LastError() says why); unsaid
};

// Puts the games in progress of dead sessions at stem into their PGN files, then finds the
// session number at stem and opens its log.
Found FindSessionNumber(RecorderRun& run, const char* stem) {
    const std::size_t offset = std::strlen(stem);
    if (!NumberFits(stem, offset)) return Found::kFailed;
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
    for (int number = 0; number <= kLastSessionNumber; ++number) {
        NameSessionFiles(run, offset, number);
        if (platform::FileExists(pgn.pgnPath) || platform::FileExists(run.gameInProgressPath) ||
            MayHoldData(run.recordPath))
            continue;
        if (OpenLog(run.logPath)) {
            run.number = number;
            return Found::kOpen;
        }
        // A session that cannot keep its log would record nothing that says what it saw.
        if (!platform::IsError(platform::LastError(), platform::ErrorKind::kSharingViolation))
            return Found::kLogRefused;
    }
    char folder[kPathRoom];
    FolderOf(stem, folder, sizeof folder);
    Say("no free session number in %s: sessions 000 to 099 all hold files; move them elsewhere",
        folder);
    return Found::kFailed;
}

// Says that a session file cannot be created, why, and what helps: a folder that does not
// exist, or one the user may not write.
void ReportCannotCreate(const char* path, platform::ErrorCode code) {
    const char* hint = "";
    if (platform::IsError(code, platform::ErrorKind::kNotFound)) {
        hint = " (does the folder exist?)";
    } else if (platform::IsError(code, platform::ErrorKind::kAccessDenied)) {
        hint = " (CHESSREC_DIR can name a folder of your own)";
    }
    Say("cannot create %s: %s%s", path, platform::ReasonText(code).c_str(), hint);
}

StepEnd FinishOpening(const RecorderRun& run, Found found) {
    if (found == Found::kOpen) return std::nullopt;
    if (found == Found::kLogRefused) ReportCannotCreate(run.logPath, platform::LastError());
    return -1;
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

StepEnd CheckEnvironment(const RecorderRun& run) {
    // An empty value is a mistake (a script's unset variable), never a wish for the default.
    const char* folder = std::getenv("CHESSREC_DIR");
    if (folder && !*folder) {
        Say("CHESSREC_DIR is set but empty: name the folder for the session files, or unset it");
        return -1;
    }
    const char* port = std::getenv("CHESSREC_PORT");
    if (!run.replayPath && port && !*port) {
        Say("CHESSREC_PORT is set but empty: name the board's serial device, or unset it");
        return -1;
    }
    return std::nullopt;
}

StepEnd OpenSessionFiles(RecorderRun& run, const char* stem) {
    if (stem) return FinishOpening(run, FindSessionNumber(run, stem));
    Stem ownStem;
    if (const char* folder = std::getenv("CHESSREC_DIR")) {
        if (!MakeStem(ownStem, folder)) return -1;
        return FinishOpening(run, FindSessionNumber(run, ownStem));
    }
    // Beside the executable when its folder can be written, which the log shows; an
    // installed recorder (in /usr/bin) works in the current folder instead.
    if (!MakeStem(ownStem, nullptr)) return -1;
    Found found = FindSessionNumber(run, ownStem);
    if (found != Found::kLogRefused) return FinishOpening(run, found);
    const platform::ErrorCode refused = platform::LastError();
    char here[kPathRoom];
    if (!platform::CurrentFolder(here, sizeof here)) {
        ReportCannotCreate(run.logPath, refused);
        return -1;
    }
    if (!MakeStem(ownStem, here)) return -1;
    return FinishOpening(run, FindSessionNumber(run, ownStem));
}

StepEnd OpenInput(RecorderRun& run) {
    SessionState& session = TheSession();
    if (run.replayPath) {
        session.live = 0;
        session.record = platform::OpenFile(run.replayPath, platform::kRead, platform::Share::kRead,
                                            platform::Disposition::kOpenExisting);
        if (!session.record.IsValid()) {
            platform::ErrorCode code = platform::LastError();
            Say("cannot open record file %s: %s", run.replayPath,
                platform::ReasonText(code).c_str());
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
        ReportPortFailure(run.port);
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

void AnnounceSession(const RecorderRun& run) {
    const char* pgnPath = ThePgnSession().pgnPath;
    char folder[kPathRoom];
    FolderOf(pgnPath, folder, sizeof folder);
    const char* slash = LastSeparator(pgnPath);
    const char* name = slash ? slash + 1 : pgnPath;
    if (run.replayPath) {
        Say("session %03d in %s: %s and .log; replay of %s", run.number, folder, name,
            run.replayPath);
    } else {
        Say("session %03d in %s: %s, .log and .rec; board on %s", run.number, folder, name,
            SerialDevice());
    }
    sessionAnnounced = true;
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
        SaveGameInProgress(true);
    }
    // A replay that reaches its end does not save the game in progress.
    const bool gameLeft = pgn.currentGame && pgn.currentGame->startingPosition.continuation;
    delete pgn.currentGame;
    pgn.currentGame = nullptr;
    run.current = nullptr;
    SayGamesSaved(gameLeft ? "; a replay does not save the game in progress at its end" : "");
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
    ThePgnSession().savedGames = 0;
    ThePgnSession().failedSaves = 0;
    sessionAnnounced = false;
}
