// What the POSIX files of the platform layer share: the thread's last error, the retried
// system calls, the terminal settings of a serial line, and the exclusive access to serial
// ports that a close or the end of the process must give up.
#pragma once

#include <poll.h>
#include <sys/types.h>
#include <termios.h>

#include <cstddef>

#include "platform/platform.h"

namespace platform::posix {

// A handle is a file descriptor.
inline int Fd(FileHandle file) {
    return static_cast<int>(file.value);
}

// What poll reports for a line that hung up or is in error.
constexpr short kHungUp = POLLHUP | POLLERR;

// errors_posix.cpp

// Makes errno the calling thread's last error; answers false.
bool FailErrno();

// files_posix.cpp

// read and write, retried when a signal interrupts them.
ssize_t RetryRead(int fd, void* buffer, std::size_t size);
ssize_t RetryWrite(int fd, const void* data, std::size_t size);

// Sleeps until fd is ready for events (POLLIN, POLLOUT), or hung up, or in error. Answers
// the poll's revents, or -1 with errno set.
int WaitReady(int fd, short events);

// After a read or write answered EAGAIN: waits until fd is ready again. False, with the
// error in errno, when the wait fails, or when the line had already hung up (hungUp, kept
// by the caller across tries) and still has nothing: a dead line must not make us spin.
bool WaitAgain(int fd, short events, bool* hungUp);

// serial_posix.cpp

// What a raw line has off, in c_iflag, c_oflag and c_lflag: bytes pass untouched both ways
// (no line editing, echo, signal or flow-control characters, CR/LF mapping, stripping,
// parity marking or checking, output processing).
constexpr tcflag_t kRawInputOff = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                  IUCLC | IXON | IXOFF | IXANY | INPCK;
constexpr tcflag_t kRawOutputOff = OPOST;
constexpr tcflag_t kRawLocalOff = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN;

// The settings of a terminal's line as LineSettings has them: speed (0 for one outside the
// table), frame, parity check, and the EOF and event characters, which a raw line keeps in
// its unused VEOF and VEOL slots.
LineSettings LineOf(const termios& line);

// Sets settings into line; false, with line untouched, for values a line cannot carry.
bool SetLine(termios* line, const LineSettings& settings);

// Turns off what the masks above name, turns the receiver on whatever the modem lines say,
// and makes a read wait for the first byte.
void MakeRaw(termios* line);

// Signals event as a completed operation does (a wait on it returns at once); false for an
// event that does not exist.
bool SignalEvent(EventHandle event);

// Gives up the exclusive access that OpenSerialPort took to fd, before fd is closed.
void ReleasePort(int fd);

// Gives up the exclusive access of every port still open (see ExitProcess).
void ReleaseExclusivePorts();

}  // namespace platform::posix
