// What the files of the platform layer share and the rest of chessrec does not see: the
// portable helpers of platform.cpp, and the few calls each system adds for them.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace platform::internal {

// Portable (platform.cpp).

// Asks the fault hook about one file call. True when the call may go on; else false, with
// the hook's code as the calling thread's last error. Every file call asks first.
bool HookAllows(FileOp op, FileHandle file, const char* path);

// Makes an error of kind the calling thread's last error; answers false.
bool FailWith(ErrorKind kind);

// Argument checks that every system makes alike. Each answers false, with an error of
// ErrorKind::kInvalidArgument, for what the call cannot take:
// no path (a file or device by name),
bool CheckPath(const char* path);
// anything but kRead, kWrite or kReadWrite (OpenFile),
bool CheckAccess(unsigned access);

// no record where the call needs one (line settings, time-outs, an overlapped record),
bool CheckGiven(const void* record);
// no room for a text's terminator in a buffer that the call fills; a buffer with room is
// emptied first, so that a failure leaves it empty.
bool CheckTextBuffer(char* text, std::size_t size);

}  // namespace platform::internal
