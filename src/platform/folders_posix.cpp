// Folders on POSIX: listings with readdir, and change notification with inotify. A watch
// is one inotify descriptor for all its folders and an eventfd that wakes its waiter; poll
// waits on both, where Windows waits on one completion port.
#include <dirent.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix_internal.h"

namespace platform {
namespace {

using internal::Fail;
using internal::PathCallAllowed;
using posix::FailErrno;

// A change: a file created, written (each write, and its close), renamed in or out, or
// removed. IN_ONLYDIR refuses a path that is not a folder.
constexpr std::uint32_t kChanges = IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                   IN_MOVED_TO | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF |
                                   IN_ONLYDIR;
// The folder itself removed, renamed, or its file system unmounted; the system reports the
// watch's end (IN_IGNORED) after each.
constexpr std::uint32_t kGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED;

struct Watch {
    int inotify = -1;
    int wake = -1;
    std::mutex mutex;                       // guards the two maps
    std::map<int, int> descriptorOf;        // id -> inotify watch descriptor
    std::map<int, std::vector<int>> idsOf;  // descriptor -> ids (a folder watched twice
                                            // has one descriptor)
};

Watch* WatchOf(FolderWatch watch) {
    return reinterpret_cast<Watch*>(watch.value);
}

void AddOnce(std::vector<int>* ids, int id) {
    if (std::find(ids->begin(), ids->end(), id) == ids->end()) ids->push_back(id);
}

// Forgets id; its folder's descriptor is given up once no id is left on it.
void Forget(Watch& watch, int id) {
    auto found = watch.descriptorOf.find(id);
    if (found == watch.descriptorOf.end()) return;
    int descriptor = found->second;
    watch.descriptorOf.erase(found);
    std::vector<int>& ids = watch.idsOf[descriptor];
    ids.erase(std::remove(ids.begin(), ids.end(), id), ids.end());
    if (ids.empty()) {
        watch.idsOf.erase(descriptor);
        ::inotify_rm_watch(watch.inotify, descriptor);
    }
}

// Notes one event of the system's in *changed or *gone (the watch's lock is held).
void Note(Watch& watch, const inotify_event& event, std::vector<int>* changed,
          std::vector<int>* gone) {
    if (event.mask & IN_Q_OVERFLOW) {  // events were lost: any folder may have changed
        for (const auto& [id, descriptor] : watch.descriptorOf)
            AddOnce(changed, id);
        return;
    }
    auto found = watch.idsOf.find(event.wd);
    if (found == watch.idsOf.end()) return;  // unwatched since
    if ((event.mask & kGone) == 0) {
        for (int id : found->second)
            AddOnce(changed, id);
        return;
    }
    for (int id : found->second) {
        AddOnce(gone, id);
        changed->erase(std::remove(changed->begin(), changed->end(), id), changed->end());
        watch.descriptorOf.erase(id);
    }
    watch.idsOf.erase(found);
    // A renamed folder is still watched by the system: stop it (refused, harmlessly, for a
    // descriptor the system has already ended).
    ::inotify_rm_watch(watch.inotify, event.wd);
}

// Reads the events that are there and notes them: a bounded number of reads, so that a
// folder written without a pause cannot keep a wait from returning.
bool ReadEvents(Watch& watch, std::vector<int>* changed, std::vector<int>* gone) {
    alignas(inotify_event) unsigned char buffer[16384];
    for (int reads = 0; reads < 16; ++reads) {
        ssize_t n = posix::RetryRead(watch.inotify, buffer, sizeof buffer);
        if (n < 0 && errno == EAGAIN) break;
        if (n < 0) return FailErrno();
        std::lock_guard<std::mutex> lock(watch.mutex);
        std::size_t offset = 0;
        auto size = static_cast<std::size_t>(n);
        while (size - offset >= sizeof(inotify_event)) {
            inotify_event event;
            std::memcpy(&event, buffer + offset, sizeof event);
            offset += sizeof event;
            if (event.len > size - offset) break;
            offset += event.len;
            Note(watch, event, changed, gone);
        }
    }
    return true;
}

std::int64_t NowMs() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

bool internal::MakeFolder(const char* path) {
    if (::mkdir(path, 0755) != 0) return posix::FailErrno();
    return true;
}

bool ListFolder(const char* folder, std::vector<std::string>* names) {
    if (names != nullptr) names->clear();
    if (!PathCallAllowed(FileOp::kList, folder) || !internal::CheckGiven(names)) return false;
    DIR* dir = ::opendir(folder);
    if (dir == nullptr) return FailErrno();
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names->emplace_back(entry->d_name);
        }
    }
    ::closedir(dir);
    if (error != 0) {
        names->clear();
        return Fail(error);
    }
    return true;
}

