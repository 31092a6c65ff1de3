// What the Win32 files of the platform layer share: the conversion between handles and
// their opaque values, the failure helper, and the bookkeeping of open serial ports that
// plain reads and writes need. windows.h stays out of headers (its macros rename
// functions): a HANDLE is a void*, a DWORD an unsigned long, as windows.h declares them.
#pragma once

#include "platform/platform.h"

namespace platform::win32 {

// A file handle's value is the HANDLE; INVALID_HANDLE_VALUE is -1 on both sides.
inline void* Handle(FileHandle file) {
    return reinterpret_cast<void*>(file.value);
}

inline FileHandle FromHandle(void* handle) {
    return FileHandle{reinterpret_cast<std::intptr_t>(handle)};
}

// errors_win32.cpp

// Makes error the calling thread's last error; answers false.
bool Fail(unsigned long error);

// serial_win32.cpp

// Whether handle is a serial port opened for overlapped I/O (by OpenSerialPort and not
// closed since): a plain read or write on it must still pass an overlapped record.
bool IsOverlappedPort(void* handle);

// Forgets handle as a serial port before it is closed.
void ReleasePort(void* handle);

}  // namespace platform::win32
