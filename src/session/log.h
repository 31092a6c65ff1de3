// The session log: a plain text file of every byte the board sent, grouped into its
// messages, of what the recorder made of them, and of failed system calls. Each text is
// written with one write, as formatted, with no header, time stamp or conversion; lines
// end in a single "\n".
//
// The log lock guards the log's handle and its format buffer: every write, and the open
// and close of the log, take it, so the console control handler may close the log on its
// own thread while the main thread writes. The column (the hex bytes on the current line)
// belongs to the main thread.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "session/console.h"

// Creates the session log at path (an old file is replaced; others may read it while it is
// open) in the place of the log open until now; the current line is empty. Answers whether
// it is open; when not, LastError() says why, and log writes are dropped.
bool OpenLog(const char* path);

// Closes the log; from then on log writes are dropped. Any thread may call it.
void CloseLog();

// The log's handle, invalid when no log is open: for a test's fault hook.
platform::FileHandle LogFile();

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

// Writes bytes as "%02X " each, breaking the line after every 16th byte of a line. The
// column counts on while no log is open.
void HexDump(const std::uint8_t* bytes, std::uint32_t count);

// A line break if needed: if the current line holds hex bytes, ends it; the line is then
// empty.
void LineBreakIfNeeded();

// Tells the log that the text just written ended the line: the next hex byte starts a new
// one.
void LogLineEnded();

// Writes "context : system's text (0xCODE)\n" for a failed system call.
void SystemErrorReport(const char* context, platform::ErrorCode code);
