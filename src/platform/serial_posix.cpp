// The serial line on POSIX: a port is a terminal opened non-blocking and exclusively; what
// Windows keeps per port and terminals do not (read time-outs, the EOF and event
// characters) is kept in a small table, and an overlapped read or write becomes a
// non-blocking one whose event waits in poll on the descriptor.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix_internal.h"

namespace platform {
namespace {

using internal::CheckGiven;
using internal::Fail;
using posix::FailErrno;
using posix::Fd;
using posix::RetryRead;
using posix::RetryWrite;
using posix::SignalEvent;
using posix::WaitAgain;
using posix::WaitReady;

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

}  // namespace

namespace posix {

bool SignalEvent(EventHandle event) {
    std::lock_guard<std::mutex> lock(tables.mutex);
    EventSlot* slot = FindEvent(event);
    if (slot == nullptr) return Fail(EINVAL);
    slot->signalled = true;
    slot->fd = -1;
    return true;
}

// Forgets everything kept about fd before it is closed: its port settings, and the events
// armed on it (a wait on them would poll a descriptor that may be reused).
void ReleasePort(int fd) {
    bool exclusive = false;
    {
        std::lock_guard<std::mutex> lock(tables.mutex);
        for (EventSlot& slot : tables.events) {
            if (slot.inUse && slot.fd == fd) slot.fd = -1;
        }
        if (PortSlot* slot = FindPort(fd)) {
            exclusive = slot->exclusive;
            *slot = PortSlot{};
        }
    }
    if (exclusive) ::ioctl(fd, TIOCNXCL);
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

}  // namespace posix

const char* DefaultSerialDevice() {
    return "/dev/ttyS0";
}

FileHandle OpenSerialPort(const char* device) {
    FileHandle port;
    if (!internal::CheckPath(device)) return port;
    int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        FailErrno();
        return port;
    }
    // Windows serial ports are never shared: TIOCEXCL keeps other processes out (a
    // non-terminal answers ENOTTY here, and GetCommState fails later, as on Windows), and
    // an exclusive flock keeps out other handles, also of this process.
    // A privileged process gets past another holder's TIOCEXCL: the port is busy all the
    // same, and the holder's mark must stay.
    int held = 0;
    if (::ioctl(fd, TIOCGEXCL, &held) == 0 && held != 0) {
        ::close(fd);
        Fail(EBUSY);
        return port;
    }
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

// Serial devices belong to the group dialout (Debian, Ubuntu, Fedora); a terminal that
// another process holds exclusively answers EBUSY (see OpenSerialPort).
const char* SerialOpenHint(ErrorCode code) {
    switch (code) {
        case EACCES:
        case EPERM:
            return "serial devices belong to the group dialout: sudo usermod -aG dialout $USER, "
                   "then log in again";
        case EBUSY:
            return "another program holds it";
        case ENOENT:
            return "is the board plugged in? ls /dev/ttyUSB* /dev/ttyACM* lists USB serial "
                   "adapters";
        default:
            return nullptr;
    }
}

bool GetCommState(FileHandle port, LineSettings* settings) {
    termios line;
    if (!CheckGiven(settings)) return false;
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
    if (!CheckGiven(timeouts)) return false;
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
    if (!CheckGiven(overlap)) return IoStart::kFailed;
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
    if (!CheckGiven(overlap)) return IoStart::kFailed;
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
    if (!CheckGiven(overlap)) return false;
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
