// The board's end of a serial line, for tests that run the recorder live, over the test
// kit's virtual line; and the board's messages and record files as tests build and read them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "board/protocol.h"
#include "platform/platform.h"
#include "platform/testkit.h"
#include "recorder/record_format.h"
#include "support/files.h"
#include "support/process.h"

// The first message of every session: a time message of zeros.
inline const std::string kFirstTime = NewGameMessage();

// A move message as the board sends it, from its squares' names ("e2e4"), with the two
// bytes of payload.
inline std::string MoveMessage(const std::string& move, std::uint8_t pay1 = 0,
                               std::uint8_t pay2 = 0) {
    auto square = [&](std::size_t at) { return SquareByte(move[at] - 'a', move[at + 1] - '1'); };
    std::string message = MoveMessage(square(0), square(2));
    message[3] = static_cast<char>(pay1);
    message[4] = static_cast<char>(pay2);
    return message;
}

// Why this machine has no virtual serial line, or "" when it has one (asked once).
inline std::string NoVirtualLineReason() {
    static const std::string reason = [] {
        char device[256];
        platform::FileHandle line = platform::testkit::OpenVirtualLine(device, sizeof device);
        if (!line.IsValid()) return "no virtual serial line on this machine: " + LastErrorText();
        platform::CloseFile(line);
        return std::string();
    }();
    return reason;
}

// The board's end of a virtual serial line, for tests that run the recorder live: the
// recorder opens the other end as its port (CHESSREC_PORT).
class BoardLine {
public:
    // Opens a virtual line; raw, or cooked (see CookVirtualLine) as a port can be before
    // the recorder opens it.
    explicit BoardLine(bool cooked = false) {
        char name[256];
        line_ = platform::testkit::OpenVirtualLine(name, sizeof name);
        if (!line_.IsValid()) return;
        device_ = name;
        ok_ = !cooked || platform::testkit::CookVirtualLine(line_);
    }
    ~BoardLine() { Close(); }
    BoardLine(const BoardLine&) = delete;
    BoardLine& operator=(const BoardLine&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Device() const { return device_; }

    // The line's settings, as the recorder has set them.
    platform::testkit::VirtualLineSettings Settings() const {
        platform::testkit::VirtualLineSettings settings;
        platform::testkit::GetVirtualLineSettings(line_, &settings);
        return settings;
    }

    // Waits until the recorder has set the line to 2400 baud.
    bool WaitForSetup(int timeoutMs = kProgramDeadlineMs) const {
        return WaitFor([&] { return Settings().baudRate == 2400; }, timeoutMs);
    }

    void Send(const std::string& bytes) {
        std::uint32_t written = 0;
        if (!platform::WriteFile(line_, bytes.data(), static_cast<std::uint32_t>(bytes.size()),
                                 &written)) {
            ADD_FAILURE() << "write to the board's line failed: " << LastErrorText();
        }
    }

    // Everything the recorder has sent and the test has not taken yet; does not wait.
    std::string Received() {
        std::string got;
        char buffer[256];
        while (platform::testkit::WaitForInput(line_, 0) == platform::testkit::WaitResult::kReady) {
            std::uint32_t count = 0;
            bool ok = platform::ReadFile(line_, buffer, sizeof buffer, &count);
            got.append(buffer, count);  // also the bytes read before the line hung up
            if (!ok || count == 0) break;
        }
        return got;
    }

    // Waits until the recorder has sent want more bytes (or the time is up); answers them.
    std::string Receive(std::size_t want, int timeoutMs = kProgramDeadlineMs) {
        std::string got;
        auto deadline = Deadline(timeoutMs);
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            switch (platform::testkit::WaitForInput(
                line_, static_cast<std::uint32_t>(std::max<long long>(left.count(), 0)))) {
                case platform::testkit::WaitResult::kReady:
                    got += Received();
                    break;
                case platform::testkit::WaitResult::kTimedOut:
                    break;
                case platform::testkit::WaitResult::kFailed:
                    // Nobody holds the other end yet (or any more): look again shortly.
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    break;
            }
        }
        return got;
    }

    // Closes the board's end: the recorder's port hangs up.
    void Close() { platform::CloseFile(line_); }

    // Looks every millisecond whether condition holds, for at most timeoutMs.
    template <typename Condition>
    static bool WaitFor(Condition condition, int timeoutMs) {
        auto deadline = Deadline(timeoutMs);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    static std::chrono::steady_clock::time_point Deadline(int timeoutMs) {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    }

    platform::FileHandle line_;
    std::string device_;
    bool ok_ = false;
};
