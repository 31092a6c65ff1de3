// The platform layer on POSIX (Linux, glibc): files, process, and the serial line.
//
// Handles are file descriptors. Sharing modes become advisory locks, the console control
// handler becomes a thread that waits for the stop signals, and an overlapped read on the
// serial line becomes a non-blocking read whose wait is a poll on the descriptor.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

#if defined(__SANITIZE_ADDRESS__)
#define CHESSREC_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CHESSREC_LEAK_CHECK 1
#endif
#endif
#ifdef CHESSREC_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

static_assert(sizeof(off_t) >= 8, "file offsets must be 64-bit");

namespace platform {
namespace {

// ---------------------------------------------------------------------------------------
// Errors

thread_local ErrorCode lastError = 0;

bool Fail(int error) {
    lastError = static_cast<ErrorCode>(error);
    return false;
}

bool FailErrno() {
    return Fail(errno);
}

int Fd(FileHandle file) {
    return static_cast<int>(file.value);
}

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

// Sleeps until fd is ready for events, or hung up, or in error. Answers the poll's
// revents, or -1 with errno set.
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

constexpr short kHungUp = POLLHUP | POLLERR;

// After a read or write answered EAGAIN: waits until fd is ready again. False, with the
// error in errno, when the wait fails, or when the line had already hung up (hungUp, kept
// by the caller across tries) and still has nothing: a dead line must not make us spin.
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

// ---------------------------------------------------------------------------------------
// Fault hook

struct HookState {
    std::mutex mutex;
    FaultHook hook = nullptr;
    void* context = nullptr;
};
HookState hookState;

// Asks the test hook about one file call; true when the call may go on, else the call
// fails with the hook's code in lastError.
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
    lastError = code;
    return false;
}

// ---------------------------------------------------------------------------------------
// Events and serial ports: small fixed tables, one lock.

constexpr int kEventSlots = 16;
constexpr int kPortSlots = 16;

struct EventSlot {
    bool inUse = false;
    bool signalled = false;
    int fd = -1;  // armed by a pending operation on this descriptor, else -1
    short events = 0;
    std::uint32_t generation = 0;
};

// What POSIX terminals do not keep for us: kept per open port.
struct PortSlot {
    int fd = -1;
    bool exclusive = false;  // TIOCEXCL was set by OpenSerialPort
    CommTimeouts timeouts;
    std::uint8_t eofChar = 0;
    std::uint8_t evtChar = 0;
};

struct Tables {
    std::mutex mutex;
    EventSlot events[kEventSlots];
    PortSlot ports[kPortSlots];
};
Tables tables;

// A handle's value is generation * kEventSlots + slot, so a closed handle stays dead
// when its slot is reused. Call with tables.mutex held.
EventSlot* FindEvent(EventHandle event) {
    if (event.value < 0) return nullptr;
    auto index = static_cast<std::size_t>(event.value % kEventSlots);
    auto generation = static_cast<std::uint32_t>(event.value / kEventSlots);
    EventSlot& slot = tables.events[index];
    if (!slot.inUse || slot.generation != generation) return nullptr;
    return &slot;
}

// Starting an operation resets its event, as Windows does, and ties it to fd.
void ArmEvent(EventHandle event, int fd, short events) {
    std::lock_guard<std::mutex> lock(tables.mutex);
    if (EventSlot* slot = FindEvent(event)) {
        slot->signalled = false;
        slot->fd = fd;
        slot->events = events;
    }
}

void SignalEvent(EventHandle event) {
    std::lock_guard<std::mutex> lock(tables.mutex);
    if (EventSlot* slot = FindEvent(event)) {
        slot->signalled = true;
        slot->fd = -1;
    }
}

// Call with tables.mutex held.
PortSlot* FindPort(int fd) {
    for (PortSlot& slot : tables.ports) {
        if (slot.fd == fd) return &slot;
    }
    return nullptr;
}

PortSlot* FindOrClaimPort(int fd) {
    if (PortSlot* slot = FindPort(fd)) return slot;
    if (PortSlot* slot = FindPort(-1)) {
        *slot = PortSlot{};
        slot->fd = fd;
        return slot;
    }
    return nullptr;
}

// Forgets everything kept about fd before it is closed: its port settings, and the
// events armed on it (a wait on them would poll a descriptor that may be reused).
// Answers whether the descriptor holds exclusive terminal access.
bool ForgetDescriptor(int fd) {
    std::lock_guard<std::mutex> lock(tables.mutex);
    for (EventSlot& slot : tables.events) {
        if (slot.inUse && slot.fd == fd) slot.fd = -1;
    }
    bool exclusive = false;
    if (PortSlot* slot = FindPort(fd)) {
        exclusive = slot->exclusive;
        *slot = PortSlot{};
    }
    return exclusive;
}

// ---------------------------------------------------------------------------------------
// Overlapped operations: their state lives in Overlapped::system.

enum class OverlapKind : std::uint32_t { kNone, kRead, kWrite, kDone };

struct OverlapState {
    OverlapKind kind = OverlapKind::kNone;
    int fd = -1;
    std::uint32_t size = 0;  // capacity of a read, size of a write
    std::uint32_t done = 0;  // bytes moved so far (the result once kDone)
    unsigned char* buffer = nullptr;
    const unsigned char* data = nullptr;
};
static_assert(sizeof(OverlapState) <= sizeof(Overlapped::system));

OverlapState LoadOverlap(const Overlapped* overlap) {
    OverlapState state;
    std::memcpy(&state, overlap->system, sizeof state);
    return state;
}

void StoreOverlap(Overlapped* overlap, const OverlapState& state) {
    std::memcpy(overlap->system, &state, sizeof state);
}

void CompleteOverlap(Overlapped* overlap, OverlapState state) {
    state.kind = OverlapKind::kDone;
    StoreOverlap(overlap, state);
    SignalEvent(overlap->event);
}

// A failed operation leaves nothing pending, and nothing that a wait could poll.
bool FailOverlap(Overlapped* overlap, int error) {
    StoreOverlap(overlap, OverlapState{});
    ArmEvent(overlap->event, -1, 0);
    return Fail(error);
}

// ---------------------------------------------------------------------------------------
// Serial line settings

struct Speed {
    std::uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},     {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},   {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200}, {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B921600
    {921600, B921600},
#endif
};

bool SpeedCode(std::uint32_t baud, speed_t* code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.baud == baud) {
            *code = speed.code;
            return true;
        }
    }
    return false;
}

