// The process on POSIX: its executable, its clock, the console control handler (a thread
// that takes the stop signals) and its end.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>

#include "platform/internal.h"
#include "platform/platform.h"
#include "platform/posix_internal.h"

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

namespace platform {
namespace {

using internal::Fail;
using posix::FailErrno;

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

// A console control event becomes a stop signal, taken by this thread with sigwait.
void* ControlThread(void*) {
    sigset_t set = StopSignals();
    int signal = 0;
    if (sigwait(&set, &signal) != 0) return nullptr;
    if (ControlHandler handler = controlHandler.load()) handler();
    return nullptr;
}

}  // namespace

bool ExecutablePath(char* path, std::size_t size) {
    if (!internal::CheckTextBuffer(path, size)) return false;
    ssize_t n = ::readlink("/proc/self/exe", path, size);
    if (n < 0) return FailErrno();
    if (static_cast<std::size_t>(n) >= size) {
        path[0] = '\0';
        return Fail(ENAMETOOLONG);
    }
    path[n] = '\0';
    return true;
}

bool CurrentFolder(char* path, std::size_t size) {
    if (!internal::CheckTextBuffer(path, size)) return false;
    if (::getcwd(path, size) == nullptr) {
        path[0] = '\0';
        return FailErrno();
    }
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
    if (handler == nullptr) return Fail(ErrorOf(ErrorKind::kInvalidArgument));
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
    posix::ReleaseExclusivePorts();
#ifdef CHESSREC_LEAK_CHECK
    __lsan_do_leak_check();
#endif
    ::_exit(code);
}

// POSIX streams are untranslated already.
void UseBinaryStandardStreams() {}

void RaiseOpenFileLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace platform
