// Everything the rest of chessrec asks of the operating system.
//
// The recorder was designed around Win32 calls; this header keeps their shape (a file
// handle, a thread-wide last error, sharing modes, overlapped reads on a serial line, a
// console control handler) so that the portable code reads the same on every system.
// What does not depend on the system (the fault hook, argument checks, the copy of a file)
// is written once, in platform.cpp. Each system implements the rest in one file per
// concern, in the order of this header and function for function alike: errors_*.cpp,
// files_*.cpp, process_*.cpp, serial_*.cpp and folders_*.cpp, with * posix or win32 (what
// is known of a file without opening it sits at the end of files_*.cpp).
// Nothing outside src/platform includes a system header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// ---------------------------------------------------------------------------------------
// Errors

// A system error code: errno on POSIX, GetLastError() on Windows.
using ErrorCode = std::uint32_t;

// The error of the last failed call of this layer on the calling thread.
ErrorCode LastError();
void SetLastError(ErrorCode code);

// Writes the system's description of code (no line end) into text, always terminated.
// Answers false, with text empty, when the system has no description for the code.
bool ErrorText(ErrorCode code, char* text, std::size_t size);

// The system's description of code, or "error 0xCODE" when it has none: the reason that
// the programs' own messages give.
std::string ReasonText(ErrorCode code);

// The errors that portable code and tests tell apart. Each system has its own codes.
enum class ErrorKind {
    kNotFound,          // no such file or device
    kAccessDenied,      // the caller may not open it (also: a folder opened as a file)
    kSharingViolation,  // another holder keeps the file open without sharing it (OpenFile)
    kWouldBlock,        // an overlapped operation is not done yet (GetOverlappedResult)
    kDiskFull,          // no room left on the device
    kInvalidArgument,   // a value the call cannot take (a seek before the start, a speed
                        // the line cannot carry, a missing buffer)
};

// Whether code is an error of kind.
bool IsError(ErrorCode code, ErrorKind kind);

// The system's code for an error of kind (what an argument check or a test's fault hook fails
// a call with).
ErrorCode ErrorOf(ErrorKind kind);

// Shows a failure to the user and returns when it has been shown. On a console system
// this is one line on standard error, "caption: text", flushed at once.
void ShowErrorBox(const char* caption, const char* text);

// ---------------------------------------------------------------------------------------
// Files

struct FileHandle {
    std::intptr_t value = -1;
    bool IsValid() const { return value != -1; }
};

enum Access : unsigned { kRead = 1, kWrite = 2, kReadWrite = 3 };

// Who else may open the file while this handle is open.
//   kNone: nobody. kRead: other readers that share reading.
//   kAll: others may read, write, rename and remove the file while this handle is open: the
//   reader that never gets in a writer's way. Read access only, on an existing file
//   (Disposition::kOpenExisting); anything else is refused (ErrorKind::kInvalidArgument).
enum class Share { kNone, kRead, kAll };

enum class Disposition {
    kCreateAlways,  // create, or open and truncate (only once this handle holds the file)
    kOpenExisting,  // fail when the file does not exist
    kOpenAlways,    // create when absent, keep the contents otherwise
};

// Opens path. A file opened with Share::kNone, or with write access, cannot be opened
// again, by this process or another, until it is closed; read-only handles that share
// reading may coexist. Such an open fails with an error of ErrorKind::kSharingViolation.
// Share::kAll is the exception on POSIX, which takes no lock for it: such a reader opens
// beside any handle, and any open succeeds beside it. Windows keeps its sharing rules: an
// open with Share::kNone is refused while a Share::kAll reader holds the file (after trying
// again for about 130 ms), and such a reader is refused while a handle that does not share
// reading holds it. Windows also refuses to rename another file over it while it is open
// (RenameFileOver fails, access denied, after the same wait), and may keep the name of a
// file removed while it is open until it is closed: a reader there keeps its hold short.
// A folder is not opened (ErrorKind::kAccessDenied). Answers an invalid handle on failure, with
// LastError() set.
FileHandle OpenFile(const char* path, unsigned access, Share share, Disposition disposition);

