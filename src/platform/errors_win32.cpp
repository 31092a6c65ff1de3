// Errors on Windows: an error code is a GetLastError() value, and the system's text comes
// from its message table.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/win32_internal.h"

static_assert(std::is_same_v<HANDLE, void*>, "win32_internal.h declares handles without windows.h");

namespace platform {
namespace {

// Whether the error box is off (CHESSREC_NO_ERROR_BOX set, and not to 0): for recorders
// that run unattended, and for tests.
bool ErrorBoxOff() {
    const char* value = std::getenv("CHESSREC_NO_ERROR_BOX");
    return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

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

std::span<const ErrorCode> internal::ErrorCodes(ErrorKind kind) {
    static constexpr ErrorCode kNotFound[] = {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND};
    static constexpr ErrorCode kAccessDenied[] = {ERROR_ACCESS_DENIED};
    static constexpr ErrorCode kSharingViolation[] = {ERROR_SHARING_VIOLATION};
    static constexpr ErrorCode kWouldBlock[] = {ERROR_IO_INCOMPLETE, ERROR_IO_PENDING};
    static constexpr ErrorCode kDiskFull[] = {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL};
    static constexpr ErrorCode kInvalidArgument[] = {ERROR_INVALID_PARAMETER, ERROR_NEGATIVE_SEEK};
    switch (kind) {
        case ErrorKind::kNotFound:
            return kNotFound;
        case ErrorKind::kAccessDenied:
            return kAccessDenied;
        case ErrorKind::kSharingViolation:
            return kSharingViolation;
        case ErrorKind::kWouldBlock:
            return kWouldBlock;
        case ErrorKind::kDiskFull:
            return kDiskFull;
        case ErrorKind::kInvalidArgument:
            return kInvalidArgument;
    }
    return {};
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
