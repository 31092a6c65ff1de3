// What the files of the platform layer share and the rest of chessrec does not see: the
// portable helpers of platform.cpp, and what each system supplies for them.
#pragma once

#include <cstddef>
#include <span>

#include "platform/platform.h"

namespace platform::internal {

// Portable (platform.cpp).

// Asks the fault hook about one file call. True when the call may go on; else false, with
// the hook's code as the calling thread's last error. Every file call asks first.
bool HookAllows(FileOp op, FileHandle file, const char* path);

// The same for a call on a file by name, which then checks the path (CheckPath).
bool PathCallAllowed(FileOp op, const char* path);

// Makes code the calling thread's last error; answers false.
bool Fail(ErrorCode code);

// Argument checks that every system makes alike. Each answers false, with an error of
// ErrorKind::kInvalidArgument, for what the call cannot take:
// no path (a file or device by name),
bool CheckPath(const char* path);
// anything but kRead, kWrite or kReadWrite (OpenFile),
bool CheckAccess(unsigned access);
// a Share::kAll reader that would write or create (OpenFile),
bool CheckShare(unsigned access, Share share, Disposition disposition);

// no record where the call needs one (line settings, time-outs, an overlapped record),
bool CheckGiven(const void* record);
// no room for a text's terminator in a buffer that the call fills; a buffer with room is
// emptied first, so that a failure leaves it empty.
bool CheckTextBuffer(char* text, std::size_t size);

// Each system (folders_*.cpp): makes the one folder path, whose parent exists.
bool MakeFolder(const char* path);

// Each system (errors_*.cpp).

// The system's codes for kind: each is an error of kind (IsError), and the first is the
// one ErrorOf gives. Empty for a value that names no kind.
std::span<const ErrorCode> ErrorCodes(ErrorKind kind);

}  // namespace platform::internal
