#include "session/log.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <mutex>

#include "session/bounded.h"
#include "session/session.h"

namespace {

// Writes what the current message has gathered. The log lock is held.
void WriteHeld(SessionLog& log) {
    if (log.held == 0) return;
    std::uint32_t written = 0;
    platform::WriteFile(log.file, log.buffer, static_cast<std::uint32_t>(log.held), &written);
    log.held = 0;
}

}  // namespace

bool OpenLog(const char* path) {
    Session& session = TheSession();
    SessionLog& log = session.log;
    platform::FileHandle file = platform::OpenFile(path, platform::kWrite, platform::Share::kRead,
                                                   platform::Disposition::kCreateAlways);
    platform::ErrorCode code = platform::LastError();
    {
        std::lock_guard<SessionLock> hold(session.logLock);
        platform::CloseFile(log.file);
        log.file = file;
        log.held = 0;
    }
    log.column = 0;
    platform::SetLastError(code);
    return file.IsValid();
}

void CloseLog() {
    Session& session = TheSession();
    SessionLog& log = session.log;
    std::lock_guard<SessionLock> hold(session.logLock);
    platform::CloseFile(log.file);
}

platform::FileHandle LogFile() {
    Session& session = TheSession();
    SessionLog& log = session.log;
    std::lock_guard<SessionLock> hold(session.logLock);
    return log.file;
}

LogMessage::LogMessage() {
    Session& session = TheSession();
    SessionLog& log = session.log;
    std::lock_guard<SessionLock> hold(session.logLock);
    log.messageOpen = true;
}

LogMessage::~LogMessage() {
    Session& session = TheSession();
    SessionLog& log = session.log;
    std::lock_guard<SessionLock> hold(session.logLock);
    log.messageOpen = false;
    if (log.file.IsValid()) WriteHeld(log);
    log.held = 0;
}

void LogWrite(const char* format, ...) {
    Session& session = TheSession();
    SessionLog& log = session.log;
    std::lock_guard<SessionLock> hold(session.logLock);
    if (!log.file.IsValid()) return;
    // A text is formatted behind what the message holds already; one that does not fit
    // there is formatted again on its own, and one that does not fit the whole buffer,
    // terminator and all, is not written at all.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::size_t room = sizeof log.buffer - log.held;
        va_list args;
        va_start(args, format);
        int length = std::vsnprintf(log.buffer + log.held, room, format, args);
        va_end(args);
        if (length < 0) return;
        if (static_cast<std::size_t>(length) < room) {
            log.held += static_cast<std::size_t>(length);
            if (!log.messageOpen) WriteHeld(log);
            return;
        }
        if (log.held == 0) return;
        WriteHeld(log);
    }
}

void HexDump(const std::uint8_t* bytes, std::uint32_t count) {
    SessionLog& log = TheSession().log;
    for (std::uint32_t i = 0; i < count; ++i) {
        LogWrite("%02X ", bytes[i]);
        if (++log.column >= 16) {
            LogWrite("\n");
            log.column = 0;
        }
    }
}

void LineBreakIfNeeded() {
    SessionLog& log = TheSession().log;
    if (log.column > 0) LogWrite("\n");
    log.column = 0;
}

void LogLineEnded() {
    TheSession().log.column = 0;
}

void SystemErrorReport(const char* context, platform::ErrorCode code) {
    char text[512];
    if (!platform::ErrorText(code, text, sizeof text)) {
        BoundedPrint(text, sizeof text, nullptr, "err 0x%08X", code);
    }
    LogWrite("%s : %s (0x%08X)\n", context, text, code);
}
