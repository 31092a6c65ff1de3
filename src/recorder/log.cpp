#include "recorder/log.h"

#include <cstdarg>
#include <cstdio>

#include "recorder/bounded.h"
#include "recorder/session.h"

void LogWrite(const char* format, ...) {
    SessionState& session = TheSession();
    if (!session.log.IsValid()) return;
    std::lock_guard<std::mutex> hold(session.logLock);
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(session.logBuffer, sizeof session.logBuffer, format, args);
    va_end(args);
    // A text that does not fit, terminator and all, is not written at all.
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof session.logBuffer) return;
    std::uint32_t written = 0;
    platform::WriteFile(session.log, session.logBuffer, static_cast<std::uint32_t>(length),
                        &written);
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
