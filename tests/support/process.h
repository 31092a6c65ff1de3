// Runs the project's programs as a user would, in tests: arguments, environment, and the
// standard output and error each in a file of a scratch folder. Every wait has a deadline:
// a program that hangs fails its test, and is killed, instead of holding up the run.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/testkit.h"
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

// How long a test waits for a program's end or output before it gives up.
constexpr std::uint32_t kProgramDeadlineMs = 20000;

// The system's text for the last failed call of the platform layer.
inline std::string LastErrorText() {
    return platform::ReasonText(platform::LastError());
}

// The system's text for an error of kind, as the programs print it.
inline std::string ErrorKindText(platform::ErrorKind kind) {
    char text[256];
    EXPECT_TRUE(platform::ErrorText(platform::ErrorOf(kind), text, sizeof text));
    return text;
}

// The system's text for why no file can be created at path, as the programs print it (a
// missing folder is "file not found" on POSIX, "path not found" on Windows).
inline std::string CreateFailureText(const std::string& path) {
    platform::FileHandle file =
        platform::OpenFile(path.c_str(), platform::kWrite, platform::Share::kNone,
                           platform::Disposition::kCreateAlways);
    if (!file.IsValid()) return LastErrorText();
    platform::CloseFile(file);
    platform::RemoveFile(path.c_str());
    ADD_FAILURE() << path << " can be created";
    return "";
}

// The line a session log holds for a failed system call: "CALL : TEXT (0xCODE)", with the
// system's own text for the code.
inline std::string SystemErrorLine(const std::string& call, platform::ErrorCode code) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    char text[512];
    std::string described =
        platform::ErrorText(code, text, sizeof text) ? text : "err " + std::string(hex);
    return call + " : " + described + " (" + hex + ")\n";
}

// Looks every millisecond whether condition holds, for at most timeoutMs; answers whether it
// came to hold.
template <typename Condition>
bool WaitFor(Condition condition, std::uint32_t timeoutMs = kProgramDeadlineMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A started program. Its output goes to files, so a test can watch it grow.
class Child {
public:
    // Starts args[0] with args; env entries ("NAME=value") are set in its environment.
    // inPath, when given, is its standard input; fileSizeLimit, when not 0, makes every write
    // that would make a file larger fail, as on a full disk.
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env,
          const std::string& outPath, const std::string& errPath, const std::string& inPath = "",
          std::uint64_t fileSizeLimit = 0)
        : outPath_(outPath), errPath_(errPath) {
        platform::testkit::ProcessOptions options{args,    env,     inPath,
                                                  outPath, errPath, fileSizeLimit};
        if (!process_.Start(options))
            ADD_FAILURE() << "cannot run " << args[0] << ": " << LastErrorText();
    }

    // A stop request, as Ctrl-C at the console.
    void Stop() { process_.Stop(); }
    void Kill() { process_.Kill(); }

    // Waits at most timeoutMs for the end; answers the exit code (0-255, or 128 + the signal
    // that ended it). A program still running then fails the test, is killed, and -1 is
    // answered.
    int Wait(std::uint32_t timeoutMs = kProgramDeadlineMs) {
        int status = process_.Wait(timeoutMs);
        if (status == platform::testkit::Process::kStillRunning) {
            ADD_FAILURE() << "still running after " << timeoutMs << " ms, killed; output:\n"
                          << Out() << Err();
            process_.Kill();
            process_.Wait(kProgramDeadlineMs);
        }
        return status;
    }

    // True once the program has ended (it is not waited for).
    bool Ended() { return process_.Wait(0) != platform::testkit::Process::kStillRunning; }

    // Waits until the standard output holds text (or the program has ended, or the time is
    // up); answers whether it does.
    bool WaitForOutput(const std::string& text, std::uint32_t timeoutMs = kProgramDeadlineMs) {
        return WaitWhileRunning([&] { return Out().find(text) != std::string::npos; }, timeoutMs);
    }

    // Waits until the standard output has reached size bytes (or the program has ended, or
    // the time is up); answers whether it has.
    bool WaitForOutputSize(std::uintmax_t size, std::uint32_t timeoutMs = kProgramDeadlineMs) {
        return WaitWhileRunning(
            [&] {
                std::error_code error;
                std::uintmax_t now = std::filesystem::file_size(outPath_, error);
                return !error && now >= size;
            },
            timeoutMs);
    }

    // The most memory the program held at once, in KiB (known once it has ended).
    std::uint64_t PeakMemoryKb() const { return process_.PeakMemoryKb(); }
    bool GetUse(platform::testkit::ProcessUse* use) const { return process_.GetUse(use); }
    std::uint32_t Id() const { return process_.Id(); }

    std::string Out() const { return ReadBytes(outPath_); }
    std::string Err() const { return ReadBytes(errPath_); }

private:
    // Waits for condition; the end of the program ends the wait (with the condition's last
    // answer).
    template <typename Condition>
    bool WaitWhileRunning(Condition condition, std::uint32_t timeoutMs) {
        return WaitFor([&] { return condition() || Ended(); }, timeoutMs) && condition();
    }

    std::string outPath_;
    std::string errPath_;
    platform::testkit::Process process_;
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
