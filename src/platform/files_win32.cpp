// Files on Windows: a handle is a HANDLE, and the sharing modes are the system's own.
#include <windows.h>

#include <cstdint>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/win32_internal.h"

namespace platform {
namespace {

using internal::Fail;
using internal::HookAllows;
using internal::PathCallAllowed;
using win32::Handle;

// A serial port is open for overlapped I/O, where every read and write needs a record;
// a plain read or write on it waits here for its own completion.
bool OverlappedTransfer(HANDLE handle, void* buffer, DWORD size, DWORD* moved, bool reading) {
    *moved = 0;
    OVERLAPPED overlap{};
    overlap.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlap.hEvent == nullptr) return false;
    BOOL done = reading ? ::ReadFile(handle, buffer, size, nullptr, &overlap)
                        : ::WriteFile(handle, buffer, size, nullptr, &overlap);
    if (done || ::GetLastError() == ERROR_IO_PENDING) {
        done = ::GetOverlappedResult(handle, &overlap, moved, TRUE);
    }
    DWORD error = ::GetLastError();
    ::CloseHandle(overlap.hEvent);
    return done || Fail(error);
}

// One ReadFile or WriteFile of at most size bytes.
bool Transfer(HANDLE handle, void* buffer, DWORD size, DWORD* moved, bool reading) {
    if (win32::IsOverlappedPort(handle)) {
        return OverlappedTransfer(handle, buffer, size, moved, reading);
    }
    *moved = 0;
    return reading ? ::ReadFile(handle, buffer, size, moved, nullptr) != 0
                   : ::WriteFile(handle, buffer, size, moved, nullptr) != 0;
}

}  // namespace

FileHandle OpenFile(const char* path, unsigned access, Share share, Disposition disposition) {
    FileHandle file;
    if (!PathCallAllowed(FileOp::kOpen, path) || !internal::CheckAccess(access) ||
        !internal::CheckShare(access, share, disposition)) {
        return file;
    }
    DWORD desired = ((access & kRead) ? GENERIC_READ : 0) | ((access & kWrite) ? GENERIC_WRITE : 0);
    DWORD sharing = share == Share::kNone ? 0
                    : share == Share::kRead
                        ? FILE_SHARE_READ
                        : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    DWORD creation = disposition == Disposition::kCreateAlways   ? CREATE_ALWAYS
                     : disposition == Disposition::kOpenExisting ? OPEN_EXISTING
                                                                 : OPEN_ALWAYS;
    // A folder is refused by the system itself (access denied): no backup semantics.
    // An unshared handle is refused (ERROR_SHARING_VIOLATION) while any other handle holds
    // the file, even one that shares everything: a reader such as pgnlive, a virus scanner
    // or the search indexer holds it for a moment, so the open is tried again for a while
    // (about 130 ms in all, as RenameFileOver) before it counts as failed.
    for (DWORD wait = 1;; wait *= 2) {
        HANDLE handle = ::CreateFileA(path, desired, sharing, nullptr, creation,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE || share != Share::kNone ||
            ::GetLastError() != ERROR_SHARING_VIOLATION || wait > 64) {
            return win32::FromHandle(handle);
        }
        ::Sleep(wait);
    }
}

bool ReadFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
    if (read != nullptr) *read = 0;
    if (!HookAllows(FileOp::kRead, file, nullptr)) return false;
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::uint32_t total = 0;
    bool ok = true;
    while (total < size) {
        DWORD n = 0;
        if (!Transfer(Handle(file), bytes + total, size - total, &n, true)) {
            ok = false;
            break;
        }
        total += n;
        // The end of the file; on a serial line, the bytes that were there.
        if (n == 0 || win32::IsOverlappedPort(Handle(file))) break;
    }
    if (read != nullptr) *read = total;
    return ok;
}

bool WriteFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* written) {
    if (written != nullptr) *written = 0;
    if (!HookAllows(FileOp::kWrite, file, nullptr)) return false;
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
    std::uint32_t total = 0;
    bool ok = true;
    while (total < size) {
        DWORD n = 0;
        if (!Transfer(Handle(file), bytes + total, size - total, &n, false)) {
            ok = false;
            break;
        }
        if (n == 0) {
            ok = Fail(ERROR_WRITE_FAULT);
            break;
        }
        total += n;
    }
    if (written != nullptr) *written = total;
    return ok;
}