std::uint32_t SpeedBaud(speed_t code) {
    for (const Speed& speed : kSpeeds) {
        if (speed.code == code) return speed.baud;
    }
    return 0;
}

// The cflag bits for a byte size, parity and stop bits, or false for values the line
// cannot carry. Parity: 0 none, 1 odd, 2 even, 3 mark, 4 space. Stop bits: 0 one, 2 two.
bool FrameFlags(const LineSettings& settings, tcflag_t* flags) {
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    if (settings.byteSize < 5 || settings.byteSize > 8) return false;
    tcflag_t bits = kSizes[settings.byteSize - 5];
    switch (settings.parity) {
        case 0:
            break;
        case 1:
            bits |= PARENB | PARODD;
            break;
        case 2:
            bits |= PARENB;
            break;
#ifdef CMSPAR
        case 3:
            bits |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            bits |= PARENB | CMSPAR;
            break;
#endif
        default:
            return false;
    }
    if (settings.stopBits == 2) {
        bits |= CSTOPB;
    } else if (settings.stopBits != 0) {
        return false;
    }
    *flags = bits;
    return true;
}

#ifdef CMSPAR
constexpr tcflag_t kFrameMask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
#else
constexpr tcflag_t kFrameMask = CSIZE | PARENB | PARODD | CSTOPB;
#endif

// ---------------------------------------------------------------------------------------
// Control handler

std::atomic<ControlHandler> controlHandler{nullptr};

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGQUIT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// Windows gives up a port's exclusive access with the process; a terminal keeps TIOCEXCL as
// long as it exists (a pseudo-terminal's slave: while its master is open), which would shut
// out the next recorder. So a process that ends gives it up for every port still open.
void ReleaseExclusivePorts() {
    std::lock_guard<std::mutex> lock(tables.mutex);
    for (PortSlot& slot : tables.ports) {
        if (slot.fd >= 0 && slot.exclusive) ::ioctl(slot.fd, TIOCNXCL);
    }
}

