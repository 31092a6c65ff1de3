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

using win32::Fail;

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

}  // namespace

bool ExecutablePath(char* path, std::size_t size) {
    if (!internal::CheckTextBuffer(path, size)) return false;
    DWORD room = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    DWORD n = ::GetModuleFileNameA(nullptr, path, room);
    if (n == 0) {
        path[0] = '\0';
        return false;
    }
    // A path that does not fit fills the buffer, unterminated on older systems and wine.
    if (n >= room) {
        path[0] = '\0';
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    path[n] = '\0';
    return true;
}

bool CurrentFolder(char* path, std::size_t size) {
    if (!internal::CheckTextBuffer(path, size)) return false;
    DWORD room = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    // The length without the terminator when it fits; the room it needs when not.
    DWORD n = ::GetCurrentDirectoryA(room, path);
    if (n == 0) {
        path[0] = '\0';
        return false;
    }
    if (n >= room) {
        path[0] = '\0';
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    return true;
}

std::uint32_t TickCount() {
    return ::GetTickCount();
}

// Registered once; a later call only replaces the handler.
bool InstallControlHandler(ControlHandler handler) {
    static std::mutex installMutex;
    static bool installed = false;
    if (handler == nullptr) return internal::FailWith(ErrorKind::kInvalidArgument);
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

}  // namespace platform