bool SetFilePointer(FileHandle file, std::int64_t distance, SeekFrom from,
                    std::uint64_t* position) {
    if (!HookAllows(FileOp::kSeek, file, nullptr)) return false;
    DWORD method = from == SeekFrom::kBegin     ? FILE_BEGIN
                   : from == SeekFrom::kCurrent ? FILE_CURRENT
                                                : FILE_END;
    LARGE_INTEGER move;
    move.QuadPart = distance;
    LARGE_INTEGER now;
    if (!::SetFilePointerEx(Handle(file), move, &now, method)) return false;
    if (position != nullptr) *position = static_cast<std::uint64_t>(now.QuadPart);
    return true;
}

bool SetEndOfFile(FileHandle file) {
    if (!HookAllows(FileOp::kTruncate, file, nullptr)) return false;
    return ::SetEndOfFile(Handle(file)) != 0;
}

// A close that the hook fails still closes the handle: it is invalid afterwards either
// way.
bool CloseFile(FileHandle& file) {
    if (!file.IsValid()) return true;
    bool allowed = HookAllows(FileOp::kClose, file, nullptr);
    DWORD hookError = ::GetLastError();
    HANDLE handle = Handle(file);
    file.value = -1;
    win32::ReleasePort(handle);
    bool closed = ::CloseHandle(handle) != 0;
    if (!allowed) return Fail(hookError);
    return closed;
}

bool FlushFile(FileHandle file) {
    if (!HookAllows(FileOp::kFlush, file, nullptr)) return false;
    return ::FlushFileBuffers(Handle(file)) != 0;
}

bool RemoveFile(const char* path) {
    if (!PathCallAllowed(FileOp::kDelete, path)) return false;
    return ::DeleteFileA(path) != 0;
}

// MOVEFILE_WRITE_THROUGH: the call returns once the move is on the disk, which on POSIX
// takes the folder's flush (FlushFolderOf). The move replaces the target in one step; it
// fails (ERROR_ACCESS_DENIED or ERROR_SHARING_VIOLATION) while any other handle holds the
// target open, even one that shares everything (a reader such as pgnlive, a virus scanner
// or the search indexer, each of which holds it for a moment), and the target is then left
// as it was. POSIX replaces a file that is held open; here the move is tried again for a
// while (about 130 ms in all) before it counts as failed.
bool RenameFileOver(const char* from, const char* to) {
    if (!PathCallAllowed(FileOp::kRename, from) || !internal::CheckPath(to)) return false;
    for (DWORD wait = 1;; wait *= 2) {
        if (::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        const DWORD error = ::GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || wait > 64) {
            return Fail(error);
        }
        ::Sleep(wait);
    }
}

// Without MOVEFILE_REPLACE_EXISTING the move fails with ERROR_ALREADY_EXISTS when to exists,
// and both files stay as they were.
bool RenameFileNoReplace(const char* from, const char* to) {
    if (!PathCallAllowed(FileOp::kRename, from) || !internal::CheckPath(to)) return false;
    return ::MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != 0;
}

// Nothing to do: the renames above are written through (MOVEFILE_WRITE_THROUGH), and files
// are created and removed in a folder that NTFS journals itself; Windows offers programs no
// flush of a folder. It still asks the hook, so that tests fail it alike on both systems.
bool FlushFolderOf(const char* path) {
    return PathCallAllowed(FileOp::kFlush, path);
}

bool FileExists(const char* path) {
    if (!PathCallAllowed(FileOp::kStat, path)) return false;
    return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

// The system's own; '/' is taken too (IsPathSeparator) but reads as foreign in a Windows
// path such as C:\chess\chessrec.000.pgn.
char PathSeparator() {
    return '\\';
}

// ---------------------------------------------------------------------------------------
// File information

// From the folder's entry, without opening the file (no sharing to get in anyone's way).
// The time is the last write, in the system's 100 ns ticks.
bool GetFileInfo(const char* path, FileInfo* info) {
    if (!PathCallAllowed(FileOp::kStat, path) || !internal::CheckGiven(info)) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return false;
    info->isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info->size = info->isFolder
                     ? 0
                     : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info->modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime);
    return true;
}

}  // namespace platform
