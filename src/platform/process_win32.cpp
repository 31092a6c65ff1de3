// The process on Windows: its executable, its clock, the console control handler and its
// end.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/win32_internal.h"

namespace platform {
namespace {

using internal::Fail;

std::atomic<ControlHandler> controlHandler{nullptr};
std::atomic<bool> controlEventSeen{false};

// Windows calls this on a new thread for every control event. The first runs the handler,
// which ends the process; the later ones wait for that end rather than return, since a
// handler that returns FALSE lets the system end the process before the save is done.
BOOL WINAPI ControlRoutine(DWORD /*event*/) {
    if (!controlEventSeen.exchange(true)) {
        if (ControlHandler handler = controlHandler.load()) handler();
    }
    for (;;)
        ::Sleep(INFINITE);
}

// Fills path (size bytes) with fill(room), a system call that writes at most room bytes and
// answers the path's length without its terminator, 0 when it fails, or room or more when
// the path does not fit. A failure leaves path empty.
template <typename Fill>
bool FillPath(char* path, std::size_t size, Fill fill) {
    if (!internal::CheckTextBuffer(path, size)) return false;
    DWORD room = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    DWORD n = fill(room);
    if (n == 0 || n >= room) {
        path[0] = '\0';
        return n == 0 ? false : Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    path[n] = '\0';
    return true;
}

}  // namespace

// A path that does not fit fills the buffer, unterminated on older systems and wine.
bool ExecutablePath(char* path, std::size_t size) {
    return FillPath(path, size,
                    [path](DWORD room) { return ::GetModuleFileNameA(nullptr, path, room); });
}

// The length without the terminator when it fits; the room it needs when not.
bool CurrentFolder(char* path, std::size_t size) {
    return FillPath(path, size, [path](DWORD room) { return ::GetCurrentDirectoryA(room, path); });
}

std::uint32_t TickCount() {
    return ::GetTickCount();
}

// Registered once; a later call only replaces the handler.
bool InstallControlHandler(ControlHandler handler) {
    static std::mutex installMutex;
    static bool installed = false;
    if (handler == nullptr) return Fail(ErrorOf(ErrorKind::kInvalidArgument));
    std::lock_guard<std::mutex> lock(installMutex);
    controlHandler.store(handler);
    if (installed) return true;
    if (!::SetConsoleCtrlHandler(ControlRoutine, TRUE)) return false;
    installed = true;
    return true;
}

[[noreturn]] void ExitProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::ExitProcess(static_cast<UINT>(code));
}

void UseBinaryStandardStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

// Sockets and files are not counted against a limit of the process's own.
void RaiseOpenFileLimit() {}

}  // namespace platform
