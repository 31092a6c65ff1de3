#include "recorder/log.h"

#include <cstdarg>
#include <cstdio>

#include "recorder/bounded.h"
#include "recorder/session.h"

namespace {

// Writes what the current message has gathered. The log lock is held.
void WriteHeld(SessionState& session) {
    if (session.logHeld == 0) return;
    std::uint32_t written = 0;
    platform::WriteFile(session.log, session.logBuffer, static_cast<std::uint32_t>(session.logHeld),
                        &written);
    session.logHeld = 0;
}

}  // namespace

LogMessage::LogMessage() {
    SessionState& session = TheSession();
    std::lock_guard<std::mutex> hold(session.logLock);
    session.logMessageOpen = 1;
}

LogMessage::~LogMessage() {
    SessionState& session = TheSession();
    std::lock_guard<std::mutex> hold(session.logLock);
    session.logMessageOpen = 0;
    if (session.log.IsValid()) WriteHeld(session);
    session.logHeld = 0;
}

void LogWrite(const char* format, ...) {
    SessionState& session = TheSession();
    if (!session.log.IsValid()) return;
    std::lock_guard<std::mutex> hold(session.logLock);
    // A text is formatted behind what the message holds already; one that does not fit
    // there is formatted again on its own, and one that does not fit the whole buffer,
    // terminator and all, is not written at all.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::size_t room = sizeof session.logBuffer - session.logHeld;
        va_list args;
        va_start(args, format);
        int length = std::vsnprintf(session.logBuffer + session.logHeld, room, format, args);
        va_end(args);
        if (length < 0) return;
        if (static_cast<std::size_t>(length) < room) {
            session.logHeld += static_cast<std::size_t>(length);
            if (!session.logMessageOpen) WriteHeld(session);
            return;
        }
        if (session.logHeld == 0) return;
        WriteHeld(session);
    }
}

void HexDump(const std::uint8_t* bytes, std::uint32_t count) {
    SessionState& session = TheSession();
    for (std::uint32_t i = 0; i < count; ++i) {
        LogWrite("%02X ", bytes[i]);
        if (++session.logColumn >= 16) {
            LogWrite("\n");
            session.logColumn = 0;
        }
    }
}

void LineBreakIfNeeded() {
    SessionState& session = TheSession();
    if (session.logColumn > 0) LogWrite("\n");
    session.logColumn = 0;
}

void SystemErrorReport(const char* context, platform::ErrorCode code) {
    char text[512];
    if (!platform::ErrorText(code, text, sizeof text)) {
        BoundedPrint(text, sizeof text, nullptr, "err 0x%08X", code);
    }
    LogWrite("%s : %s (0x%08X)\n", context, text, code);
}