// Reads up to size bytes; fewer only at the end of the file (on a serial line: when no more
// bytes are waiting; with none waiting it waits for the first). *read gets the count.
bool ReadFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t* read);

// Writes all size bytes, or fails; *written gets the count that reached the file.
bool WriteFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t* written);

enum class SeekFrom { kBegin, kCurrent, kEnd };

// Moves the file position; *position (when given) gets the new position from the start.
bool SetFilePointer(FileHandle file, std::int64_t distance, SeekFrom from, std::uint64_t* position);

// Cuts (or extends) the file at its current position.
bool SetEndOfFile(FileHandle file);

// Closes a valid handle and marks it invalid. An invalid handle is left alone and answers
// true. Answers false when the system reports that the close failed (data may be lost);
// the handle is released and invalid all the same, also when the fault hook fails it.
bool CloseFile(FileHandle& file);

// Writes the file's data through onto the disk, and answers once the system says it is
// there (fsync; Windows: FlushFileBuffers).
bool FlushFile(FileHandle file);

// Copies from onto to, replacing to when it exists, and flushes to onto the disk. from is
// opened like a sharing reader and to like an unshared writer, so a copy onto a file that
// is held open (or onto from itself) fails with a sharing violation before to is touched.
// Any failed step fails the copy, with that step's error in LastError(). The copy is made
// of the calls above (and a flush), the same on every system.
bool CopyFileOver(const char* from, const char* to);

bool RemoveFile(const char* path);

// Renames from to to in one step, replacing to when it exists: whoever opens to finds the old
// file or the new one, never a part of either. Both lie in one folder. The new name is
// kept after a power cut once that folder is flushed (FlushFolderOf); on Windows the move
// is written through at once.
bool RenameFileOver(const char* from, const char* to);

// The same, but only when to does not exist yet; when it does, the call fails and leaves
// both files alone.
bool RenameFileNoReplace(const char* from, const char* to);

// Flushes the folder that holds path onto the disk: the files created, renamed and removed
// in it stay so after a power cut. Answers true where there is nothing to flush (Windows,
// whose moves are written through; a file system that keeps no folder to flush).
bool FlushFolderOf(const char* path);

// True when something exists at path (Windows: GetFileAttributesA succeeds).
bool FileExists(const char* path);

// True when c separates the parts of a path on this system.
bool IsPathSeparator(char c);

// The separator that this system puts between a folder and a name ('/'; Windows '\\'), as
// its own programs show paths.
char PathSeparator();

// Test seam: every file call above asks the hook first. A hook that answers non-zero
// makes the call fail with that error code, before the system is asked. file is the
// handle the call works on (invalid for calls by path); path is the path for calls by
// path (OpenFile, CopyFileOver, RemoveFile, FileExists, RenameFileOver and
// RenameFileNoReplace with from, FlushFolderOf, GetFileInfo, ListFolder, WatchFolder), else
// null. The copy loop of CopyFileOver goes through kRead, kWrite and kFlush as well (and its
// opens and closes through kOpen and kClose). kFlush is FlushFile and FlushFolderOf, kRename
// both renames, kStat FileExists and GetFileInfo, kCreateFolder CreateFolder (with each
// folder it makes or looks at); kWatch is WatchFolder (with its folder)
// and WaitForFolderChanges (with no path). The hook is process-wide.
enum class FileOp {
    kOpen,
    kRead,
    kWrite,
    kSeek,
    kTruncate,
    kClose,
    kCopy,
    kDelete,
    kStat,
    kFlush,
    kRename,
    kList,
    kWatch,
    kCreateFolder
};
using FaultHook = ErrorCode (*)(FileOp op, FileHandle file, const char* path, void* context);
void SetFaultHook(FaultHook hook, void* context);

// ---------------------------------------------------------------------------------------
// Process

// The executable's full path, always terminated; false when it cannot be found.
bool ExecutablePath(char* path, std::size_t size);

