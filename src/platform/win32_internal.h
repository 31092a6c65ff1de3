// What the Win32 files of the platform layer share: the conversion between handles and
// their opaque values, the failure helper, and the bookkeeping of open serial ports that
// plain reads and writes need. Only the Win32 files include this header (and so
// windows.h).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/platform.h"

namespace platform::win32 {

// A file handle's value is the HANDLE; INVALID_HANDLE_VALUE is -1 on both sides.
inline HANDLE Handle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file.value);
}

inline FileHandle FromHandle(HANDLE handle) {
    return FileHandle{reinterpret_cast<std::intptr_t>(handle)};
}

// errors_win32.cpp

// Makes error the calling thread's last error; answers false.
bool Fail(DWORD error);

// serial_win32.cpp

// Whether handle is a serial port opened for overlapped I/O (by OpenSerialPort and not
// closed since): a plain read or write on it must still pass an overlapped record.
bool IsOverlappedPort(HANDLE handle);

// Forgets handle as a serial port before it is closed.
void ReleasePort(HANDLE handle);

}  // namespace platform::win32
