// The test kit on POSIX (Linux, glibc): a virtual line is a pseudo-terminal, a program is a
// forked child, and the limits are resource limits and thread attributes.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/internal.h"
#include "platform/posix_internal.h"
#include "platform/testkit.h"

extern char** environ;

namespace platform::testkit {
namespace {

using internal::CheckGiven;
using internal::Fail;
using posix::FailErrno;
using posix::Fd;
using posix::kHungUp;

// The time left of timeoutMs since start (TickCount), as poll takes it.
int PollTimeout(std::uint32_t start, std::uint32_t timeoutMs) {
    if (timeoutMs == kWaitForever) return -1;
    std::uint32_t spent = TickCount() - start;
    std::uint32_t left = spent >= timeoutMs ? 0 : timeoutMs - spent;
    return left > static_cast<std::uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(left);
}

// ---------------------------------------------------------------------------------------
// Programs

// The exit code as Wait answers it.
int ExitCode(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return Process::kStillRunning;
}

// Opens one of the child's standard files in this process, so that a failure is ours to
// report; the child takes it over with dup2.
int OpenStandardFile(const std::string& path, bool output) {
    const char* name = path.empty() ? "/dev/null" : path.c_str();
    int flags = O_CLOEXEC | (output ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY);
    int fd;
    do {
        fd = ::open(name, flags, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The child's environment: this process's, with the given entries set over it.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text(*entry);
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const std::string& set : extra) {
            replaced = replaced || set.substr(0, set.find('=')) == name;
        }
        if (!replaced) entries.push_back(text);
    }
    entries.insert(entries.end(), extra.begin(), extra.end());
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// In the forked child, up to exec: only async-signal-safe calls. Never returns.
[[noreturn]] void RunChild(const int standard[3], char* const* argv, char* const* envp,
                           std::uint64_t fileSizeLimit, int report) {
    // The child starts as a program started from a shell would: no signal blocked, the
    // stop signals and SIGPIPE at their defaults (this process may have changed them).
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (int number : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ})
        ::sigaction(number, &action, nullptr);
    if (fileSizeLimit != 0) {
        // A write past the limit then fails with EFBIG instead of ending the program.
        action.sa_handler = SIG_IGN;
        ::sigaction(SIGXFSZ, &action, nullptr);
        struct rlimit limit = {static_cast<rlim_t>(fileSizeLimit),
                               static_cast<rlim_t>(fileSizeLimit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    for (int target = 0; target < 3; ++target) {
        // dup2 onto itself would keep the close-on-exec mark.
        if (standard[target] == target) {
            ::fcntl(target, F_SETFD, 0);
        } else {
            ::dup2(standard[target], target);
        }
    }
    ::execve(argv[0], argv, envp);
    int error = errno;
    ssize_t ignored = ::write(report, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

// Sums the CPU time and context switches of every thread of pid; asleep when each of its
// threads waits in the kernel. False when the process is gone or a zombie.
bool ReadUse(pid_t pid, ProcessUse* use) {
    const std::string base = "/proc/" + std::to_string(pid);
    auto fieldsAfterName = [](const std::string& path) {
        std::ifstream in(path);
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::size_t paren = stat.rfind(')');
        return paren == std::string::npos ? std::string() : stat.substr(paren + 2);
    };
    // After the name: the state is field 3, utime field 14, stime field 15.
    std::istringstream fields(fieldsAfterName(base + "/stat"));
    std::string state;
    if (!(fields >> state) || state == "Z" || state == "X") return false;
    unsigned long long ticks = 0;
    std::string field;
    for (int number = 4; number <= 15 && fields >> field; ++number) {
        if (number >= 14) ticks += std::strtoull(field.c_str(), nullptr, 10);
    }
    long perSecond = ::sysconf(_SC_CLK_TCK);
    ProcessUse result;
    result.cpuMicroseconds = ticks * 1000000ull / static_cast<unsigned long long>(perSecond);
    result.asleep = true;
    DIR* tasks = ::opendir((base + "/task").c_str());
    if (tasks == nullptr) return FailErrno();
    while (dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        const std::string task = base + "/task/" + entry->d_name;
        std::istringstream taskFields(fieldsAfterName(task + "/stat"));
        std::string taskState;
        taskFields >> taskState;
        // S: sleeping, D: in an uninterruptible wait; R: running or ready to run.
        if (taskState != "S" && taskState != "D") result.asleep = false;
        std::ifstream status(task + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                result.wakeUps += std::strtoull(line.c_str() + line.find(':') + 1, nullptr, 10);
            }
        }
    }
    ::closedir(tasks);
    *use = result;
    return true;
}

void* RunTask(void* task) {
    (*static_cast<const std::function<void()>*>(task))();
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Time

void Sleep(std::uint32_t ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// ---------------------------------------------------------------------------------------
// Virtual serial line

// A virtual line is a pseudo-terminal: the board's end is the master, the recorder's end
// the slave, set raw here (as SetCommState would) before anyone else opens it.
FileHandle OpenVirtualLine(char* deviceName, std::size_t size) {
    FileHandle line;
    if (!internal::CheckTextBuffer(deviceName, size)) return line;
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        FailErrno();
        return line;
    }
    int error = 0;
    if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0 ||
        ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        error = errno;
    } else {
        error = ::ptsname_r(master, deviceName, size);
    }
    int slave = -1;
    if (error == 0) {
        slave = ::open(deviceName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave < 0) error = errno;
    }
    termios raw;
    if (error == 0 && ::tcgetattr(slave, &raw) != 0) error = errno;
    if (error == 0) {
        posix::MakeRaw(&raw);
        if (::tcsetattr(slave, TCSANOW, &raw) != 0) error = errno;
    }
    // The settings stay with the line while the master is open; closing the slave makes
    // the master report a hang-up until a recorder opens it.
    if (slave >= 0) ::close(slave);
    if (error != 0) {
        deviceName[0] = '\0';
        ::close(master);
        Fail(error);
        return line;
    }
    line.value = master;
    return line;
}

// A master whose slave no program holds open reports POLLHUP.
bool IsVirtualLinePeerOpen(FileHandle line) {
    pollfd entry{Fd(line), 0, 0};
    int n;
    do {
        n = ::poll(&entry, 1, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return FailErrno();
    if (entry.revents & POLLNVAL) return Fail(EBADF);
    return (entry.revents & kHungUp) == 0;
}

// The wait of WaitForSingleObject with a time-out, on the line's descriptor.
WaitResult WaitForInput(FileHandle line, std::uint32_t timeoutMs) {
    const std::uint32_t start = TickCount();
    pollfd entry{Fd(line), POLLIN, 0};
    int n;
    do {
        n = ::poll(&entry, 1, PollTimeout(start, timeoutMs));
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        FailErrno();
        return WaitResult::kFailed;
    }
    if (n == 0) return WaitResult::kTimedOut;
    if (entry.revents & POLLIN) return WaitResult::kReady;
    Fail(entry.revents & POLLNVAL ? EBADF : EIO);
    return WaitResult::kFailed;
}

// The master shares the terminal settings of its slave: tcgetattr and tcsetattr on it
// read and change the line that the recorder has open.
bool GetVirtualLineSettings(FileHandle line, VirtualLineSettings* settings) {
    if (!CheckGiven(settings)) return false;
    termios state;
    if (::tcgetattr(Fd(line), &state) != 0) return FailErrno();
    LineSettings frame = posix::LineOf(state);
    VirtualLineSettings result;
    result.baudRate = frame.baudRate;
    result.byteSize = frame.byteSize;
    result.parity = frame.parity;
    result.stopBits = frame.stopBits;
    result.raw = (state.c_iflag & posix::kRawInputOff) == 0 &&
                 (state.c_oflag & posix::kRawOutputOff) == 0 &&
                 (state.c_lflag & posix::kRawLocalOff) == 0;
    result.receiverOn = (state.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD);
    result.hardwareFlowControl = (state.c_cflag & CRTSCTS) != 0;
    result.hangUpOnClose = (state.c_cflag & HUPCL) != 0;
    *settings = result;
    return true;
}

bool CookVirtualLine(FileHandle line) {
    termios state;
    if (::tcgetattr(Fd(line), &state) != 0) return FailErrno();
    state.c_iflag |= posix::kRawInputOff | IMAXBEL;
    state.c_oflag |= posix::kRawOutputOff | ONLCR | OCRNL;
    state.c_cflag |= CSTOPB | CRTSCTS | HUPCL;
    state.c_lflag |= posix::kRawLocalOff;
    if (::tcsetattr(Fd(line), TCSANOW, &state) != 0) return FailErrno();
    return true;
}

// ---------------------------------------------------------------------------------------
// Events

// The event is the serial line's.
bool SignalEvent(EventHandle event) {
    return posix::SignalEvent(event);
}

// ---------------------------------------------------------------------------------------
// Programs

// RLIMIT_FSIZE, set in the child.
bool CanLimitFileSize() {
    return true;
}

// A pidfd makes the wait for a child's end a poll with a time-out; where the kernel has
// none, the wait looks every millisecond.
struct Process::State {
    pid_t pid = -1;
    int pidfd = -1;
    int exitCode = kStillRunning;  // once reaped
    struct rusage usage = {};
};

Process::Process() : state_(std::make_unique<State>()) {}

Process::~Process() {
    if (state_->pid > 0 && state_->exitCode == kStillRunning) {
        Kill();
        Wait(10000);
    }
    if (state_->pidfd >= 0) ::close(state_->pidfd);
}

bool Process::Start(const ProcessOptions& options) {
    if (state_->pid > 0 || options.args.empty()) return Fail(EINVAL);
    std::vector<std::string> args = options.args;
    std::vector<std::string> env = ChildEnvironment(options.env);
    std::vector<char*> argv = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    const std::string* paths[3] = {&options.inPath, &options.outPath, &options.errPath};
    int standard[3] = {-1, -1, -1};
    int error = 0;
    for (int i = 0; i < 3 && error == 0; ++i) {
        standard[i] = OpenStandardFile(*paths[i], i > 0);
        if (standard[i] < 0) error = errno;
    }
    int report[2] = {-1, -1};
    if (error == 0 && ::pipe2(report, O_CLOEXEC) != 0) error = errno;
    pid_t pid = -1;
    if (error == 0) {
        pid = ::fork();
        if (pid == 0)
            RunChild(standard, argv.data(), envp.data(), options.fileSizeLimit, report[1]);
        if (pid < 0) error = errno;
    }
    for (int fd : standard) {
        if (fd >= 0) ::close(fd);
    }
    if (report[1] >= 0) ::close(report[1]);
    if (pid > 0) {
        // The report pipe closes at a successful exec; before that, the child reports why
        // the exec failed.
        int execError = 0;
        ssize_t n;
        do {
            n = ::read(report[0], &execError, sizeof execError);
        } while (n < 0 && errno == EINTR);
        if (n == sizeof execError) {
            int raw = 0;
            while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
            }
            error = execError;
        } else {
            state_->pid = pid;
            // A kernel without pidfds answers ENOSYS: Wait then looks every millisecond.
            state_->pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
        }
    }
    if (report[0] >= 0) ::close(report[0]);
    return error == 0 || Fail(error);
}

int Process::Wait(std::uint32_t timeoutMs) {
    if (state_->pid <= 0 || state_->exitCode != kStillRunning) return state_->exitCode;
    const std::uint32_t start = TickCount();
    for (;;) {
        int raw = 0;
        pid_t done = ::wait4(state_->pid, &raw, WNOHANG, &state_->usage);
        if (done == state_->pid) {
            state_->exitCode = ExitCode(raw);
            return state_->exitCode;
        }
        if (done < 0 && errno != EINTR) {
            FailErrno();
            return kStillRunning;
        }
        int left = PollTimeout(start, timeoutMs);
        if (left == 0) return kStillRunning;
        if (state_->pidfd >= 0) {
            pollfd entry{state_->pidfd, POLLIN, 0};
            ::poll(&entry, 1, left);
        } else {
            Sleep(1);
        }
    }
}

// A process that has ended but is not reaped yet keeps its id, so a signal can never
// reach another process that took the id over.
bool Process::Stop() {
    if (state_->pid <= 0 || state_->exitCode != kStillRunning) return Fail(ESRCH);
    return ::kill(state_->pid, SIGINT) == 0 || FailErrno();
}

bool Process::Kill() {
    if (state_->pid <= 0 || state_->exitCode != kStillRunning) return Fail(ESRCH);
    return ::kill(state_->pid, SIGKILL) == 0 || FailErrno();
}

std::uint32_t Process::Id() const {
    return state_->pid > 0 ? static_cast<std::uint32_t>(state_->pid) : 0;
}

// Linux gives the peak resident set in KiB.
std::uint64_t Process::PeakMemoryKb() const {
    return static_cast<std::uint64_t>(state_->usage.ru_maxrss);
}

bool Process::GetUse(ProcessUse* use) const {
    if (!CheckGiven(use)) return false;
    if (state_->pid <= 0 || state_->exitCode != kStillRunning) return Fail(ESRCH);
    return ReadUse(state_->pid, use) || Fail(ESRCH);
}

// ---------------------------------------------------------------------------------------
// Limits

bool RunOnSmallStack(std::size_t stackBytes, const std::function<void()>& task) {
    pthread_attr_t attributes;
    int error = ::pthread_attr_init(&attributes);
    if (error != 0) return Fail(error);
    if (stackBytes < static_cast<std::size_t>(PTHREAD_STACK_MIN)) stackBytes = PTHREAD_STACK_MIN;
    error = ::pthread_attr_setstacksize(&attributes, stackBytes);
    pthread_t thread;
    if (error == 0) {
        error = ::pthread_create(&thread, &attributes, RunTask,
                                 const_cast<std::function<void()>*>(&task));
    }
    ::pthread_attr_destroy(&attributes);
    if (error == 0) error = ::pthread_join(thread, nullptr);
    return error == 0 || Fail(error);
}

FileHandle SilenceStandardOutput() {
    FileHandle saved;
    std::fflush(stdout);
    int copy = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) {
        FailErrno();
        return saved;
    }
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || ::dup2(null, 1) < 0) {
        FailErrno();
        if (null >= 0) ::close(null);
        ::close(copy);
        return saved;
    }
    ::close(null);
    saved.value = copy;
    return saved;
}

bool RestoreStandardOutput(FileHandle& saved) {
    if (!saved.IsValid()) return Fail(EBADF);
    std::fflush(stdout);
    bool ok = ::dup2(Fd(saved), 1) >= 0 || FailErrno();
    ::close(Fd(saved));
    saved.value = -1;
    return ok;
}

}  // namespace platform::testkit
