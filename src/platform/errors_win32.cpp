// Errors on Windows: an error code is a GetLastError() value, and the system's text comes
// from its message table.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "platform/platform.h"
#include "platform/win32_internal.h"

static_assert(std::is_same_v<DWORD, unsigned long> && std::is_same_v<HANDLE, void*>,
              "win32_internal.h declares handles and error codes without windows.h");

namespace platform {
namespace {

// Whether the error box is off (CHESSREC_NO_ERROR_BOX set, and not to 0): for recorders
// that run unattended, and for tests.
bool ErrorBoxOff() {
    const char* value = std::getenv("CHESSREC_NO_ERROR_BOX");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

namespace win32 {

bool Fail(DWORD error) {
    ::SetLastError(error);
    return false;
}

}  // namespace win32

ErrorCode LastError() {
    return ::GetLastError();
}

void SetLastError(ErrorCode code) {
    ::SetLastError(code);
}

// FormatMessageA ends the text with CR LF (some texts with a blank before it), and may
// change the thread's last error, which the caller may still want to read.
bool ErrorText(ErrorCode code, char* text, std::size_t size) {
    if (text == nullptr || size == 0) return false;
    text[0] = '\0';
    DWORD saved = ::GetLastError();
    char message[512];
    DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, code, 0, message, sizeof message, nullptr);
    ::SetLastError(saved);
    if (length == 0 || length >= sizeof message) return false;
    while (length > 0 && (message[length - 1] == '\r' || message[length - 1] == '\n' ||
                          message[length - 1] == ' ')) {
        --length;
    }
    message[length] = '\0';
    std::snprintf(text, size, "%s", message);
    return true;
}

// The codes the system answers for each kind; ErrorOf gives the first.
bool IsError(ErrorCode code, ErrorKind kind) {
    switch (kind) {
        case ErrorKind::kNotFound:
            return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        case ErrorKind::kAccessDenied:
            return code == ERROR_ACCESS_DENIED;
        case ErrorKind::kSharingViolation:
            return code == ERROR_SHARING_VIOLATION;
        case ErrorKind::kWouldBlock:
            return code == ERROR_IO_INCOMPLETE || code == ERROR_IO_PENDING;
        case ErrorKind::kDiskFull:
            return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL;
        case ErrorKind::kInvalidArgument:
            return code == ERROR_INVALID_PARAMETER || code == ERROR_NEGATIVE_SEEK;
    }
    return false;
}

ErrorCode ErrorOf(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::kNotFound:
            return ERROR_FILE_NOT_FOUND;
        case ErrorKind::kAccessDenied:
            return ERROR_ACCESS_DENIED;
        case ErrorKind::kSharingViolation:
            return ERROR_SHARING_VIOLATION;
        case ErrorKind::kWouldBlock:
            return ERROR_IO_INCOMPLETE;
        case ErrorKind::kDiskFull:
            return ERROR_DISK_FULL;
        case ErrorKind::kInvalidArgument:
            return ERROR_INVALID_PARAMETER;
    }
    return ERROR_INVALID_PARAMETER;
}

// The error box is a modal message box, and the same text as one line on standard error
// ("\n" as on every system, whatever the stream's mode), written first: the box waits for
// the user.
void ShowErrorBox(const char* caption, const char* text) {
    caption = caption ? caption : "";
    text = text ? text : "";
    std::fflush(stderr);
    int mode = _setmode(_fileno(stderr), _O_BINARY);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    if (mode != -1) _setmode(_fileno(stderr), mode);
    if (!ErrorBoxOff()) ::MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

}  // namespace platform
