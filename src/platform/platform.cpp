// The part of the platform layer that is the same on every system: the fault hook that
// every file call asks first, the argument checks, the error kinds, and the copy of a file,
// which is made of the other file calls.
#include "platform/platform.h"

#include <cstdio>
#include <mutex>
#include <span>

#include "platform/internal.h"
#include "platform/path.h"

namespace platform {
namespace {

struct HookState {
    std::mutex mutex;
    FaultHook hook = nullptr;
    void* context = nullptr;
};
HookState hookState;

}  // namespace

namespace internal {

bool HookAllows(FileOp op, FileHandle file, const char* path) {
    FaultHook hook;
    void* context;
    {
        std::lock_guard<std::mutex> lock(hookState.mutex);
        hook = hookState.hook;
        context = hookState.context;
    }
    if (hook == nullptr) return true;
    ErrorCode code = hook(op, file, path, context);
    if (code == 0) return true;
    SetLastError(code);
    return false;
}

bool PathCallAllowed(FileOp op, const char* path) {
    return HookAllows(op, FileHandle{}, path) && CheckPath(path);
}

bool Fail(ErrorCode code) {
    SetLastError(code);
    return false;
}

bool CheckPath(const char* path) {
    return path != nullptr || Fail(ErrorOf(ErrorKind::kInvalidArgument));
}

bool CheckAccess(unsigned access) {
    return access == kRead || access == kWrite || access == kReadWrite ||
           Fail(ErrorOf(ErrorKind::kInvalidArgument));
}

// The reader that shares everything must not change what it shares: no write access, and
// no file created or truncated.
bool CheckShare(unsigned access, Share share, Disposition disposition) {
    return share != Share::kAll || (access == kRead && disposition == Disposition::kOpenExisting) ||
           Fail(ErrorOf(ErrorKind::kInvalidArgument));
}

bool CheckGiven(const void* record) {
    return record != nullptr || Fail(ErrorOf(ErrorKind::kInvalidArgument));
}

bool CheckTextBuffer(char* text, std::size_t size) {
    if (text == nullptr || size == 0) return Fail(ErrorOf(ErrorKind::kInvalidArgument));
    text[0] = '\0';
    return true;
}

}  // namespace internal

// ---------------------------------------------------------------------------------------
// Errors

bool IsError(ErrorCode code, ErrorKind kind) {
    for (ErrorCode each : internal::ErrorCodes(kind)) {
        if (each == code) return true;
    }
    return false;
}

ErrorCode ErrorOf(ErrorKind kind) {
    std::span<const ErrorCode> codes = internal::ErrorCodes(kind);
    return codes.empty() ? ErrorOf(ErrorKind::kInvalidArgument) : codes.front();
}

// ---------------------------------------------------------------------------------------
// Files

// Through OpenFile, ReadFile and WriteFile rather than the system's own copy: the sharing
// modes then guard both files, and the fault hook sees every step.
bool CopyFileOver(const char* from, const char* to) {
    if (!internal::HookAllows(FileOp::kCopy, FileHandle{}, from)) return false;
    FileHandle source = OpenFile(from, kRead, Share::kRead, Disposition::kOpenExisting);
    if (!source.IsValid()) return false;
    FileHandle target = OpenFile(to, kWrite, Share::kNone, Disposition::kCreateAlways);
    if (!target.IsValid()) {
        ErrorCode error = LastError();
        CloseFile(source);
        SetLastError(error);
        return false;
    }
    bool ok = true;
    ErrorCode error = 0;
    unsigned char block[16384];
    for (;;) {
        std::uint32_t got = 0;
        std::uint32_t put = 0;
        if (!ReadFile(source, block, sizeof block, &got) || !WriteFile(target, block, got, &put)) {
            ok = false;
            error = LastError();
            break;
        }
        if (got < sizeof block) break;
    }
    if (ok && !FlushFile(target)) {
        ok = false;
        error = LastError();
    }
    // The first failure is the one reported: a close that succeeds must not hide it.
    if (!CloseFile(target) && ok) {
        ok = false;
        error = LastError();
    }
    if (!CloseFile(source) && ok) {
        ok = false;
        error = LastError();
    }
    if (!ok) SetLastError(error);
    return ok;
}

// The folders above first, each made by the system's own call.
bool CreateFolder(const char* path) {
    if (!internal::PathCallAllowed(FileOp::kCreateFolder, path)) return false;
    FileInfo info;
    if (GetFileInfo(path, &info)) {
        return info.isFolder || internal::Fail(ErrorOf(ErrorKind::kAccessDenied));
    }
    const std::string parent = FolderPart(path);
    if (parent != "." && parent != path) CreateFolder(parent.c_str());
    if (internal::MakeFolder(path)) return true;
    // Made meanwhile by another program, or named with a separator at its end.
    const ErrorCode error = LastError();
    if (GetFileInfo(path, &info) && info.isFolder) return true;
    return internal::Fail(error);
}

void SetFaultHook(FaultHook hook, void* context) {
    std::lock_guard<std::mutex> lock(hookState.mutex);
    hookState.hook = hook;
    hookState.context = context;
}

std::string ReasonText(ErrorCode code) {
    char text[512];
    if (!ErrorText(code, text, sizeof text)) {
        std::snprintf(text, sizeof text, "error 0x%08X", static_cast<unsigned>(code));
    }
    return text;
}

}  // namespace platform
