// The session log: a plain text file of every byte the board sent, grouped into its
// messages, of what the recorder made of them, and of failed system calls. Each text is
// written with one write, as formatted, with no header, time stamp or conversion; lines
// end in a single "\n".
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "recorder/console.h"

// Gathers the log texts of one board message and writes them with one write when the
// message has been handled, so that the log is complete up to the last message at every
// moment, at a write per message rather than per hex byte.
class LogMessage {
public:
    LogMessage();
    ~LogMessage();
    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;
};

// Formats and writes one text (inside a LogMessage, at its end). A text longer than the log's
// buffer is dropped whole.
void LogWrite(const char* format, ...) CHESSREC_PRINTF(1, 2);

// Writes bytes as "%02X " each, breaking the line after every 16th byte of a line.
void HexDump(const std::uint8_t* bytes, std::uint32_t count);

// If the current line holds hex bytes, ends it; the line is then empty.
void LineBreakIfNeeded();

// Writes "context : system's text (0xCODE)\n" for a failed system call.
void SystemErrorReport(const char* context, platform::ErrorCode code);
