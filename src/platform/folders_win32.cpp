// Folders on Windows: listings with FindFirstFileExA, and change notification with
// ReadDirectoryChangesW. Every watched folder has an overlapped read pending on its handle,
// and all of them complete to one I/O completion port (no limit of 64 handles, as
// WaitForMultipleObjects has); PostQueuedCompletionStatus wakes its waiter. A folder's
// own handle sees nothing of the folder being renamed, so each folder's parent is read as
// well, for its folders' names. A folder removed while its handle is open fails the read
// pending on it (access denied) and waits, delete-pending, for the handle to close. Wine 8
// removes it only once the last handle is closed and says nothing before: there a removed
// folder stays watched, and in place, until it is unwatched.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/win32_internal.h"

namespace platform {
namespace {

using internal::Fail;
using internal::PathCallAllowed;

// A change: a file created, renamed, removed or written in the folder.
constexpr DWORD kChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                           FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE |
                           FILE_NOTIFY_CHANGE_CREATION;
constexpr ULONG_PTR kWakeKey = 0;
constexpr ULONG_PTR kReadKey = 1;
constexpr DWORD kFolderBuffer = 16384;
constexpr DWORD kParentBuffer = 4096;

// Which folder a handle holds, whatever its name now.
struct FolderId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FolderId&) const = default;
};

// One folder handle and the read pending on it: a watched folder's, or the parent's of
// watched folders. The record lives until its last read has completed, since the system
// writes into it until then.
struct Reader {
    OVERLAPPED overlap{};  // first: a completion's OVERLAPPED* is the Reader*
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool pending = false;  // a read is under way
    bool closing = false;  // given up: freed when its read completes
    bool isParent = false;
    std::string path;  // full path
    FolderId identity;
    int id = 0;                // a watched folder's
    Reader* parent = nullptr;  // a watched folder's parent, when it could be read
    int children = 0;          // a parent's watched folders
    std::vector<DWORD> buffer;
};

struct Watch {
    HANDLE port = nullptr;
    std::mutex mutex;                        // guards everything below and every Reader
    std::map<int, Reader*> folders;          // by id
    std::map<std::string, Reader*> parents;  // by full path
    std::set<Reader*> readers;               // every record not freed yet
};

Watch* WatchOf(FolderWatch watch) {
    return reinterpret_cast<Watch*>(watch.value);
}

void AddOnce(std::vector<int>* ids, int id) {
    if (std::find(ids->begin(), ids->end(), id) == ids->end()) ids->push_back(id);
}

bool IdentityOf(HANDLE handle, FolderId* identity) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info)) return false;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Fail(ERROR_DIRECTORY);
    *identity = FolderId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
    return true;
}