// The process's current folder as a full path, always terminated; false when it cannot be
// had or does not fit.
bool CurrentFolder(char* path, std::size_t size);

// Milliseconds from a fixed moment, monotonic, cut to 32 bits (wraps after 2^32 ms).
std::uint32_t TickCount();

// The console control handler: runs once, on a thread of its own, when the user stops the
// program (Ctrl-C, Ctrl-Break, the console closed; on POSIX SIGINT, SIGQUIT, SIGTERM and
// SIGHUP). It is expected to end the process with ExitProcess. Install it before any
// other thread is started.
using ControlHandler = void (*)();
bool InstallControlHandler(ControlHandler handler);

// Ends the process at once with code: standard output and error are flushed, no static
// destructor runs.
[[noreturn]] void ExitProcess(int code);

// Makes standard output and error carry the bytes written, untranslated (Windows would turn
// "\n" into CR LF), so that a program's lines are the same bytes on every system. Called
// first thing in main.
void UseBinaryStandardStreams();

// Lets the process hold open as many files (and network connections) as the system allows
// it: a server of many clients needs more than the usual first limit (POSIX: the soft
// limit raised to the hard one). Windows sets no such limit: nothing to do there.
void RaiseOpenFileLimit();

// ---------------------------------------------------------------------------------------
// Serial line

// The board's device when none is named: the system's first serial port.
const char* DefaultSerialDevice();

// Opens a serial device for reading and writing, exclusively, for overlapped I/O.
FileHandle OpenSerialPort(const char* device);

// What usually stops a serial device from opening with code on this system, and what a user
// does about it, as a short phrase ("another program holds it"); null when there is nothing
// to add to the system's text.
const char* SerialOpenHint(ErrorCode code);

// The line settings that the recorder sets; every other setting of the port is kept.
struct LineSettings {
    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 0;
    std::uint8_t parity = 0;    // 0 none
    std::uint8_t stopBits = 0;  // 0 one stop bit
    bool parityCheck = false;
    std::uint8_t eofChar = 0;
    std::uint8_t evtChar = 0;
};
bool GetCommState(FileHandle port, LineSettings* settings);
// Applies settings; the line also carries bytes untouched (no character processing).
bool SetCommState(FileHandle port, const LineSettings& settings);

// Read time-outs as Windows defines them. interval and multiplier 0xFFFFFFFF with a
// constant below 0xFFFFFFFF: a read returns at once with the bytes there are, else waits
// for the first byte.
struct CommTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
};
bool GetCommTimeouts(FileHandle port, CommTimeouts* timeouts);
bool SetCommTimeouts(FileHandle port, const CommTimeouts& timeouts);

// A manual-reset event that a pending overlapped operation signals. CreateIoEvent answers an
// invalid handle, with LastError() set, when the system has none left. A valid handle is
// never 0.
struct EventHandle {
    std::intptr_t value = -1;
    bool IsValid() const { return value != -1; }
};
EventHandle CreateIoEvent();
bool ResetEvent(EventHandle event);
void CloseEvent(EventHandle& event);  // closes a valid event and marks it invalid

// Waits, with no time limit, until the event is signalled: for a pending read, until bytes
// are there or the line has failed; for a pending write, until the line takes bytes again.
// Fails at once for an invalid event. Waiting on an event that no pending operation will
// signal is a caller's fault: POSIX fails at once, Windows waits for ever.
bool WaitForEvent(EventHandle event);

// The record of one overlapped operation. The system's part is opaque.
struct Overlapped {
    EventHandle event;
    alignas(8) unsigned char system[64] = {};
};

enum class IoStart { kCompleted, kPending, kFailed };

// Starts a read of at most capacity bytes. kCompleted: *count holds the bytes read.
// kPending: overlap->event is signalled when bytes are there; GetOverlappedResult then
// gives them. kFailed: LastError() tells why. *count is set to 0 before anything else.
IoStart ReadFileOverlapped(FileHandle port, void* buffer, std::uint32_t capacity,
                           std::uint32_t* count, Overlapped* overlap);
