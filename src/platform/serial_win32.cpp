// The serial line on Windows: the system's own overlapped serial I/O. An overlapped
// operation's OVERLAPPED lives in Overlapped::system, which stays in place while the
// operation is pending.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/win32_internal.h"

namespace platform {
namespace {

using internal::CheckGiven;
using internal::Fail;
using win32::Handle;

// ---------------------------------------------------------------------------------------
// The ports open for overlapped I/O: a small table, one lock.

constexpr int kPortSlots = 16;

struct PortSlot {
    HANDLE handle = nullptr;
    DWORD readError = 0;  // how the last read failed to complete, else 0
};

struct Ports {
    std::mutex mutex;
    PortSlot slots[kPortSlots];
};
Ports ports;

// Call with ports.mutex held.
PortSlot* FindPort(HANDLE handle) {
    for (PortSlot& slot : ports.slots) {
        if (slot.handle == handle) return &slot;
    }
    return nullptr;
}

// A read that failed to complete (the line hung up, the device went away) leaves the port
// unable to read: the next read fails at once with the same error rather than going
// pending again, so that no caller spins on a dead line (wine starts every read on a
// hung-up terminal as a pending one that fails).
void NoteReadResult(HANDLE handle, DWORD error) {
    std::lock_guard<std::mutex> lock(ports.mutex);
    if (PortSlot* slot = FindPort(handle)) slot->readError = error;
}

DWORD ReadErrorOf(HANDLE handle) {
    std::lock_guard<std::mutex> lock(ports.mutex);
    const PortSlot* slot = FindPort(handle);
    return slot ? slot->readError : 0;
}

// ---------------------------------------------------------------------------------------
// Overlapped operations: the system's record, and which port it was started on.

struct OverlapState {
    OVERLAPPED system;
    HANDLE port;  // null until an operation has started
    bool reading;
};
static_assert(sizeof(OverlapState) <= sizeof(Overlapped::system));
static_assert(alignof(OverlapState) <= alignof(Overlapped));

OverlapState* StateOf(Overlapped* overlap) {
    return std::launder(reinterpret_cast<OverlapState*>(overlap->system));
}

// The port that the record's operation was started on; null for a record that no
// operation has used (a cleared one).
HANDLE StartedOn(const Overlapped* overlap) {
    HANDLE port;
    std::memcpy(&port, overlap->system + offsetof(OverlapState, port), sizeof port);
    return port;
}

// A fresh record for an operation on port, signalling overlap->event when it is done.
OVERLAPPED* StartOverlap(HANDLE port, bool reading, Overlapped* overlap) {
    OverlapState fresh{};
    fresh.port = port;
    fresh.reading = reading;
    fresh.system.hEvent = overlap->event.IsValid() ? Handle(overlap->event) : nullptr;
    return &(new (overlap->system) OverlapState(fresh))->system;
}

// An operation that failed to start leaves nothing to complete.
IoStart FailOverlap(Overlapped* overlap) {
    DWORD error = ::GetLastError();
    StateOf(overlap)->port = nullptr;
    Fail(error);
    return IoStart::kFailed;
}

// ReadFile or WriteFile started on an overlapped record: done at once, pending, or failed.
IoStart Started(HANDLE port, BOOL done, std::uint32_t* count, Overlapped* overlap) {
    if (done) {
        DWORD moved = 0;
        ::GetOverlappedResult(port, &StateOf(overlap)->system, &moved, FALSE);
        if (count != nullptr) *count = moved;
        return IoStart::kCompleted;
    }
    if (::GetLastError() == ERROR_IO_PENDING) return IoStart::kPending;
    return FailOverlap(overlap);
}

// Wine 8 completes an overlapped read with the time-outs "at once with the bytes there
// are, else wait for the first" only when its buffer is full or the line hangs up, never
// when the first bytes arrive: a live session would show nothing. Windows completes it as
// those time-outs say. Under wine, a read interval time-out takes their place: the read
// waits for its first byte as long as it takes, and completes once the line has been
// quiet for this long after it (a board message is a burst of a few bytes).
constexpr DWORD kWineReadInterval = 20;  // milliseconds

bool RunningUnderWine() {
    static const bool wine = [] {
        HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

bool WaitsForFirstByte(const CommTimeouts& timeouts) {
    return timeouts.readInterval == MAXDWORD && timeouts.readTotalMultiplier == MAXDWORD &&
           timeouts.readTotalConstant != 0 && timeouts.readTotalConstant != MAXDWORD;
}

}  // namespace

namespace win32 {

bool IsOverlappedPort(HANDLE handle) {
    std::lock_guard<std::mutex> lock(ports.mutex);
    return FindPort(handle) != nullptr;
}

void ReleasePort(HANDLE handle) {
    std::lock_guard<std::mutex> lock(ports.mutex);
    if (PortSlot* slot = FindPort(handle)) *slot = PortSlot{};
}

}  // namespace win32

const char* DefaultSerialDevice() {
    return "COM1:";
}

// Windows serial ports are never shared: sharing 0 is what the system allows.
FileHandle OpenSerialPort(const char* device) {
    FileHandle port;
    if (!internal::CheckPath(device)) return port;
    HANDLE handle = ::CreateFileA(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return port;
    {
        std::lock_guard<std::mutex> lock(ports.mutex);
        if (PortSlot* slot = FindPort(nullptr)) {
            slot->handle = handle;
            return win32::FromHandle(handle);
        }
    }
    ::CloseHandle(handle);
    Fail(ERROR_TOO_MANY_OPEN_FILES);
    return port;
}

// A COM port that another program has open answers access denied: Windows never shares
// one. Ports from COM10 on are opened only under their device name.
const char* SerialOpenHint(ErrorCode code) {
    switch (code) {
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return "another program holds it";
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "ports are named COM1 to COM9, and \\\\.\\COM10 from COM10 on; the Device "
                   "Manager lists them";
        default:
            return nullptr;
    }
}

bool GetCommState(FileHandle port, LineSettings* settings) {
    if (!CheckGiven(settings)) return false;
    DCB line{};
    line.DCBlength = sizeof line;
    if (!::GetCommState(Handle(port), &line)) return false;
    LineSettings result;
    result.baudRate = line.BaudRate;
    result.byteSize = line.ByteSize;
    result.parity = line.Parity;
    result.stopBits = line.StopBits;
    result.parityCheck = line.fParity != 0;
    result.eofChar = static_cast<std::uint8_t>(line.EofChar);
    result.evtChar = static_cast<std::uint8_t>(line.EvtChar);
    *settings = result;
    return true;
}

// The port's own settings with the given fields changed: flow control, error replacement
// and the rest stay as they were.
bool SetCommState(FileHandle port, const LineSettings& settings) {
    DCB line{};
    line.DCBlength = sizeof line;
    if (!::GetCommState(Handle(port), &line)) return false;
    line.fBinary = TRUE;  // the only mode Windows has: bytes pass untouched
    line.BaudRate = settings.baudRate;
    line.ByteSize = settings.byteSize;
    line.Parity = settings.parity;
    line.StopBits = settings.stopBits;
    line.fParity = settings.parityCheck ? TRUE : FALSE;
    line.EofChar = static_cast<char>(settings.eofChar);
    line.EvtChar = static_cast<char>(settings.evtChar);
    return ::SetCommState(Handle(port), &line) != 0;
}

bool GetCommTimeouts(FileHandle port, CommTimeouts* timeouts) {
    if (!CheckGiven(timeouts)) return false;
    COMMTIMEOUTS system{};
    if (!::GetCommTimeouts(Handle(port), &system)) return false;
    timeouts->readInterval = system.ReadIntervalTimeout;
    timeouts->readTotalMultiplier = system.ReadTotalTimeoutMultiplier;
    timeouts->readTotalConstant = system.ReadTotalTimeoutConstant;
    return true;
}

// Sets the read side; the write side stays as the port has it (open when it cannot be
// read).
bool SetCommTimeouts(FileHandle port, const CommTimeouts& timeouts) {
    COMMTIMEOUTS system{};
    if (!::GetCommTimeouts(Handle(port), &system)) system = COMMTIMEOUTS{};
    system.ReadIntervalTimeout = timeouts.readInterval;
    system.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    system.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    if (RunningUnderWine() && WaitsForFirstByte(timeouts)) {
        system.ReadIntervalTimeout = kWineReadInterval;
        system.ReadTotalTimeoutMultiplier = 0;
        system.ReadTotalTimeoutConstant = 0;
    }
    return ::SetCommTimeouts(Handle(port), &system) != 0;
}

EventHandle CreateIoEvent() {
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return EventHandle{};
    return win32::EventFromHandle(event);
}

bool ResetEvent(EventHandle event) {
    if (!event.IsValid()) return Fail(ERROR_INVALID_HANDLE);
    return ::ResetEvent(Handle(event)) != 0;
}

void CloseEvent(EventHandle& event) {
    if (!event.IsValid()) return;
    ::CloseHandle(Handle(event));
    event.value = -1;
}

bool WaitForEvent(EventHandle event) {
    if (!event.IsValid()) return Fail(ERROR_INVALID_HANDLE);
    return ::WaitForSingleObject(Handle(event), INFINITE) == WAIT_OBJECT_0;
}

IoStart ReadFileOverlapped(FileHandle port, void* buffer, std::uint32_t capacity,
                           std::uint32_t* count, Overlapped* overlap) {
    if (count != nullptr) *count = 0;
    if (!CheckGiven(overlap)) return IoStart::kFailed;
    OVERLAPPED* system = StartOverlap(Handle(port), true, overlap);
    if (DWORD error = ReadErrorOf(Handle(port))) {
        ::SetLastError(error);
        return FailOverlap(overlap);
    }
    BOOL done = ::ReadFile(Handle(port), buffer, capacity, nullptr, system);
    return Started(Handle(port), done, count, overlap);
}

IoStart WriteFileOverlapped(FileHandle port, const void* data, std::uint32_t size,
                            std::uint32_t* count, Overlapped* overlap) {
    if (count != nullptr) *count = 0;
    if (!CheckGiven(overlap)) return IoStart::kFailed;
    OVERLAPPED* system = StartOverlap(Handle(port), false, overlap);
    BOOL done = ::WriteFile(Handle(port), data, size, nullptr, system);
    return Started(Handle(port), done, count, overlap);
}

bool GetOverlappedResult(FileHandle port, Overlapped* overlap, std::uint32_t* count, bool wait) {
    if (count != nullptr) *count = 0;
    if (!CheckGiven(overlap)) return false;
    HANDLE started = StartedOn(overlap);
    if (started == nullptr || started != Handle(port)) return Fail(ERROR_INVALID_PARAMETER);
    DWORD moved = 0;
    OverlapState* state = StateOf(overlap);
    BOOL done = ::GetOverlappedResult(Handle(port), &state->system, &moved, wait ? TRUE : FALSE);
    if (count != nullptr) *count = moved;
    if (done) return true;
    DWORD error = ::GetLastError();
    if (state->reading && error != ERROR_IO_INCOMPLETE) NoteReadResult(Handle(port), error);
    return Fail(error);
}

}  // namespace platform
