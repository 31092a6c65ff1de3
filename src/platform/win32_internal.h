// What the Win32 files of the platform layer share: the conversion between handles and
// their opaque values, and the bookkeeping of open serial ports that plain reads and writes
// need. windows.h stays out of headers (its macros rename functions): a HANDLE is a void*,
// as windows.h declares it.
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

// An event's value is the HANDLE of the event object.
inline void* Handle(EventHandle event) {
    return reinterpret_cast<void*>(event.value);
}

inline EventHandle EventFromHandle(void* handle) {
    return EventHandle{reinterpret_cast<std::intptr_t>(handle)};
}

// serial_win32.cpp

// Whether handle is a serial port opened for overlapped I/O (by OpenSerialPort and not
// closed since): a plain read or write on it must still pass an overlapped record.
bool IsOverlappedPort(void* handle);

// Forgets handle as a serial port before it is closed.
void ReleasePort(void* handle);

}  // namespace platform::win32
