// Errors on POSIX: an error code is an errno value, kept per thread as Windows keeps
// GetLastError().
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix_internal.h"

namespace platform {
namespace {

thread_local ErrorCode lastError = 0;

}  // namespace

namespace posix {

bool Fail(int error) {
    lastError = static_cast<ErrorCode>(error);
    return false;
}

bool FailErrno() {
    return Fail(errno);
}

}  // namespace posix

ErrorCode LastError() {
    return lastError;
}

void SetLastError(ErrorCode code) {
    lastError = code;
}

bool ErrorText(ErrorCode code, char* text, std::size_t size) {
    if (text == nullptr || size == 0) return false;
    text[0] = '\0';
    if (code > 0x7FFFFFFFu) return false;
    const char* description = strerrordesc_np(static_cast<int>(code));
    if (description == nullptr) return false;
    std::snprintf(text, size, "%s", description);
    return true;
}

// A sharing violation is a lock that another handle holds (see OpenFile); a folder opened
// as a file is refused, as Windows refuses it, with access denied.
bool IsError(ErrorCode code, ErrorKind kind) {
    switch (kind) {
        case ErrorKind::kNotFound:
            return code == ENOENT;
        case ErrorKind::kAccessDenied:
            return code == EACCES || code == EPERM || code == EISDIR;
        case ErrorKind::kSharingViolation:
            return code == EBUSY;
        case ErrorKind::kWouldBlock:
            return code == EAGAIN;
        case ErrorKind::kDiskFull:
            return code == ENOSPC;
        case ErrorKind::kInvalidArgument:
            return code == EINVAL;
    }
    return false;
}

ErrorCode ErrorOf(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::kNotFound:
            return ENOENT;
        case ErrorKind::kAccessDenied:
            return EACCES;
        case ErrorKind::kSharingViolation:
            return EBUSY;
        case ErrorKind::kWouldBlock:
            return EAGAIN;
        case ErrorKind::kDiskFull:
            return ENOSPC;
        case ErrorKind::kInvalidArgument:
            return EINVAL;
    }
    return EINVAL;
}

// The error box is a line on standard error.
void ShowErrorBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
}

}  // namespace platform
