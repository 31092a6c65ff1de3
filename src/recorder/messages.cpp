#include "recorder/messages.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/path.h"
#include "session/console.h"
#include "session/session.h"

void SayAnnouncement(int number, const char* pgnPath, const char* replayPath) {
    const std::string folder = platform::FolderPart(pgnPath);
    const std::string name(platform::NamePart(pgnPath));
    if (replayPath) {
        Say("session %03d in %s: %s and .log; replay of %s", number, folder.c_str(), name.c_str(),
            replayPath);
    } else {
        Say("session %03d in %s: %s, .log and .rec; board on %s", number, folder.c_str(),
            name.c_str(), SerialDevice());
    }
    Session& session = TheSession();
    std::lock_guard<SessionLock> hold(session.lock);
    session.announced = true;
}

// Called under the session lock, by the main thread's end or by the control handler.
void SayGamesSaved(const char* gameLeft) {
    Session& session = TheSession();
    if (!session.announced) return;
    session.announced = false;
    char failed[64] = "";
    if (session.failedSaves > 0) {
        std::snprintf(failed, sizeof failed, "; %d could not be saved",
                      static_cast<int>(session.failedSaves));
    }
    if (session.savedGames == 0) {
        Say("no game saved%s%s", failed, gameLeft);
    } else {
        Say("%d game%s saved in %s%s%s", static_cast<int>(session.savedGames),
            session.savedGames == 1 ? "" : "s", session.pgnPath, failed, gameLeft);
    }
}

void SayCannotNameFiles() {
    Say("cannot name the session files: path too long or unknown");
}

void SayPathTooLong(const char* path) {
    Say("cannot name the session files: %s path too long", path);
}

void SayNoFreeNumber(const char* folder) {
    Say("no free session number in %s: sessions 000 to 099 all hold files; move them elsewhere",
        folder);
}

// What helps: a folder that does not exist, or one the user may not write.
void SayCannotCreate(const char* path, platform::ErrorCode code) {
    const char* hint = "";
    if (platform::IsError(code, platform::ErrorKind::kNotFound)) {
        hint = " (does the folder exist?)";
    } else if (platform::IsError(code, platform::ErrorKind::kAccessDenied)) {
        hint = " (CHESSREC_DIR can name a folder of your own)";
    }
    Say("cannot create %s: %s%s", path, platform::ReasonText(code).c_str(), hint);
}

void SayRecovered(int number, const char* pgnPath) {
    Say("recovered the game in progress of session %03d into %s", number, pgnPath);
}

void SayLeftoverKept(const char* path) {
    Say("kept %s: it holds a game that no other file holds", path);
}

void SayCannotOpenRecord(const char* path, platform::ErrorCode code) {
    Say("cannot open record file %s: %s", path, platform::ReasonText(code).c_str());
}

// The device, the failed call, the system's reason and, where one helps, what to do. A
// device name that ends in ':' (Windows' "COM1:") is quoted, else its colon would run into
// the one that follows it.
void SayPortFailure(const CSerialPort& port) {
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
        std::snprintf(hint, sizeof hint, " (name the board's device in CHESSREC_PORT%s%s)",
                      systemHint ? "; " : "", systemHint ? systemHint : "");
    } else if (systemHint) {
        std::snprintf(hint, sizeof hint, " (%s)", systemHint);
    }
    Say("cannot open %s%s%s: %s%s", quote, device, quote, platform::ReasonText(code).c_str(), hint);
}
