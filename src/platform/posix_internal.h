// What the POSIX files of the platform layer share: the thread's last error, the retried
// system calls, and the bookkeeping of open serial ports that a close or the end of the
// process must give up.
#pragma once

#include <poll.h>
#include <sys/types.h>

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

// Signals event as a completed operation does (a wait on it returns at once); false, with
// EINVAL, for an event that does not exist.
bool SignalEvent(EventHandle event);

// Forgets everything kept about fd before it is closed (its port settings, the events
// armed on it) and gives up its exclusive access to the terminal.
void ReleasePort(int fd);

// Gives up the exclusive access of every port still open (see ExitProcess).
void ReleaseExclusivePorts();

}  // namespace platform::posix
