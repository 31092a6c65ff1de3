// Files on POSIX: a handle is a file descriptor, and the sharing modes of Windows become
// advisory locks (flock) held while the handle is open; the reader that shares everything
// takes none.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/internal.h"
#include "platform/path.h"
#include "platform/platform.h"
#include "platform/posix_internal.h"

static_assert(sizeof(off_t) >= 8, "file offsets must be 64-bit");

namespace platform {

using internal::Fail;
using internal::HookAllows;
using internal::PathCallAllowed;
using posix::FailErrno;
using posix::Fd;

namespace posix {

ssize_t RetryRead(int fd, void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t RetryWrite(int fd, const void* data, std::size_t size) {
    ssize_t n;
    do {
        n = ::write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

int WaitReady(int fd, short events) {
    pollfd entry{fd, events, 0};
    int n;
    do {
        n = ::poll(&entry, 1, -1);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    if (entry.revents & POLLNVAL) {
        errno = EBADF;
        return -1;
    }
    return entry.revents;
}

bool WaitAgain(int fd, short events, bool* hungUp) {
    if (*hungUp) {
        errno = EIO;
        return false;
    }
    int ready = WaitReady(fd, events);
    if (ready < 0) return false;
    *hungUp = (ready & kHungUp) != 0;
    return true;
}

}  // namespace posix

FileHandle OpenFile(const char* path, unsigned access, Share share, Disposition disposition) {
    FileHandle file;
    if (!PathCallAllowed(FileOp::kOpen, path) || !internal::CheckAccess(access) ||
        !internal::CheckShare(access, share, disposition)) {
        return file;
    }
    int flags = O_CLOEXEC;
    flags |= access == kRead ? O_RDONLY : access == kWrite ? O_WRONLY : O_RDWR;
    // Never O_TRUNC: kCreateAlways truncates only once the lock is held.
    if (disposition != Disposition::kOpenExisting) flags |= O_CREAT;
    int fd = ::open(path, flags, 0644);
    if (fd < 0) {
        FailErrno();
        return file;
    }
    // Windows does not open a folder as a file.
    struct stat info;
    int error = ::fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    if (error != 0) {
        ::close(fd);
        Fail(error);
        return file;
    }
    // Sharing modes become flock locks held while the handle is open: a writer or an
    // unshared handle locks exclusively, a reader that shares reading locks shared, and a
    // reader that shares everything (FILE_SHARE_DELETE too) does not lock: renames and
    // removals never wait for a lock here anyway.
    int lockKind = ((access & kWrite) != 0 || share == Share::kNone) ? LOCK_EX : LOCK_SH;
    int locked = 0;
    if (share != Share::kAll) {
        do {
            locked = ::flock(fd, lockKind | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
    }
    if (locked != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        Fail(error);
        return file;
    }
    if (disposition == Disposition::kCreateAlways && ::ftruncate(fd, 0) != 0) {
        error = errno;
        ::close(fd);
        Fail(error);
        return file;
    }
    file.value = fd;
    return file;
}

bool ReadFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* read) {
    if (read != nullptr) *read = 0;
    if (!HookAllows(FileOp::kRead, file, nullptr)) return false;
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::uint32_t total = 0;
    bool ok = true;
    bool hungUp = false;
    while (total < size) {
        ssize_t n = posix::RetryRead(Fd(file), bytes + total, size - total);
        if (n > 0) {
            total += static_cast<std::uint32_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno == EAGAIN && total > 0) {
            break;  // a serial line: the bytes that are there
        } else if (errno != EAGAIN || !posix::WaitAgain(Fd(file), POLLIN, &hungUp)) {
            ok = FailErrno();
            break;
        }
    }
    if (read != nullptr) *read = total;
    return ok;
}

bool WriteFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* written) {
    if (written != nullptr) *written = 0;
    if (!HookAllows(FileOp::kWrite, file, nullptr)) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t total = 0;
    bool ok = true;
    bool hungUp = false;
    while (total < size) {
        ssize_t n = posix::RetryWrite(Fd(file), bytes + total, size - total);
        if (n > 0) {
            total += static_cast<std::uint32_t>(n);
        } else if (n == 0) {
            ok = Fail(EIO);
            break;
        } else if (errno != EAGAIN || !posix::WaitAgain(Fd(file), POLLOUT, &hungUp)) {
            ok = FailErrno();
            break;
        }
    }
    if (written != nullptr) *written = total;
    return ok;
}

bool SetFilePointer(FileHandle file, std::int64_t distance, SeekFrom from,
                    std::uint64_t* position) {
    if (!HookAllows(FileOp::kSeek, file, nullptr)) return false;
    int whence = from == SeekFrom::kBegin     ? SEEK_SET
                 : from == SeekFrom::kCurrent ? SEEK_CUR
                                              : SEEK_END;
    off_t now = ::lseek(Fd(file), static_cast<off_t>(distance), whence);
    if (now < 0) return FailErrno();
    if (position != nullptr) *position = static_cast<std::uint64_t>(now);
    return true;
}

bool SetEndOfFile(FileHandle file) {
    if (!HookAllows(FileOp::kTruncate, file, nullptr)) return false;
    off_t now = ::lseek(Fd(file), 0, SEEK_CUR);
    if (now < 0 || ::ftruncate(Fd(file), now) != 0) return FailErrno();
    return true;
}

// A close that the hook fails still releases the descriptor (as a failed close(2) does):
// the handle is invalid afterwards either way.
bool CloseFile(FileHandle& file) {
    if (!file.IsValid()) return true;
    bool allowed = HookAllows(FileOp::kClose, file, nullptr);
    int fd = Fd(file);
    file.value = -1;
    posix::ReleasePort(fd);
    // Never retried: after EINTR the descriptor may already be closed and reused.
    int closed = ::close(fd);
    if (!allowed) return false;
    if (closed != 0) return FailErrno();
    return true;
}

bool FlushFile(FileHandle file) {
    if (!HookAllows(FileOp::kFlush, file, nullptr)) return false;
    if (::fsync(Fd(file)) != 0) return FailErrno();
    return true;
}

bool RemoveFile(const char* path) {
    if (!PathCallAllowed(FileOp::kDelete, path)) return false;
    if (::unlink(path) != 0) return FailErrno();
    return true;
}

bool RenameFileOver(const char* from, const char* to) {
    if (!PathCallAllowed(FileOp::kRename, from) || !internal::CheckPath(to)) return false;
    if (::rename(from, to) != 0) return FailErrno();
    return true;
}

bool RenameFileNoReplace(const char* from, const char* to) {
    if (!PathCallAllowed(FileOp::kRename, from) || !internal::CheckPath(to)) return false;
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return FailErrno();
    // A file system that cannot rename without replacing: look first. Only the recorder that
    // holds a session's lock writes that session's files, so nobody slips in between.
    struct stat info;
    if (::stat(to, &info) == 0) return Fail(EEXIST);
    if (::rename(from, to) != 0) return FailErrno();
    return true;
}

bool FlushFolderOf(const char* path) {
    if (!PathCallAllowed(FileOp::kFlush, path)) return false;
    const std::string folder = FolderPart(path);
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return FailErrno();
    int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    // EINVAL: a file system that keeps no folder to flush.
    if (error != 0 && error != EINVAL) return Fail(error);
    return true;
}

bool FileExists(const char* path) {
    if (!PathCallAllowed(FileOp::kStat, path)) return false;
    struct stat info;
    if (::stat(path, &info) != 0) return FailErrno();
    return true;
}

bool IsPathSeparator(char c) {
    return c == '/';
}

char PathSeparator() {
    return '/';
}

// ---------------------------------------------------------------------------------------
// File information

// The time of the last change of the contents in nanoseconds; the clock that stamps it
// is coarse (a few milliseconds).
bool GetFileInfo(const char* path, FileInfo* info) {
    if (!PathCallAllowed(FileOp::kStat, path) || !internal::CheckGiven(info)) return false;
    struct stat status;
    if (::stat(path, &status) != 0) return FailErrno();
    info->isFolder = S_ISDIR(status.st_mode);
    info->size = info->isFolder ? 0 : static_cast<std::uint64_t>(status.st_size);
    info->modified =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    return true;
}

}  // namespace platform