FolderWatch CreateFolderWatch() {
    FolderWatch result;
    int inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify < 0) {
        FailErrno();
        return result;
    }
    int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    auto* watch = wake < 0 ? nullptr : new (std::nothrow) Watch;
    if (watch == nullptr) {
        int error = wake < 0 ? errno : ENOMEM;
        if (wake >= 0) ::close(wake);
        ::close(inotify);
        Fail(error);
        return result;
    }
    watch->inotify = inotify;
    watch->wake = wake;
    result.value = reinterpret_cast<std::intptr_t>(watch);
    return result;
}

// The system answers the descriptor it already has for a folder watched before, under this
// id or another.
bool WatchFolder(FolderWatch watch, const char* folder, int id) {
    if (!PathCallAllowed(FileOp::kWatch, folder)) return false;
    if (!watch.IsValid()) return Fail(EINVAL);
    Watch& state = *WatchOf(watch);
    std::lock_guard<std::mutex> lock(state.mutex);
    int descriptor = ::inotify_add_watch(state.inotify, folder, kChanges);
    if (descriptor < 0) return FailErrno();
    auto found = state.descriptorOf.find(id);
    if (found != state.descriptorOf.end() && found->second == descriptor) return true;
    Forget(state, id);
    state.descriptorOf[id] = descriptor;
    AddOnce(&state.idsOf[descriptor], id);
    return true;
}

void UnwatchFolder(FolderWatch watch, int id) {
    if (!watch.IsValid()) return;
    Watch& state = *WatchOf(watch);
    std::lock_guard<std::mutex> lock(state.mutex);
    Forget(state, id);
}

// A wake is the eventfd's count, read back to zero by the wait that it ends with nothing.
bool WaitForFolderChanges(FolderWatch watch, std::uint32_t timeoutMs, std::vector<int>* changed,
                          std::vector<int>* gone) {
    if (changed != nullptr) changed->clear();
    if (gone != nullptr) gone->clear();
    if (!internal::HookAllows(FileOp::kWatch, FileHandle{}, nullptr) ||
        !internal::CheckGiven(changed) || !internal::CheckGiven(gone)) {
        return false;
    }
    if (!watch.IsValid()) return Fail(EINVAL);
    Watch& state = *WatchOf(watch);
    const std::int64_t deadline = NowMs() + timeoutMs;
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != kNoTimeLimit)
            waitMs = static_cast<int>(std::max<std::int64_t>(0, deadline - NowMs()));
        pollfd entries[2] = {{state.inotify, POLLIN, 0}, {state.wake, POLLIN, 0}};
        int ready = ::poll(entries, 2, waitMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return FailErrno();
        if ((entries[0].revents & POLLIN) && !ReadEvents(state, changed, gone)) return false;
        // A wake that comes with changes stays counted: it ends the next wait.
        if (!changed->empty() || !gone->empty()) return true;
        if (entries[1].revents & POLLIN) {
            std::uint64_t count = 0;
            if (posix::RetryRead(state.wake, &count, sizeof count) == sizeof count) return true;
        }
        // Events of folders unwatched since are no change: wait on, unless the time is up.
        if (ready == 0 || waitMs == 0) return true;
    }
}

bool WakeFolderWatch(FolderWatch watch) {
    if (!watch.IsValid()) return Fail(EINVAL);
    std::uint64_t one = 1;
    ssize_t n = posix::RetryWrite(WatchOf(watch)->wake, &one, sizeof one);
    // EAGAIN: the count is full, and the wait will return all the same.
    return n == sizeof one || (n < 0 && errno == EAGAIN) || FailErrno();
}

void CloseFolderWatch(FolderWatch& watch) {
    if (!watch.IsValid()) return;
    Watch* state = WatchOf(watch);
    watch.value = -1;
    ::close(state->inotify);
    ::close(state->wake);
    delete state;
}

}  // namespace platform
