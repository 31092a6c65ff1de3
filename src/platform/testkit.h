// What boardsim, the tests and the benchmarks ask of the operating system beyond what the
// recorder itself needs: a virtual serial line whose one end plays the board, programs run
// and watched as a user runs them, and a few ways to provoke the system's limits.
//
// The chessrec_testkit library; the recorder and pgnindex never link it. One file per
// system implements it: testkit_posix.cpp and testkit_win32.cpp. Like platform.h,
// this header includes no system header, and its handles are opaque.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform::testkit {

// ---------------------------------------------------------------------------------------
// Time

// Sleeps for at least ms milliseconds.
void Sleep(std::uint32_t ms);

// ---------------------------------------------------------------------------------------
// Virtual serial line: both ends of a serial line in one machine. The board's end is a
// FileHandle for ReadFile, WriteFile and CloseFile.

// Opens a new virtual line and answers its board end; deviceName gets the device of the
// other end, which a recorder opens with OpenSerialPort (always terminated). That end is
// raw from the start, so bytes the board sends before a recorder has set the line up
// arrive untouched. Answers an invalid handle on failure, with LastError() set.
FileHandle OpenVirtualLine(char* deviceName, std::size_t size);

// True while some program holds the other end of the virtual line open.
bool IsVirtualLinePeerOpen(FileHandle line);

// Waits at most timeoutMs (kWaitForever: no limit) until bytes can be read from line.
// kFailed, with LastError() set, when the line has hung up (no peer holds its other end)
// or the wait failed; bytes that are still there are reported first.
constexpr std::uint32_t kWaitForever = 0xFFFFFFFF;
enum class WaitResult { kReady, kTimedOut, kFailed };
WaitResult WaitForInput(FileHandle line, std::uint32_t timeoutMs);

// A virtual line's settings as its board end sees them: what the other end has set.
struct VirtualLineSettings {
    std::uint32_t baudRate = 0;  // 0: a speed outside the usual table
    std::uint8_t byteSize = 0;
    std::uint8_t parity = 0;    // as LineSettings: 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0;  // 0 one stop bit, 2 two
    // Bytes pass untouched both ways: no line editing, echo, signal or flow-control
    // characters, CR/LF mapping, stripping, parity marking or checking, output processing.
    bool raw = false;
    bool receiverOn = false;           // receives, whatever the modem lines say
    bool hardwareFlowControl = false;  // RTS/CTS handshake
    bool hangUpOnClose = false;        // the modem lines drop when the last holder closes it
};
bool GetVirtualLineSettings(FileHandle line, VirtualLineSettings* settings);

// Sets the line as a terminal program may leave a port: every kind of character processing
// that `raw` excludes turned on, two stop bits, hardware flow control and hang-up on close.
// A recorder that opens it then has to clear what it must and keep the rest.
bool CookVirtualLine(FileHandle line);

// ---------------------------------------------------------------------------------------
// Events

// Signals event as an overlapped operation that completes does: a WaitForEvent on it
// returns at once. For tests that play a serial port's part themselves.
bool SignalEvent(EventHandle event);

// ---------------------------------------------------------------------------------------
// Programs

// How to run a program.
struct ProcessOptions {
    std::vector<std::string> args;  // args[0]: the program's path, also its first argument
    std::vector<std::string> env;   // "NAME=value": set on top of this process's environment
    std::string inPath;             // standard input from this file; empty: the null device
    std::string outPath;  // standard output into this file, created or emptied; empty: null
    std::string errPath;  // standard error likewise
    // Non-zero: a write that would make any file larger than this many bytes fails, as on a
    // full disk (the program is not ended for it). Only where CanLimitFileSize().
    std::uint64_t fileSizeLimit = 0;
};

// Whether this system can limit the size of the files a program writes (fileSizeLimit);
// where it cannot, Start fails for a non-zero limit.
bool CanLimitFileSize();

// What a running program costs the machine.
struct ProcessUse {
    std::uint64_t cpuMicroseconds = 0;  // user and system time of all its threads
    std::uint64_t wakeUps = 0;          // times any of its threads went to sleep or was woken
    bool asleep = false;                // every thread waits in the system; none runs
};

// One program started by a test. Its end is waited for with a deadline, never for ever.
class Process {
public:
    // What Wait answers for a program that is still running at the deadline, and for one
    // that Kill ended (the code of a POSIX program ended by SIGKILL).
    static constexpr int kStillRunning = -1;
    static constexpr int kKilled = 128 + 9;

    Process();
    ~Process();  // a program still running is killed, and its end waited for
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Starts the program. False, with LastError() set, when it cannot be run (no such
    // program, an output file that cannot be created, ...), or when this one has started.
    bool Start(const ProcessOptions& options);

    // Waits at most timeoutMs for the end. Answers the low eight bits of the exit code
    // (an exit code of -1 is 255), 128 + the signal's number for a program that a POSIX
    // signal ended, kKilled after Kill, or kStillRunning. Once ended, answers the same.
    int Wait(std::uint32_t timeoutMs);

    // What Ctrl-C at the console does: a stop request the program may handle (SIGINT; on
    // Windows a Ctrl-C event on the console of its own that it was started with). False
    // when it has ended, or was never started.
    bool Stop();

    // Ends the program at once, without giving it a chance to clean up.
    bool Kill();

    // The system's id of the running program; 0 before Start.
    std::uint32_t Id() const;

    // The most memory the program held at once, in KiB; known once Wait has seen the end.
    std::uint64_t PeakMemoryKb() const;

    // What the running program has cost so far. False once it has ended.
    bool GetUse(ProcessUse* use) const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// ---------------------------------------------------------------------------------------
// Limits

// Runs task on a new thread with a stack of stackBytes (raised to the system's least), and
// waits for its end. An overflow of that stack ends the process. False, with LastError()
// set, when no such thread can be made.
bool RunOnSmallStack(std::size_t stackBytes, const std::function<void()>& task);

// Sends this process's standard output to the null device (after flushing it) and answers
// what RestoreStandardOutput needs to put it back; invalid on failure.
FileHandle SilenceStandardOutput();
bool RestoreStandardOutput(FileHandle& saved);

}  // namespace platform::testkit
