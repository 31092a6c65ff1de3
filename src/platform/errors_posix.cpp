// Errors on POSIX: an error code is an errno value, kept per thread as Windows keeps
// GetLastError().
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix_internal.h"

namespace platform {
namespace {

thread_local ErrorCode lastError = 0;

}  // namespace

namespace posix {

bool FailErrno() {
    return internal::Fail(static_cast<ErrorCode>(errno));
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
std::span<const ErrorCode> internal::ErrorCodes(ErrorKind kind) {
    static constexpr ErrorCode kNotFound[] = {ENOENT};
    static constexpr ErrorCode kAccessDenied[] = {EACCES, EPERM, EISDIR};
    static constexpr ErrorCode kSharingViolation[] = {EBUSY};
    static constexpr ErrorCode kWouldBlock[] = {EAGAIN};
    static constexpr ErrorCode kDiskFull[] = {ENOSPC};
    static constexpr ErrorCode kInvalidArgument[] = {EINVAL};
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

// The error box is a line on standard error.
void ShowErrorBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
}

}  // namespace platform
