#include "recorder/session_files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pgn/game_in_progress.h"
#include "platform/platform.h"
#include "recorder/messages.h"
#include "session/log.h"

namespace {

constexpr std::size_t kNumberRoom = 8;  // "NNN.pgn" and its terminator

// The session files' path before their number: the executable's own path (folder null), or
// its file name in folder. Answers false when the path cannot be had or does not fit.
bool SessionBasePath(char* path, std::size_t size, const char* folder) {
    char executable[4096];
    if (!platform::ExecutablePath(executable, sizeof executable)) return false;
    const std::string base =
        folder ? platform::JoinPath(folder, platform::NamePart(executable)) : executable;
    if (base.size() >= size) return false;
    std::memcpy(path, base.c_str(), base.size() + 1);
    return true;
}

// Whether the names fit with the number at offset; says so when not.
bool NumberFits(const char* path, std::size_t offset) {
    if (offset + kNumberRoom <= platform::kMaxPath) return true;
    SayPathTooLong(path);
    return false;
}

// The names of session number's files at stem, which is offset long.
void NameSessionFiles(const char* stem, std::size_t offset, int number, SessionFiles& files) {
    std::snprintf(TheSession().pgnPath, sizeof TheSession().pgnPath, "%.*s%03d.pgn",
                  static_cast<int>(offset), stem, number);
    std::snprintf(files.logPath, sizeof files.logPath, "%.*s%03d.log", static_cast<int>(offset),
                  stem, number);
    std::snprintf(files.recordPath, sizeof files.recordPath, "%.*s%03d.rec",
                  static_cast<int>(offset), stem, number);
    std::snprintf(files.gameInProgressPath, sizeof files.gameInProgressPath, "%.*s%03d.current.pgn",
                  static_cast<int>(offset), stem, number);
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

// Whether a dead session may have left something to recover or settle.
bool LeftSomething(const SessionFiles& files) {
    const std::string pgn = TheSession().pgnPath;
    const std::string current = files.gameInProgressPath;
    for (const std::string& path :
         {current, pgn + ".bak", pgn + ".tmp", pgn + ".bak.tmp", current + ".tmp"}) {
        if (platform::FileExists(path.c_str())) return true;
    }
    return false;
}

// The stem chosen as the header says, and the search there; answers the search's end.
StepEnd FinishOpening(const SessionFiles& files, Found found) {
    if (found == Found::kOpen) return std::nullopt;
    if (found == Found::kLogRefused) SayCannotCreate(files.logPath, platform::LastError());
    return -1;
}

Found RecoverAndFind(const char* stem, SessionFiles& files) {
    RecoverDeadSessions(stem);
    return FindSessionNumber(stem, files);
}

}  // namespace

bool MakeStem(char (&stem)[kStemSize], const char* folder) {
    if (!SessionBasePath(stem, platform::kMaxPath - 1, folder)) {
        SayCannotNameFiles();
        return false;
    }
    std::size_t offset = platform::ExtensionDot(stem);
    if (offset == std::string::npos) {
        // A name without an extension gets a dot for the number to follow.
        offset = std::strlen(stem);
        stem[offset] = '.';
        stem[offset + 1] = '\0';
    }
    ++offset;
    if (!NumberFits(stem, offset)) return false;
    stem[offset] = '\0';
    return true;
}

void RecoverDeadSessions(const char* stem) {
    const std::size_t offset = std::strlen(stem);
    if (offset + kNumberRoom > platform::kMaxPath) return;
    SessionFiles files;
    for (int number = 0; number <= kLastSessionNumber; ++number) {
        NameSessionFiles(stem, offset, number, files);
        if (!LeftSomething(files)) continue;
        platform::FileHandle lock =
            platform::OpenFile(files.logPath, platform::kWrite, platform::Share::kRead,
                               platform::Disposition::kOpenAlways);
        if (!lock.IsValid()) continue;  // its recorder is running
        const char* pgnPath = TheSession().pgnPath;
        Recovery done = RecoverGame(files.gameInProgressPath, pgnPath);
        if (done == Recovery::kRecovered || done == Recovery::kAlreadySaved) {
            SayRecovered(number, pgnPath);
        }
        for (const std::string& kept : SettleLeftovers(pgnPath, files.gameInProgressPath))
            SayLeftoverKept(kept.c_str());
        platform::CloseFile(lock);
    }
    TheSession().pgnPath[0] = '\0';
}

Found FindSessionNumber(const char* stem, SessionFiles& files) {
    const std::size_t offset = std::strlen(stem);
    if (!NumberFits(stem, offset)) return Found::kFailed;
    const char* pgnPath = TheSession().pgnPath;
    for (int number = 0; number <= kLastSessionNumber; ++number) {
        NameSessionFiles(stem, offset, number, files);
        if (platform::FileExists(pgnPath) || platform::FileExists(files.gameInProgressPath) ||
            MayHoldData(files.recordPath) || MayHoldData((std::string(pgnPath) + ".tmp").c_str()))
            continue;
        if (OpenLog(files.logPath)) {
            files.number = number;
            return Found::kOpen;
        }
        // A session that cannot keep its log would record nothing that says what it saw.
        if (!platform::IsError(platform::LastError(), platform::ErrorKind::kSharingViolation))
            return Found::kLogRefused;
    }
    SayNoFreeNumber(platform::FolderPart(stem).c_str());
    return Found::kFailed;
}

StepEnd OpenSessionFiles(SessionFiles& files, const char* stem) {
    if (stem) return FinishOpening(files, RecoverAndFind(stem, files));
    char ownStem[kStemSize];
    if (const char* folder = std::getenv("CHESSREC_DIR")) {
        if (!MakeStem(ownStem, folder)) return -1;
        return FinishOpening(files, RecoverAndFind(ownStem, files));
    }
    // Beside the executable when its folder can be written, which the log shows; an
    // installed recorder (in /usr/bin) works in the current folder instead.
    if (!MakeStem(ownStem, nullptr)) return -1;
    Found found = RecoverAndFind(ownStem, files);
    if (found != Found::kLogRefused) return FinishOpening(files, found);
    const platform::ErrorCode refused = platform::LastError();
    char here[platform::kMaxPath];
    if (!platform::CurrentFolder(here, sizeof here)) {
        SayCannotCreate(files.logPath, refused);
        return -1;
    }
    if (!MakeStem(ownStem, here)) return -1;
    return FinishOpening(files, RecoverAndFind(ownStem, files));
}