// Opens a folder so that it stays free to be written in, renamed and removed, for
// overlapped reads of its changes (FILE_LIST_DIRECTORY, backup semantics).
HANDLE OpenFolder(const std::string& path, FolderId* identity) {
    HANDLE handle = ::CreateFileA(
        path.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    if (!IdentityOf(handle, identity)) {
        DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        ::SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

// Whether path still names the folder that reader holds. A folder removed while its handle
// is open waits, delete-pending, for the handle to close, and refuses to open until then.
bool StillThere(const Reader& reader) {
    HANDLE handle = ::CreateFileA(reader.path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    FolderId now;
    bool same = IdentityOf(handle, &now) && now == reader.identity;
    ::CloseHandle(handle);
    return same;
}

// A new record for the folder at path, its handle tied to the watch's port.
Reader* NewReader(Watch& watch, const std::string& path, bool isParent) {
    auto reader = std::make_unique<Reader>();
    reader->path = path;
    reader->isParent = isParent;
    reader->buffer.resize((isParent ? kParentBuffer : kFolderBuffer) / sizeof(DWORD));
    reader->handle = OpenFolder(path, &reader->identity);
    if (reader->handle == INVALID_HANDLE_VALUE) return nullptr;
    if (::CreateIoCompletionPort(reader->handle, watch.port, kReadKey, 0) == nullptr) {
        DWORD error = ::GetLastError();
        ::CloseHandle(reader->handle);
        ::SetLastError(error);
        return nullptr;
    }
    watch.readers.insert(reader.get());
    return reader.release();
}

// Starts the next read of reader's changes. The system keeps the changes made between two
// reads on the handle, so none is lost while the waiter looks at the last.
bool Arm(Reader& reader) {
    reader.overlap = OVERLAPPED{};
    DWORD filter = reader.isParent ? FILE_NOTIFY_CHANGE_DIR_NAME : kChanges;
    if (!::ReadDirectoryChangesW(reader.handle, reader.buffer.data(),
                                 static_cast<DWORD>(reader.buffer.size() * sizeof(DWORD)), FALSE,
                                 filter, nullptr, &reader.overlap, nullptr)) {
        return false;
    }
    reader.pending = true;
    return true;
}

void Free(Watch& watch, Reader* reader) {
    watch.readers.erase(reader);
    delete reader;
}

// Closes reader's handle, which cancels its read; the record goes once that read has
// completed.
void GiveUp(Watch& watch, Reader* reader) {
    if (reader->handle != INVALID_HANDLE_VALUE) {
        ::CancelIoEx(reader->handle, &reader->overlap);
        ::CloseHandle(reader->handle);
        reader->handle = INVALID_HANDLE_VALUE;
    }
    reader->closing = true;
    if (!reader->pending) Free(watch, reader);
}

// Stops watching the folder of reader, and its parent once no watched folder is left in it.
void Release(Watch& watch, Reader* reader) {
    watch.folders.erase(reader->id);
    Reader* parent = reader->parent;
    GiveUp(watch, reader);
    if (parent != nullptr && --parent->children == 0) {
        watch.parents.erase(parent->path);
        GiveUp(watch, parent);
    }
}

// The reader of path's parent, shared by the watched folders in it; null for a root, or a
// parent that cannot be read (the folder's rename then goes unseen; its removal does not).
Reader* ParentReader(Watch& watch, const std::string& path) {
    std::size_t slash = path.find_last_of('\\');
    if (slash == std::string::npos || slash + 1 == path.size()) return nullptr;
    std::string parentPath = path.substr(0, slash);
    if (parentPath.empty() || parentPath.back() == ':') parentPath += '\\';  // C:\ itself
    if (parentPath.size() < 3 || parentPath == path) return nullptr;
    auto found = watch.parents.find(parentPath);
    if (found != watch.parents.end()) return found->second;
    Reader* parent = NewReader(watch, parentPath, true);
    if (parent == nullptr) return nullptr;
    if (!Arm(*parent)) {
        GiveUp(watch, parent);
        return nullptr;
    }
    watch.parents[parentPath] = parent;
    return parent;
}

void Gone(Watch& watch, Reader* reader, std::vector<int>* changed, std::vector<int>* gone) {
    AddOnce(gone, reader->id);
    changed->erase(std::remove(changed->begin(), changed->end(), reader->id), changed->end());
    Release(watch, reader);
}

// Notes one completed read (the watch's lock is held). error is the read's, bytes what it
// brought; none at all means more changed than the buffer held.
void Completed(Watch& watch, Reader* reader, DWORD error, DWORD bytes, std::vector<int>* changed,
               std::vector<int>* gone) {
    (void)bytes;  // any record, or none, is a change alike
    reader->pending = false;
    if (reader->closing) {
        Free(watch, reader);
        return;
    }
    if (reader->isParent) {
        // A folder created, renamed or removed here: each watched folder in it that its path
        // no longer names is gone.
        std::vector<Reader*> lost;
        for (const auto& [id, folder] : watch.folders) {
            if (folder->parent == reader && !StillThere(*folder)) lost.push_back(folder);
        }
        bool keep = reader->children > static_cast<int>(lost.size());
        if (keep && (error != ERROR_SUCCESS || !Arm(*reader))) {
            // The parent itself is beyond reading: its folders' renames go unseen.
            ::CloseHandle(reader->handle);
            reader->handle = INVALID_HANDLE_VALUE;
        }
        for (Reader* folder : lost)
            Gone(watch, folder, changed, gone);
        return;
    }
    // A removed folder's read fails (access denied); any failed read, or one that cannot be
    // started again, ends the folder's watch rather than spin.
    if ((error == ERROR_SUCCESS || error == ERROR_NOTIFY_ENUM_DIR) && StillThere(*reader) &&
        Arm(*reader)) {
        AddOnce(changed, reader->id);
    } else {
        Gone(watch, reader, changed, gone);
    }
}

}  // namespace

bool internal::MakeFolder(const char* path) {
    return ::CreateDirectoryA(path, nullptr) != 0;
}

// FindFirstFileExA lists every entry; an empty root has none, not even ".".
bool ListFolder(const char* folder, std::vector<std::string>* names) {
    if (names != nullptr) names->clear();
    if (!PathCallAllowed(FileOp::kList, folder) || !internal::CheckGiven(names)) return false;
    std::string pattern = folder;
    if (!pattern.empty() && !IsPathSeparator(pattern.back())) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        DWORD attributes = ::GetFileAttributesA(folder);
        if (error == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return true;
        }
        return Fail(error);
    }
    do {
        if (std::strcmp(entry.cFileName, ".") != 0 && std::strcmp(entry.cFileName, "..") != 0) {
            names->emplace_back(entry.cFileName);
        }
    } while (::FindNextFileA(find, &entry));
    DWORD error = ::GetLastError();
    ::FindClose(find);
    if (error != ERROR_NO_MORE_FILES) {
        names->clear();
        return Fail(error);
    }
    return true;
}

FolderWatch CreateFolderWatch() {
    FolderWatch result;
    HANDLE port = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    if (port == nullptr) return result;
    auto* watch = new (std::nothrow) Watch;
    if (watch == nullptr) {
        ::CloseHandle(port);
        Fail(ERROR_NOT_ENOUGH_MEMORY);
        return result;
    }
    watch->port = port;
    result.value = reinterpret_cast<std::intptr_t>(watch);
    return result;
}

// The folder is known by its full path, from which its parent follows.
bool WatchFolder(FolderWatch watch, const char* folder, int id) {
    if (!PathCallAllowed(FileOp::kWatch, folder)) return false;
    if (!watch.IsValid()) return Fail(ERROR_INVALID_PARAMETER);
    char full[MAX_PATH];
    DWORD length = ::GetFullPathNameA(folder, sizeof full, full, nullptr);
    if (length == 0) return false;
    if (length >= sizeof full) return Fail(ERROR_FILENAME_EXCED_RANGE);
    std::string path(full, length);
    while (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    Watch& state = *WatchOf(watch);
    std::lock_guard<std::mutex> lock(state.mutex);
    Reader* reader = NewReader(state, path, false);
    if (reader == nullptr) return false;
    if (!Arm(*reader)) {
        DWORD error = ::GetLastError();
        GiveUp(state, reader);
        return Fail(error);
    }
    reader->id = id;
    reader->parent = ParentReader(state, path);
    if (reader->parent != nullptr) ++reader->parent->children;
    auto earlier = state.folders.find(id);
    if (earlier != state.folders.end()) Release(state, earlier->second);
    state.folders[id] = reader;
    return true;
}

void UnwatchFolder(FolderWatch watch, int id) {
    if (!watch.IsValid()) return;
    Watch& state = *WatchOf(watch);
    std::lock_guard<std::mutex> lock(state.mutex);
    auto found = state.folders.find(id);
    if (found != state.folders.end()) Release(state, found->second);
}

// The first completion is waited for; those queued behind it are taken at once, so that a
// burst of changes that is over is reported in one answer.
bool WaitForFolderChanges(FolderWatch watch, std::uint32_t timeoutMs, std::vector<int>* changed,
                          std::vector<int>* gone) {
    if (changed != nullptr) changed->clear();
    if (gone != nullptr) gone->clear();
    if (!internal::HookAllows(FileOp::kWatch, FileHandle{}, nullptr) ||
        !internal::CheckGiven(changed) || !internal::CheckGiven(gone)) {
        return false;
    }
    if (!watch.IsValid()) return Fail(ERROR_INVALID_PARAMETER);
    Watch& state = *WatchOf(watch);
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD waitMs = INFINITE;
        if (timeoutMs != kNoTimeLimit) {
            ULONGLONG now = ::GetTickCount64();
            waitMs = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
        }
        bool woken = false;
        for (int taken = 0; taken < 256; ++taken) {
            DWORD bytes = 0;
            ULONG_PTR key = 0;
            OVERLAPPED* overlap = nullptr;
            BOOL done = ::GetQueuedCompletionStatus(state.port, &bytes, &key, &overlap,
                                                    taken == 0 ? waitMs : 0);
            DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
            if (overlap == nullptr) {
                if (done) {  // kWakeKey: nothing else is posted
                    woken = true;
                    continue;
                }
                if (error == WAIT_TIMEOUT) break;
                return Fail(error);
            }
            std::lock_guard<std::mutex> lock(state.mutex);
            Completed(state, reinterpret_cast<Reader*>(overlap), error, bytes, changed, gone);
        }
        if (!changed->empty() || !gone->empty()) {
            // A wake that came with changes is posted again: it ends the next wait.
            if (woken && !::PostQueuedCompletionStatus(state.port, 0, kWakeKey, nullptr))
                return Fail(::GetLastError());
            return true;
        }
        // Completions of folders given up are no change: wait on.
        if (woken || waitMs == 0) return true;
    }
}

bool WakeFolderWatch(FolderWatch watch) {
    if (!watch.IsValid()) return Fail(ERROR_INVALID_PARAMETER);
    return ::PostQueuedCompletionStatus(WatchOf(watch)->port, 0, kWakeKey, nullptr) != 0;
}

// The cancelled reads complete to the port; a record whose read has not completed within
// a few seconds is left allocated, since the system may still write into it.
void CloseFolderWatch(FolderWatch& watch) {
    if (!watch.IsValid()) return;
    Watch* state = WatchOf(watch);
    watch.value = -1;
    std::vector<Reader*> all(state->readers.begin(), state->readers.end());
    for (Reader* reader : all)
        GiveUp(*state, reader);
    for (int idle = 0; !state->readers.empty() && idle < 5;) {
        DWORD bytes = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlap = nullptr;
        BOOL done = ::GetQueuedCompletionStatus(state->port, &bytes, &key, &overlap, 1000);
        if (overlap != nullptr) {
            Free(*state, reinterpret_cast<Reader*>(overlap));
        } else if (!done) {
            ++idle;  // nothing came (a wake is taken as it comes)
        }
    }
    ::CloseHandle(state->port);
    delete state;
}

}  // namespace platform
