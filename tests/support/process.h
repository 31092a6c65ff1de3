// Runs the project's programs as a user would, in tests: arguments, environment, and the
// standard output and error each in a file of a scratch folder.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"

// The programs under test, from the build (see tests/CMakeLists.txt).
inline std::string ChessrecBinary() {
    return CHESSREC_BINARY;
}
inline std::string BoardsimBinary() {
    return BOARDSIM_BINARY;
}
inline std::string PgnindexBinary() {
    return PGNINDEX_BINARY;
}
inline std::string SamplesDir() {
    return CHESSREC_SAMPLES;
}

// A started program. Its output goes to files, so a test can watch it grow.
class Child {
public:
    // Starts args[0] with args; env entries ("NAME=value") are added to the environment.
    // inChild, when given, runs in the new process just before the program starts (to set
    // a resource limit, say).
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env,
          const std::string& outPath, const std::string& errPath, const std::string& inPath = "",
          const std::function<void()>& inChild = {})
        : outPath_(outPath), errPath_(errPath) {
        pid_ = ::fork();
        if (pid_ != 0) return;
        if (inChild) inChild();
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = ::open(inPath.empty() ? "/dev/null" : inPath.c_str(), O_RDONLY);
        if (out < 0 || err < 0 || in < 0) ::_exit(126);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::dup2(in, 0);
        for (const std::string& entry : env)
            ::putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }

    void Signal(int sig) { ::kill(pid_, sig); }

    // Waits for the end; answers the exit code (0-255), or 128 + the signal that ended it.
    int Wait() {
        if (status_ >= 0) return status_;
        int raw = 0;
        while (::wait4(pid_, &raw, 0, &usage_) < 0) {
        }
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        return status_;
    }

    // The most memory the program held at once, in kilobytes (known once it has ended).
    long PeakMemoryKb() const { return usage_.ru_maxrss; }

    // Waits at most timeoutMs for the end; answers the exit code as Wait does, or -1 when
    // the program is still running.
    int WaitAtMost(int timeoutMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (status_ < 0) {
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            } else if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        return status_;
    }

    // Waits until the standard output holds text (or the program has ended, or the time
    // is up); answers whether it does.
    bool WaitForOutput(const std::string& text, int timeoutMs = 10000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (Out().find(text) != std::string::npos) return true;
            int raw = 0;
            if (status_ < 0 && ::wait4(pid_, &raw, WNOHANG, &usage_) == pid_) {
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            }
            if (status_ >= 0) return Out().find(text) != std::string::npos;
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    std::string Out() const { return ReadBytes(outPath_); }
    std::string Err() const { return ReadBytes(errPath_); }
    pid_t Pid() const { return pid_; }

private:
    std::string outPath_;
    std::string errPath_;
    pid_t pid_ = -1;
    int status_ = -1;
    struct rusage usage_ = {};
};

struct RunResult {
    int status;  // exit code, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a program to its end in dir (its output files are dir/out.txt and dir/err.txt).
inline RunResult RunProgram(const ScratchDir& dir, const std::vector<std::string>& args,
                            const std::vector<std::string>& env = {}) {
    Child child(args, env, dir / "out.txt", dir / "err.txt");
    int status = child.Wait();
    return RunResult{status, child.Out(), child.Err()};
}