IoStart WriteFileOverlapped(FileHandle port, const void* data, std::uint32_t size,
                            std::uint32_t* count, Overlapped* overlap);

// Finishes a pending operation: with wait, until it is done; without, answers false when
// it is not done yet (LastError() is then an error of ErrorKind::kWouldBlock). *count gets the
// bytes moved. Asked again after the operation is done, it gives the same count again. The buffer
// or data of a pending operation must stay in place until it is done.
bool GetOverlappedResult(FileHandle port, Overlapped* overlap, std::uint32_t* count, bool wait);

// ---------------------------------------------------------------------------------------
// File information (files_*.cpp)

// What is known of a file or folder without opening it: asking never gets in the way of
// a program that writes, renames or removes it.
struct FileInfo {
    std::uint64_t size = 0;     // 0 for a folder
    std::int64_t modified = 0;  // the last change of its contents, in the system's ticks
                                // (compare two values; only their order means something,
                                // and two writes close together may share one)
    bool isFolder = false;
};

// False, with LastError(), when nothing is there (ErrorKind::kNotFound) or it cannot be
// asked.
bool GetFileInfo(const char* path, FileInfo* info);

// ---------------------------------------------------------------------------------------
// Folders (folders_*.cpp)

// The names of the entries of folder (not "." or ".."), in no particular order. names is
// emptied first. False, with LastError(), when folder cannot be listed (kNotFound: there is
// no such folder).
bool ListFolder(const char* folder, std::vector<std::string>* names);

// Makes the folder path, and the folders above it that are missing. True when it is there
// afterwards (also when it was before); false, with LastError(), when it cannot be made or
// a file is in its place.
bool CreateFolder(const char* path);

// Change notification on folders: one watch, many folders, each under an id of the
// caller's. One thread waits (WaitForFolderChanges); WatchFolder, UnwatchFolder and
// WakeFolderWatch may be called from another thread while it waits. The watch holds no
// folder in a way that stops a program from writing in it, or from renaming or removing it
// (Windows keeps a folder removed while it is watched, delete-pending, until the watch sees
// the removal and lets it go).
struct FolderWatch {
    std::intptr_t value = -1;
    bool IsValid() const { return value != -1; }
};

// An invalid watch, with LastError(), when the system has none to give.
FolderWatch CreateFolderWatch();

// Watches folder under id: a file created, written, renamed or removed in it, or the folder
// itself removed or renamed, is a change. False, with LastError(), when the folder cannot be
// watched (it does not exist, it is a file, ...); an earlier folder of id is then still
// watched. Watching an id again replaces its folder.
bool WatchFolder(FolderWatch watch, const char* folder, int id);

// Stops watching id (nothing to do for an id not watched): a wait that begins after this
// returns reports nothing of it.
void UnwatchFolder(FolderWatch watch, int id);

// Waits at most timeoutMs (kNoTimeLimit: no limit) for changes. *changed gets the ids of the
// folders that changed since the last call, each once: the changes made before it looks are
// one, and a wait already waiting returns at the first change of a burst, the rest coming
// with the next call. *gone gets the ids of the folders that were removed or renamed, each
// once, which are no longer watched (and not in *changed). Both are emptied first. Answers true
// with both empty at the time-out, or when WakeFolderWatch woke it with nothing changed; false,
// with LastError(), when the wait failed. A wake made while nobody waits, or that came with
// changes, makes the next wait return at once.
constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFF;  // testkit's kWaitForever
bool WaitForFolderChanges(FolderWatch watch, std::uint32_t timeoutMs, std::vector<int>* changed,
                          std::vector<int>* gone);

// Makes a WaitForFolderChanges that waits on another thread return now (for a clean stop).
bool WakeFolderWatch(FolderWatch watch);

// Lets every folder of watch go and marks it invalid; no thread may wait on it any more. An
// invalid watch is left alone.
void CloseFolderWatch(FolderWatch& watch);

}  // namespace platform
