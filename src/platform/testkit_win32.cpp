// The test kit on Windows: a program is a process created with its standard handles
// redirected and a console of its own, and the limits are a thread's stack reservation.
// Windows has no virtual serial line (two connected COM ports take a driver): the calls
// about one fail with ERROR_NOT_SUPPORTED, and the tests that need one are skipped.
#include <windows.h>

// After windows.h, which declares the types these use.
#include <fcntl.h>
#include <io.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/internal.h"
#include "platform/testkit.h"
#include "platform/win32_internal.h"

namespace platform::testkit {
namespace {

using internal::Fail;

std::uint64_t Quad(FILETIME time) {
    return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// ---------------------------------------------------------------------------------------
// Programs

// Adds arg to a command line so that the C runtime's parse of the child's command line
// gives it back whole: quoted when it holds blanks or quotes (or is empty), with the
// backslashes before a quote doubled.
void AppendArgument(std::string& line, const std::string& arg) {
    if (!line.empty()) line += ' ';
    if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    for (auto at = arg.begin();; ++at) {
        std::size_t backslashes = 0;
        for (; at != arg.end() && *at == '\\'; ++at)
            ++backslashes;
        if (at == arg.end()) {
            line.append(backslashes * 2, '\\');
            break;
        }
        if (*at == '"') {
            line.append(backslashes * 2 + 1, '\\');
        } else {
            line.append(backslashes, '\\');
        }
        line += *at;
    }
    line += '"';
}

// The name of an environment entry, upper case: Windows' names ignore case. Entries such
// as "=C:=C:\dir" begin with their '='.
std::string EntryName(const std::string& entry) {
    std::string name = entry.substr(0, entry.find('=', 1));
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

// The child's environment block: this process's entries, with the given ones set over
// them, each ended by a NUL, and the block by another.
std::string EnvironmentBlock(const std::vector<std::string>& extra) {
    std::vector<std::string> entries;
    if (char* strings = ::GetEnvironmentStringsA()) {
        for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
            std::string text(entry);
            std::string name = EntryName(text);
            bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& set) {
                return EntryName(set) == name;
            });
            if (!replaced) entries.push_back(text);
        }
        ::FreeEnvironmentStringsA(strings);
    }
    entries.insert(entries.end(), extra.begin(), extra.end());
    std::string block;
    for (const std::string& entry : entries) {
        block += entry;
        block += '\0';
    }
    if (block.empty()) block += '\0';
    block += '\0';
    return block;
}

// Opens one of the child's standard files, inheritable; the tests read the output files
// while the child writes them.
HANDLE OpenStandardFile(const std::string& path, bool output) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const char* name = path.empty() ? "NUL" : path.c_str();
    return ::CreateFileA(name, output ? GENERIC_WRITE : GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                         output ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Creates the process with exactly the given handles inherited (the handle list keeps
// those that other threads open meanwhile out of it). Answers 0 or the error.
DWORD CreateChild(const std::string& program, std::string& commandLine, std::string& environment,
                  HANDLE standard[3], PROCESS_INFORMATION* info) {
    std::vector<HANDLE> inherited;
    for (int i = 0; i < 3; ++i) {
        if (std::find(inherited.begin(), inherited.end(), standard[i]) == inherited.end())
            inherited.push_back(standard[i]);
    }
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<std::uint64_t> storage((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return ::GetLastError();
    DWORD error = 0;
    if (!::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     inherited.data(), inherited.size() * sizeof(HANDLE), nullptr,
                                     nullptr)) {
        error = ::GetLastError();
    }
    if (error == 0) {
        STARTUPINFOEXA startup{};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = standard[0];
        startup.StartupInfo.hStdOutput = standard[1];
        startup.StartupInfo.hStdError = standard[2];
        startup.lpAttributeList = attributes;
        // A console of its own, without a window: Stop raises Ctrl-C there.
        DWORD flags = CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT;
        if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, flags,
                              environment.data(), nullptr, &startup.StartupInfo, info)) {
            error = ::GetLastError();
        }
    }
    ::DeleteProcThreadAttributeList(attributes);
    return error;
}

// The Ctrl-C events that Stop raised on a child's console and that this process, on that
// console for the moment, has still to receive: its own handler takes them, so that they
// do not end it. A Ctrl-C from anywhere else goes on to the next handler (by default, the
// end of the process).
std::atomic<int> stopsInFlight{0};

BOOL WINAPI TakeOwnStop(DWORD event) {
    if (event != CTRL_C_EVENT) return FALSE;
    int pending = stopsInFlight.load();
    while (pending > 0) {
        if (stopsInFlight.compare_exchange_weak(pending, pending - 1)) return TRUE;
    }
    return FALSE;
}

// A task for a thread of its own, and whether it returned.
struct SmallStackRun {
    const std::function<void()>* task;
    bool returned = false;
};

DWORD WINAPI RunTask(void* argument) {
    auto* run = static_cast<SmallStackRun*>(argument);
    (*run->task)();
    run->returned = true;
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Time

void Sleep(std::uint32_t ms) {
    ::Sleep(ms);
}

// ---------------------------------------------------------------------------------------
// Virtual serial line

FileHandle OpenVirtualLine(char* deviceName, std::size_t size) {
    if (deviceName != nullptr && size > 0) deviceName[0] = '\0';
    Fail(ERROR_NOT_SUPPORTED);
    return FileHandle{};
}

bool IsVirtualLinePeerOpen(FileHandle /*line*/) {
    return Fail(ERROR_NOT_SUPPORTED);
}

WaitResult WaitForInput(FileHandle /*line*/, std::uint32_t /*timeoutMs*/) {
    Fail(ERROR_NOT_SUPPORTED);
    return WaitResult::kFailed;
}

bool GetVirtualLineSettings(FileHandle /*line*/, VirtualLineSettings* /*settings*/) {
    return Fail(ERROR_NOT_SUPPORTED);
}

bool CookVirtualLine(FileHandle /*line*/) {
    return Fail(ERROR_NOT_SUPPORTED);
}

// ---------------------------------------------------------------------------------------
// Events

bool SignalEvent(EventHandle event) {
    if (!event.IsValid()) return Fail(ERROR_INVALID_HANDLE);
    return ::SetEvent(win32::Handle(event)) != 0;
}

// ---------------------------------------------------------------------------------------
// Programs

// Windows limits no file's size per process; a disk quota or a small volume would, but
// both take an administrator.
bool CanLimitFileSize() {
    return false;
}

// The peak working set is read while the program runs, at every look of Wait, and once
// more at its end (wine answers 0 for an ended process).
struct Process::State {
    HANDLE process = nullptr;
    DWORD id = 0;
    int exitCode = kStillRunning;  // once ended
    std::uint64_t peakKb = 0;

    void NotePeakMemory() {
        PROCESS_MEMORY_COUNTERS counters{};
        if (::GetProcessMemoryInfo(process, &counters, sizeof counters)) {
            peakKb = std::max<std::uint64_t>(peakKb, counters.PeakWorkingSetSize / 1024);
        }
    }
    bool Running() const { return process != nullptr && exitCode == kStillRunning; }
};

Process::Process() : state_(std::make_unique<State>()) {}

Process::~Process() {
    if (state_->Running()) {
        Kill();
        Wait(10000);
    }
    if (state_->process != nullptr) ::CloseHandle(state_->process);
}

bool Process::Start(const ProcessOptions& options) {
    if (state_->process != nullptr || options.args.empty()) return Fail(ERROR_INVALID_PARAMETER);
    if (options.fileSizeLimit != 0) return Fail(ERROR_NOT_SUPPORTED);
    std::string commandLine;
    for (const std::string& arg : options.args)
        AppendArgument(commandLine, arg);
    std::string environment = EnvironmentBlock(options.env);
    const std::string* paths[3] = {&options.inPath, &options.outPath, &options.errPath};
    HANDLE standard[3] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    DWORD error = 0;
    for (int i = 0; i < 3 && error == 0; ++i) {
        standard[i] = OpenStandardFile(*paths[i], i > 0);
        if (standard[i] == INVALID_HANDLE_VALUE) error = ::GetLastError();
    }
    PROCESS_INFORMATION info{};
    if (error == 0) error = CreateChild(options.args[0], commandLine, environment, standard, &info);
    for (HANDLE handle : standard) {
        if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
    }
    if (error != 0) return Fail(error);
    ::CloseHandle(info.hThread);
    state_->process = info.hProcess;
    state_->id = info.dwProcessId;
    return true;
}

// The wait looks every millisecond, to follow the program's memory.
int Process::Wait(std::uint32_t timeoutMs) {
    if (!state_->Running()) return state_->exitCode;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    for (;;) {
        state_->NotePeakMemory();
        auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        std::uint64_t left = timeoutMs == kWaitForever ? 1
                             : static_cast<std::uint64_t>(spent.count()) >= timeoutMs
                                 ? 0
                                 : timeoutMs - static_cast<std::uint64_t>(spent.count());
        DWORD result = ::WaitForSingleObject(state_->process, left > 0 ? 1 : 0);
        if (result == WAIT_OBJECT_0) {
            state_->NotePeakMemory();
            DWORD code = 0;
            if (!::GetExitCodeProcess(state_->process, &code)) return kStillRunning;
            state_->exitCode = static_cast<int>(code & 0xFF);
            return state_->exitCode;
        }
        if (result == WAIT_FAILED || left == 0) return kStillRunning;
    }
}

// Windows raises Ctrl-C on a console, for every process attached to it; a process can be
// attached to one console at a time, and only raise it on its own. So each program started
// here has a console of its own (CREATE_NO_WINDOW), and Stop leaves this process's console
// for the moment it takes to attach to the program's and raise the event there. This
// process receives the event too, and its own handler takes it. (A new process group with
// Ctrl-Break, aimed at by its id, needs no console change on Windows, but wine 8 refuses
// Ctrl-Break and aims at no group; a new group also starts with Ctrl-C ignored.)
bool Process::Stop() {
    if (!state_->Running() || ::WaitForSingleObject(state_->process, 0) == WAIT_OBJECT_0)
        return Fail(ERROR_INVALID_HANDLE);
    static std::mutex consoleMutex;
    static bool handlerInstalled = false;
    std::lock_guard<std::mutex> lock(consoleMutex);
    if (!handlerInstalled) {
        if (!::SetConsoleCtrlHandler(TakeOwnStop, TRUE)) return false;
        handlerInstalled = true;
    }
    bool hadConsole = ::FreeConsole() != 0;
    DWORD error = 0;
    if (!::AttachConsole(state_->id)) {
        error = ::GetLastError();
    } else {
        stopsInFlight.fetch_add(1);
        if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
            error = ::GetLastError();
            stopsInFlight.fetch_sub(1);
        }
        ::FreeConsole();
    }
    if (hadConsole) ::AttachConsole(ATTACH_PARENT_PROCESS);
    return error == 0 || Fail(error);
}

// The exit code of a killed program is the one POSIX gives for SIGKILL. As on POSIX, a
// program that has ended but has not been waited for is no failure.
bool Process::Kill() {
    if (!state_->Running()) return Fail(ERROR_INVALID_HANDLE);
    return ::TerminateProcess(state_->process, kKilled) != 0 ||
           ::WaitForSingleObject(state_->process, 0) == WAIT_OBJECT_0;
}

std::uint32_t Process::Id() const {
    return state_->process != nullptr ? state_->id : 0;
}

std::uint64_t Process::PeakMemoryKb() const {
    return state_->peakKb;
}

// Windows counts no wake-ups of a process, and tells a thread's state only through its
// native system information call: wakeUps stays 0, and asleep false (the test that asks
// needs a virtual line, which Windows lacks).
bool Process::GetUse(ProcessUse* use) const {
    if (!internal::CheckGiven(use)) return false;
    if (!state_->Running() || ::WaitForSingleObject(state_->process, 0) == WAIT_OBJECT_0)
        return Fail(ERROR_INVALID_HANDLE);
    FILETIME created, exited, kernel, user;
    if (!::GetProcessTimes(state_->process, &created, &exited, &kernel, &user)) return false;
    ProcessUse result;
    result.cpuMicroseconds = (Quad(kernel) + Quad(user)) / 10;  // from 100 ns units
    *use = result;
    return true;
}

// ---------------------------------------------------------------------------------------
// Limits

// Windows ends the process at a fault that no handler takes, on any thread (a stack
// overflow included); wine 8 ends only the thread that faulted, with exit code 0. A task
// that did not return has faulted: its end is made the end of the process here.
bool RunOnSmallStack(std::size_t stackBytes, const std::function<void()>& task) {
    SmallStackRun run{&task};
    HANDLE thread = ::CreateThread(nullptr, stackBytes, RunTask, &run,
                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) return false;
    ::WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    ::GetExitCodeThread(thread, &code);
    ::CloseHandle(thread);
    if (!run.returned) {
        std::fflush(stdout);
        std::fflush(stderr);
        ::TerminateProcess(::GetCurrentProcess(), code != 0 ? code : EXCEPTION_STACK_OVERFLOW);
    }
    return true;
}

FileHandle SilenceStandardOutput() {
    FileHandle saved;
    std::fflush(stdout);
    int copy = ::_dup(1);
    if (copy < 0) {
        Fail(ERROR_INVALID_HANDLE);
        return saved;
    }
    int null = ::_open("NUL", _O_WRONLY | _O_BINARY);
    if (null < 0 || ::_dup2(null, 1) < 0) {
        Fail(ERROR_INVALID_HANDLE);
        if (null >= 0) ::_close(null);
        ::_close(copy);
        return saved;
    }
    ::_close(null);
    saved.value = copy;
    return saved;
}

bool RestoreStandardOutput(FileHandle& saved) {
    if (!saved.IsValid()) return Fail(ERROR_INVALID_HANDLE);
    std::fflush(stdout);
    bool ok = ::_dup2(static_cast<int>(saved.value), 1) >= 0 || Fail(ERROR_INVALID_HANDLE);
    ::_close(static_cast<int>(saved.value));
    saved.value = -1;
    return ok;
}

}  // namespace platform::testkit