// A console control event becomes a stop signal, taken by this thread with sigwait.
void* ControlThread(void*) {
    sigset_t set = StopSignals();
    int signal = 0;
    if (sigwait(&set, &signal) != 0) return nullptr;
    if (ControlHandler handler = controlHandler.load()) handler();
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Errors

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

// A sharing violation is a lock that another handle holds (see OpenFile).
bool IsError(ErrorCode code, ErrorKind kind) {
    switch (kind) {
        case ErrorKind::kNotFound:
            return code == ENOENT;
        case ErrorKind::kAccessDenied:
            return code == EACCES || code == EPERM;
        case ErrorKind::kSharingViolation:
            return code == EBUSY;
        case ErrorKind::kWouldBlock:
            return code == EAGAIN;
        case ErrorKind::kDiskFull:
            return code == ENOSPC;
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
    }
    return EINVAL;
}

// The error box is a line on standard error.
void ShowErrorBox(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
}

// ---------------------------------------------------------------------------------------
// Files

FileHandle OpenFile(const char* path, unsigned access, Share share, Disposition disposition) {
    FileHandle file;
    if (!HookAllows(FileOp::kOpen, file, path)) return file;
    if (path == nullptr || (access != kRead && access != kWrite && access != kReadWrite)) {
        Fail(EINVAL);
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
    // unshared handle locks exclusively, a reader that shares reading locks shared.
    int lockKind = ((access & kWrite) != 0 || share == Share::kNone) ? LOCK_EX : LOCK_SH;
    int locked;
    do {
        locked = ::flock(fd, lockKind | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
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
        ssize_t n = RetryRead(Fd(file), bytes + total, size - total);
        if (n > 0) {
            total += static_cast<std::uint32_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno == EAGAIN && total > 0) {
            break;  // a serial line: the bytes that are there
        } else if (errno != EAGAIN || !WaitAgain(Fd(file), POLLIN, &hungUp)) {
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
        ssize_t n = RetryWrite(Fd(file), bytes + total, size - total);
        if (n > 0) {
            total += static_cast<std::uint32_t>(n);
        } else if (n == 0) {
            ok = Fail(EIO);
            break;
        } else if (errno != EAGAIN || !WaitAgain(Fd(file), POLLOUT, &hungUp)) {
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
    if (ForgetDescriptor(fd)) ::ioctl(fd, TIOCNXCL);
    // Never retried: after EINTR the descriptor may already be closed and reused.
    int closed = ::close(fd);
    if (!allowed) return false;
    if (closed != 0) return FailErrno();
    return true;
}

bool CopyFileOver(const char* from, const char* to) {
    if (!HookAllows(FileOp::kCopy, FileHandle{}, from)) return false;
    FileHandle source = OpenFile(from, kRead, Share::kRead, Disposition::kOpenExisting);
    if (!source.IsValid()) return false;
    FileHandle target = OpenFile(to, kWrite, Share::kNone, Disposition::kCreateAlways);
    if (!target.IsValid()) {
        ErrorCode error = lastError;
        CloseFile(source);
        lastError = error;
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
            error = lastError;
            break;
        }
        if (got < sizeof block) break;
    }
    if (ok && ::fsync(Fd(target)) != 0) {
        ok = false;
        error = static_cast<ErrorCode>(errno);
    }
    if (!CloseFile(target) && ok) {
        ok = false;
        error = lastError;
    }
    if (!CloseFile(source) && ok) {
        ok = false;
        error = lastError;
    }
    if (!ok) lastError = error;
    return ok;
}

bool RemoveFile(const char* path) {
    if (!HookAllows(FileOp::kDelete, FileHandle{}, path)) return false;
    if (::unlink(path) != 0) return FailErrno();
    return true;
}

bool IsPathSeparator(char c) {
    return c == '/';
}

bool FileExists(const char* path) {
    if (!HookAllows(FileOp::kStat, FileHandle{}, path)) return false;
    struct stat info;
    if (::stat(path, &info) != 0) return FailErrno();
    return true;
}

void SetFaultHook(FaultHook hook, void* context) {
    std::lock_guard<std::mutex> lock(hookState.mutex);
    hookState.hook = hook;
    hookState.context = context;
}

// ---------------------------------------------------------------------------------------
// Process

bool ExecutablePath(char* path, std::size_t size) {
    if (path == nullptr || size == 0) return Fail(EINVAL);
    path[0] = '\0';
    ssize_t n = ::readlink("/proc/self/exe", path, size);
    if (n < 0) return FailErrno();
    if (static_cast<std::size_t>(n) >= size) {
        path[0] = '\0';
        return Fail(ENAMETOOLONG);
    }
    path[n] = '\0';
    return true;
}

std::uint32_t TickCount() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
              static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

// The console control handler becomes a thread waiting in sigwait for the stop signals,
// which every thread blocks; a later call only replaces the handler.
bool InstallControlHandler(ControlHandler handler) {
    static std::mutex installMutex;
    static bool started = false;
    if (handler == nullptr) return Fail(EINVAL);
    std::lock_guard<std::mutex> lock(installMutex);
    controlHandler.store(handler);
    if (started) return true;

    // A console pipe that closes must not kill a recording: writes fail with EPIPE.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (::sigaction(SIGPIPE, &ignore, nullptr) != 0) return FailErrno();

    sigset_t set = StopSignals();
    sigset_t previous;
    int error = ::pthread_sigmask(SIG_BLOCK, &set, &previous);
    if (error != 0) return Fail(error);
    pthread_attr_t attributes;
    error = ::pthread_attr_init(&attributes);
    if (error == 0) {
        ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        error = ::pthread_create(&thread, &attributes, ControlThread, nullptr);
        ::pthread_attr_destroy(&attributes);
    }
    if (error != 0) {
        // No thread to take the signals: leave them as they were, so Ctrl-C still stops.
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return Fail(error);
    }
    started = true;
    return true;
}

[[noreturn]] void ExitProcess(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    ReleaseExclusivePorts();
#ifdef CHESSREC_LEAK_CHECK
    __lsan_do_leak_check();
#endif
    ::_exit(code);
}

// ---------------------------------------------------------------------------------------
// Serial line

const char* DefaultSerialDevice() {
    return "/dev/ttyS0";
}

FileHandle OpenSerialPort(const char* device) {
    FileHandle port;
    if (device == nullptr) {
        Fail(EINVAL);
        return port;
    }
    int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FailErrno();
        return port;
    }
    // Windows serial ports are never shared: TIOCEXCL keeps other processes out (a
    // non-terminal answers ENOTTY here, and GetCommState fails later, as on Windows), and
    // an exclusive flock keeps out other handles, also of this process.
    bool exclusive = ::ioctl(fd, TIOCEXCL) == 0;
    int error = exclusive || errno == ENOTTY ? 0 : errno;
    if (error == 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    }
    if (error == 0) {
        std::lock_guard<std::mutex> lock(tables.mutex);
        PortSlot* slot = FindOrClaimPort(fd);
        if (slot == nullptr) {
            error = EMFILE;
        } else {
            slot->exclusive = exclusive;
        }
    }
    if (error != 0) {
        if (exclusive) ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        Fail(error);
        return port;
    }
    port.value = fd;
    return port;
}

bool GetCommState(FileHandle port, LineSettings* settings) {
    termios line;
    if (settings == nullptr) return Fail(EINVAL);
    if (::tcgetattr(Fd(port), &line) != 0) return FailErrno();
    speed_t speed = ::cfgetispeed(&line);
    if (speed == B0) speed = ::cfgetospeed(&line);
    LineSettings result;
    result.baudRate = SpeedBaud(speed);
    switch (line.c_cflag & CSIZE) {
        case CS5:
            result.byteSize = 5;
            break;
        case CS6:
            result.byteSize = 6;
            break;
        case CS7:
            result.byteSize = 7;
            break;
        default:
            result.byteSize = 8;
            break;
    }
    if (line.c_cflag & PARENB) {
        bool odd = (line.c_cflag & PARODD) != 0;
#ifdef CMSPAR
        if (line.c_cflag & CMSPAR) {
            result.parity = odd ? 3 : 4;
        } else
#endif
        {
            result.parity = odd ? 1 : 2;
        }
    }
    result.stopBits = (line.c_cflag & CSTOPB) ? 2 : 0;
    result.parityCheck = (line.c_iflag & INPCK) != 0;
    {
        std::lock_guard<std::mutex> lock(tables.mutex);
        if (const PortSlot* slot = FindPort(Fd(port))) {
            result.eofChar = slot->eofChar;
            result.evtChar = slot->evtChar;
        }
    }
    *settings = result;
    return true;
}

bool SetCommState(FileHandle port, const LineSettings& settings) {
    termios line;
    if (::tcgetattr(Fd(port), &line) != 0) return FailErrno();
    speed_t speed;
    tcflag_t frame;
    if (!SpeedCode(settings.baudRate, &speed) || !FrameFlags(settings, &frame)) {
        return Fail(EINVAL);
    }
    {
        std::lock_guard<std::mutex> lock(tables.mutex);
        if (FindOrClaimPort(Fd(port)) == nullptr) return Fail(EMFILE);
    }
    ::cfsetispeed(&line, speed);
    ::cfsetospeed(&line, speed);
    line.c_cflag = (line.c_cflag & ~kFrameMask) | frame | CLOCAL | CREAD;
    // The board's bytes are binary: no line editing, echo, signal or flow-control
    // characters, no CR/LF mapping or stripping. CRTSCTS and the modem lines stay.
    line.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
#ifdef IUCLC
    line.c_iflag &= ~IUCLC;
#endif
    if (settings.parityCheck) line.c_iflag |= INPCK;
    line.c_oflag &= ~OPOST;
    line.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (::tcsetattr(Fd(port), TCSANOW, &line) != 0) return FailErrno();

    // tcsetattr succeeds when any change was made; a driver may have refused the rest.
    termios applied;
    if (::tcgetattr(Fd(port), &applied) != 0) return FailErrno();
    if (::cfgetospeed(&applied) != speed || (applied.c_cflag & kFrameMask) != frame) {
        return Fail(EINVAL);
    }
    std::lock_guard<std::mutex> lock(tables.mutex);
    if (PortSlot* slot = FindPort(Fd(port))) {
        slot->eofChar = settings.eofChar;
        slot->evtChar = settings.evtChar;
    }
    return true;
}

// POSIX has no read time-outs: the overlapped read gives "what is there, else wait for the
// first byte". The values are only kept, per handle, for GetCommTimeouts.
bool GetCommTimeouts(FileHandle port, CommTimeouts* timeouts) {
    termios line;
    if (timeouts == nullptr) return Fail(EINVAL);
    if (::tcgetattr(Fd(port), &line) != 0) return FailErrno();
    std::lock_guard<std::mutex> lock(tables.mutex);
    const PortSlot* slot = FindPort(Fd(port));
    *timeouts = slot ? slot->timeouts : CommTimeouts{};
    return true;
}

bool SetCommTimeouts(FileHandle port, const CommTimeouts& timeouts) {
    termios line;
    if (::tcgetattr(Fd(port), &line) != 0) return FailErrno();
    std::lock_guard<std::mutex> lock(tables.mutex);
    PortSlot* slot = FindOrClaimPort(Fd(port));
    if (slot == nullptr) return Fail(EMFILE);
    slot->timeouts = timeouts;
    return true;
}

EventHandle CreateIoEvent() {
    std::lock_guard<std::mutex> lock(tables.mutex);
    for (int i = 0; i < kEventSlots; ++i) {
        EventSlot& slot = tables.events[i];
        if (slot.inUse) continue;
        std::uint32_t generation =
            slot.generation % 0x7FFFFFFu + 1;  // never 0: a handle is never 0
        slot = EventSlot{};
        slot.inUse = true;
        slot.generation = generation;
        return EventHandle{static_cast<std::intptr_t>(generation) * kEventSlots + i};
    }
    Fail(EMFILE);
    return EventHandle{};
}

bool ResetEvent(EventHandle event) {
    std::lock_guard<std::mutex> lock(tables.mutex);
    EventSlot* slot = FindEvent(event);
    if (slot == nullptr) return Fail(EINVAL);
    slot->signalled = false;
    return true;
}

void CloseEvent(EventHandle& event) {
    if (!event.IsValid()) return;
    std::lock_guard<std::mutex> lock(tables.mutex);
    if (EventSlot* slot = FindEvent(event)) {
        std::uint32_t generation = slot->generation;
        *slot = EventSlot{};
        slot->generation = generation;
    }
    event.value = -1;
}

// The event of a pending operation is the readiness of its descriptor: the wait is a poll.
bool WaitForEvent(EventHandle event) {
    int fd;
    short events;
    {
        std::lock_guard<std::mutex> lock(tables.mutex);
        EventSlot* slot = FindEvent(event);
        if (slot == nullptr) return Fail(EINVAL);
        if (slot->signalled) return true;
        // Nothing pending could ever signal it: fail rather than sleep for ever.
        if (slot->fd < 0) return Fail(EINVAL);
        fd = slot->fd;
        events = slot->events;
    }
    if (WaitReady(fd, events) < 0) return FailErrno();
    std::lock_guard<std::mutex> lock(tables.mutex);
    EventSlot* slot = FindEvent(event);
    if (slot != nullptr && slot->fd == fd) slot->signalled = true;
    return true;
}

// An overlapped read is a non-blocking read; when nothing is there it stays pending, and
// its event waits in poll for the descriptor to become readable.
IoStart ReadFileOverlapped(FileHandle port, void* buffer, std::uint32_t capacity,
                           std::uint32_t* count, Overlapped* overlap) {
    if (count != nullptr) *count = 0;
    if (overlap == nullptr) {
        Fail(EINVAL);
        return IoStart::kFailed;
    }
    OverlapState state;
    state.fd = Fd(port);
    state.size = capacity;
    state.buffer = static_cast<unsigned char*>(buffer);
    ArmEvent(overlap->event, state.fd, POLLIN);
    if (capacity == 0) {
        CompleteOverlap(overlap, state);
        return IoStart::kCompleted;
    }
    ssize_t n = RetryRead(state.fd, state.buffer, capacity);
    if (n > 0) {
        state.done = static_cast<std::uint32_t>(n);
        CompleteOverlap(overlap, state);
        if (count != nullptr) *count = state.done;
        return IoStart::kCompleted;
    }
    if (n < 0 && errno == EAGAIN) {
        state.kind = OverlapKind::kRead;
        StoreOverlap(overlap, state);
        return IoStart::kPending;
    }
    // The end of the line (0: hung up) or an error: failed, so that no caller spins.
    FailOverlap(overlap, n == 0 ? EIO : errno);
    return IoStart::kFailed;
}

IoStart WriteFileOverlapped(FileHandle port, const void* data, std::uint32_t size,
                            std::uint32_t* count, Overlapped* overlap) {
    if (count != nullptr) *count = 0;
    if (overlap == nullptr) {
        Fail(EINVAL);
        return IoStart::kFailed;
    }
    OverlapState state;
    state.fd = Fd(port);
    state.size = size;
    state.data = static_cast<const unsigned char*>(data);
    ArmEvent(overlap->event, state.fd, POLLOUT);
    if (size > 0) {
        ssize_t n = RetryWrite(state.fd, state.data, size);
        if (n < 0 && errno != EAGAIN) {
            FailOverlap(overlap, errno);
            return IoStart::kFailed;
        }
        if (n > 0) state.done = static_cast<std::uint32_t>(n);
    }
    if (state.done == size) {
        CompleteOverlap(overlap, state);
        if (count != nullptr) *count = size;
        return IoStart::kCompleted;
    }
    state.kind = OverlapKind::kWrite;
    StoreOverlap(overlap, state);
    return IoStart::kPending;
}

bool GetOverlappedResult(FileHandle port, Overlapped* overlap, std::uint32_t* count, bool wait) {
    if (count != nullptr) *count = 0;
    if (overlap == nullptr) return Fail(EINVAL);
    OverlapState state = LoadOverlap(overlap);
    if (state.kind == OverlapKind::kNone || state.fd != Fd(port)) return Fail(EINVAL);
    if (state.kind == OverlapKind::kDone) {
        if (count != nullptr) *count = state.done;
        return true;
    }
    bool reading = state.kind == OverlapKind::kRead;
    bool hungUp = false;
    for (;;) {
        ssize_t n = reading
                        ? RetryRead(state.fd, state.buffer, state.size)
                        : RetryWrite(state.fd, state.data + state.done, state.size - state.done);
        if (n > 0) {
            state.done = reading ? static_cast<std::uint32_t>(n)
                                 : state.done + static_cast<std::uint32_t>(n);
            if (reading || state.done == state.size) {
                CompleteOverlap(overlap, state);
                if (count != nullptr) *count = state.done;
                return true;
            }
            continue;
        }
        if (n == 0 || errno != EAGAIN) return FailOverlap(overlap, n == 0 ? EIO : errno);
        // Nothing moved yet: not done, unless the line went away meanwhile.
        if (!reading) StoreOverlap(overlap, state);
        if (!wait) {
            if (count != nullptr && !reading) *count = state.done;
            return Fail(EAGAIN);
        }
        if (!WaitAgain(state.fd, reading ? POLLIN : POLLOUT, &hungUp)) {
            return FailOverlap(overlap, errno);
        }
    }
}

}  // namespace platform
