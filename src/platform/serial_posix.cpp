// The serial line on POSIX (Linux): a port is a terminal opened non-blocking and
// exclusively, and set raw. An overlapped read or write is a non-blocking one that its
// Overlapped record carries on, and an event is an epoll descriptor: while an operation is
// pending it watches the port, so that waiting on the event is waiting for the line.
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iterator>
#include <mutex>
#include <new>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix_internal.h"

namespace platform {
namespace {

using internal::CheckGiven;
using internal::Fail;
using posix::FailErrno;
using posix::Fd;

// ---------------------------------------------------------------------------------------
// The ports held exclusively (TIOCEXCL), which a close or the end of the process gives up.

struct HeldPorts {
    std::mutex mutex;
    std::array<int, 16> fds = [] {
        std::array<int, 16> none{};
        none.fill(-1);
        return none;
    }();
};
constinit HeldPorts heldPorts;

bool HoldPort(int fd) {
    std::lock_guard<std::mutex> lock(heldPorts.mutex);
    auto free = std::find(heldPorts.fds.begin(), heldPorts.fds.end(), -1);
    if (free == heldPorts.fds.end()) return false;
    *free = fd;
    return true;
}

// ---------------------------------------------------------------------------------------
// Events. An event is in one of three states, told by what its epoll set watches:
// idle (nothing pending) and signalled both watch the marker, a descriptor that is always
// readable, with that state as its data; pending watches the operation's port instead. The
// new watch is made before the old one is dropped, so the set is never empty: a wait on an
// empty set would sleep for ever.

enum : std::uint64_t { kIdle = 1, kSignalled, kPending };

// The marker: an eventfd whose count is never read. Made once; -1 when it could not be (an
// event then cannot be created).
int Marker() {
    static const int marker = ::eventfd(1, EFD_CLOEXEC);
    return marker;
}

int EventFd(EventHandle event) {
    return static_cast<int>(event.value);
}

// Makes the epoll set ep watch fd for events, with data; false with errno set.
bool Watch(int ep, int fd, std::uint32_t events, std::uint64_t data) {
    epoll_event entry{};
    entry.events = events;
    entry.data.u64 = data;
    return ::epoll_ctl(ep, EPOLL_CTL_MOD, fd, &entry) == 0 ||
           (errno == ENOENT && ::epoll_ctl(ep, EPOLL_CTL_ADD, fd, &entry) == 0);
}

// Marks event idle or signalled, and drops the watch on port (-1: none).
bool MarkEvent(EventHandle event, std::uint64_t state, int port = -1) {
    if (!Watch(EventFd(event), Marker(), EPOLLIN, state)) return false;
    if (port >= 0) ::epoll_ctl(EventFd(event), EPOLL_CTL_DEL, port, nullptr);
    return true;
}

// ---------------------------------------------------------------------------------------
// Overlapped operations: what one needs lives in Overlapped::system. A cleared record
// (kind kNone) holds none.

enum class OverlapKind : std::uint8_t { kNone, kRead, kWrite, kDone };

struct OverlapState {
    OverlapKind kind;
    int fd;
    std::uint32_t size;  // capacity of a read, size of a write
    std::uint32_t done;  // bytes moved so far
    unsigned char* into;
    const unsigned char* from;
};
static_assert(sizeof(OverlapState) <= sizeof(Overlapped::system));
static_assert(alignof(OverlapState) <= alignof(Overlapped));

OverlapState* StateOf(Overlapped* overlap) {
    return std::launder(reinterpret_cast<OverlapState*>(overlap->system));
}

// Moves bytes as far as the line lets it: 0 once the operation is done (a read with the
// bytes there are, a write with all of them), EAGAIN while the line has none (a read) or no
// room (a write), else the error that ends it.
int Advance(OverlapState* op) {
    if (op->kind == OverlapKind::kRead) {
        if (op->size == 0) return 0;
        ssize_t n = posix::RetryRead(op->fd, op->into, op->size);
        if (n > 0) op->done = static_cast<std::uint32_t>(n);
        return n > 0 ? 0 : n == 0 ? EIO : errno;  // 0: the line hung up
    }
    while (op->done < op->size) {
        ssize_t n = posix::RetryWrite(op->fd, op->from + op->done, op->size - op->done);
        if (n <= 0) return n == 0 ? EIO : errno;
        op->done += static_cast<std::uint32_t>(n);
    }
    return 0;
}

// Ends a step of an operation with the error Advance gave: done signals the event, as
// Windows does; a failure leaves nothing pending, so that a wait on the event fails.
IoStart Settle(Overlapped* overlap, OverlapState* op, int error) {
    if (error == EAGAIN) return IoStart::kPending;
    op->kind = error == 0 ? OverlapKind::kDone : OverlapKind::kNone;
    if (overlap->event.IsValid())
        MarkEvent(overlap->event, error == 0 ? kSignalled : kIdle, op->fd);
    if (error == 0) return IoStart::kCompleted;
    Fail(error);
    return IoStart::kFailed;
}

// An overlapped operation starts as a non-blocking one; when the line cannot take it yet,
// it stays pending, and its event watches the port until it can.
IoStart Start(Overlapped* overlap, OverlapState* op, std::uint32_t* count) {
    int error = Advance(op);
    if (error == EAGAIN && overlap->event.IsValid()) {
        int ep = EventFd(overlap->event);
        std::uint32_t events = op->kind == OverlapKind::kRead ? EPOLLIN : EPOLLOUT;
        if (Watch(ep, op->fd, events, kPending)) {
            ::epoll_ctl(ep, EPOLL_CTL_DEL, Marker(), nullptr);
        } else {
            error = errno;  // no event could tell its end
        }
    }
    IoStart result = Settle(overlap, op, error);
    if (result == IoStart::kCompleted && count != nullptr) *count = op->done;
    return result;
}

// ---------------------------------------------------------------------------------------
// Line settings

struct Speed {
    std::uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

// Parity as LineSettings numbers it (0 none, 1 odd, 2 even, 3 mark, 4 space), in cflag bits.
constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD,
                                  PARENB | CMSPAR};
constexpr tcflag_t kParityMask = PARENB | PARODD | CMSPAR;
constexpr tcflag_t kFrameMask = CSIZE | kParityMask | CSTOPB;

// A raw line has no use for the end-of-file and end-of-line characters: they keep the
// line's EOF and event characters.
static_assert(VEOF != VMIN && VEOL != VTIME);

}  // namespace

namespace posix {

LineSettings LineOf(const termios& line) {
    LineSettings settings;
    speed_t speed = ::cfgetospeed(&line);
    for (const Speed& entry : kSpeeds) {
        if (entry.code == speed) settings.baudRate = entry.baud;
    }
    for (std::uint8_t i = 0; i < std::size(kSizes); ++i) {
        if ((line.c_cflag & CSIZE) == kSizes[i]) settings.byteSize = 5 + i;
    }
    for (std::uint8_t i = 0; i < std::size(kParities); ++i) {
        if ((line.c_cflag & kParityMask) == kParities[i]) settings.parity = i;
    }
    settings.stopBits = (line.c_cflag & CSTOPB) ? 2 : 0;
    settings.parityCheck = (line.c_iflag & INPCK) != 0;
    settings.eofChar = line.c_cc[VEOF];
    settings.evtChar = line.c_cc[VEOL];
    return settings;
}

bool SetLine(termios* line, const LineSettings& settings) {
    const Speed* speed =
        std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                     [&](const Speed& entry) { return entry.baud == settings.baudRate; });
    if (speed == std::end(kSpeeds) || settings.byteSize < 5 || settings.byteSize > 8 ||
        settings.parity >= std::size(kParities) ||
        (settings.stopBits != 0 && settings.stopBits != 2)) {
        return false;
    }
    ::cfsetispeed(line, speed->code);
    ::cfsetospeed(line, speed->code);
    line->c_cflag = (line->c_cflag & ~kFrameMask) | kSizes[settings.byteSize - 5] |
                    kParities[settings.parity] | (settings.stopBits == 2 ? CSTOPB : 0);
    line->c_iflag = settings.parityCheck ? line->c_iflag | INPCK : line->c_iflag & ~INPCK;
    line->c_cc[VEOF] = settings.eofChar;
    line->c_cc[VEOL] = settings.evtChar;
    return true;
}

// CRTSCTS and the modem lines stay as they were.
void MakeRaw(termios* line) {
    line->c_iflag &= ~kRawInputOff;
    line->c_oflag &= ~kRawOutputOff;
    line->c_lflag &= ~kRawLocalOff;
    line->c_cflag |= CLOCAL | CREAD;
    line->c_cc[VMIN] = 1;
    line->c_cc[VTIME] = 0;
}

bool SignalEvent(EventHandle event) {
    return MarkEvent(event, kSignalled) || FailErrno();
}

// A terminal keeps TIOCEXCL after its last close for as long as it exists (a
// pseudo-terminal's slave: while its master is open), which would shut out the next opener.
void ReleasePort(int fd) {
    {
        std::lock_guard<std::mutex> lock(heldPorts.mutex);
        auto held = std::find(heldPorts.fds.begin(), heldPorts.fds.end(), fd);
        if (held == heldPorts.fds.end()) return;
        *held = -1;
    }
    ::ioctl(fd, TIOCNXCL);
}

// Windows gives up a port's exclusive access with the process.
void ReleaseExclusivePorts() {
    std::lock_guard<std::mutex> lock(heldPorts.mutex);
    for (int fd : heldPorts.fds) {
        if (fd >= 0) ::ioctl(fd, TIOCNXCL);
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
    int error = ::ioctl(fd, TIOCGEXCL, &held) == 0 && held != 0 ? EBUSY : 0;
    bool exclusive = error == 0 && ::ioctl(fd, TIOCEXCL) == 0;
    if (error == 0 && !exclusive && errno != ENOTTY) error = errno;
    if (error == 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    }
    if (error == 0 && exclusive && !HoldPort(fd)) error = EMFILE;
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
    *settings = posix::LineOf(line);
    return true;
}

bool SetCommState(FileHandle port, const LineSettings& settings) {
    termios line;
    if (::tcgetattr(Fd(port), &line) != 0) return FailErrno();
    posix::MakeRaw(&line);
    if (!posix::SetLine(&line, settings)) return Fail(EINVAL);
    if (::tcsetattr(Fd(port), TCSANOW, &line) != 0) return FailErrno();

    // tcsetattr succeeds when any change was made; a driver may have refused the rest.
    termios applied;
    if (::tcgetattr(Fd(port), &applied) != 0) return FailErrno();
    LineSettings now = posix::LineOf(applied);
    if (now.baudRate != settings.baudRate || now.byteSize != settings.byteSize ||
        now.parity != settings.parity || now.stopBits != settings.stopBits) {
        return Fail(EINVAL);
    }
    return true;
}

// POSIX has no read time-outs: an overlapped read always gives what is there, else waits
// for the first byte, which is what these values say on Windows. Any other values are
// taken and change nothing.
bool GetCommTimeouts(FileHandle port, CommTimeouts* timeouts) {
    termios line;
    if (!CheckGiven(timeouts)) return false;
    if (::tcgetattr(Fd(port), &line) != 0) return FailErrno();
    *timeouts = CommTimeouts{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE};
    return true;
}

bool SetCommTimeouts(FileHandle port, const CommTimeouts& /*timeouts*/) {
    termios line;
    if (::tcgetattr(Fd(port), &line) != 0) return FailErrno();
    return true;
}

EventHandle CreateIoEvent() {
    EventHandle event;
    int ep = ::epoll_create1(EPOLL_CLOEXEC);
    if (ep == 0) {  // standard input was closed: a valid handle is never 0
        ep = ::fcntl(0, F_DUPFD_CLOEXEC, 1);
        ::close(0);
    }
    if (ep < 0) {
        FailErrno();
        return event;
    }
    event.value = ep;
    if (!MarkEvent(event, kIdle)) {
        FailErrno();
        CloseEvent(event);
    }
    return event;
}

// An event that watches a pending operation's port is not signalled: nothing to clear.
bool ResetEvent(EventHandle event) {
    epoll_event entry{};
    entry.events = EPOLLIN;
    entry.data.u64 = kIdle;
    if (::epoll_ctl(EventFd(event), EPOLL_CTL_MOD, Marker(), &entry) == 0) return true;
    return errno == ENOENT || FailErrno();
}

void CloseEvent(EventHandle& event) {
    if (!event.IsValid()) return;
    ::close(EventFd(event));
    event.value = -1;
}

// WaitForSingleObject becomes epoll_wait on the event's set: it returns when the port of a
// pending operation is ready (or hung up), or at once for the marker.
bool WaitForEvent(EventHandle event) {
    epoll_event ready{};
    int n;
    do {
        n = ::epoll_wait(EventFd(event), &ready, 1, -1);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return FailErrno();
    // Nothing pending could ever signal it: fail rather than sleep for ever.
    return ready.data.u64 != kIdle || Fail(EINVAL);
}

IoStart ReadFileOverlapped(FileHandle port, void* buffer, std::uint32_t capacity,
                           std::uint32_t* count, Overlapped* overlap) {
    if (count != nullptr) *count = 0;
    if (!CheckGiven(overlap)) return IoStart::kFailed;
    auto* op = new (overlap->system) OverlapState{
        OverlapKind::kRead, Fd(port), capacity, 0, static_cast<unsigned char*>(buffer), nullptr};
    return Start(overlap, op, count);
}

IoStart WriteFileOverlapped(FileHandle port, const void* data, std::uint32_t size,
                            std::uint32_t* count, Overlapped* overlap) {
    if (count != nullptr) *count = 0;
    if (!CheckGiven(overlap)) return IoStart::kFailed;
    auto* op = new (overlap->system) OverlapState{
        OverlapKind::kWrite, Fd(port), size, 0, nullptr, static_cast<const unsigned char*>(data)};
    return Start(overlap, op, count);
}

bool GetOverlappedResult(FileHandle port, Overlapped* overlap, std::uint32_t* count, bool wait) {
    if (count != nullptr) *count = 0;
    if (!CheckGiven(overlap)) return false;
    OverlapState* op = StateOf(overlap);
    if (op->kind == OverlapKind::kNone || op->fd != Fd(port)) return Fail(EINVAL);
    bool hungUp = false;
    for (;;) {
        IoStart step =
            op->kind == OverlapKind::kDone ? IoStart::kCompleted : Settle(overlap, op, Advance(op));
        if (count != nullptr) *count = op->done;
        if (step != IoStart::kPending) return step == IoStart::kCompleted;
        if (!wait) return Fail(EAGAIN);
        short events = op->kind == OverlapKind::kRead ? POLLIN : POLLOUT;
        if (!posix::WaitAgain(op->fd, events, &hungUp)) {
            Settle(overlap, op, errno);
            return false;
        }
    }
}

}  // namespace platform
