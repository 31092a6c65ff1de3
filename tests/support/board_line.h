// The board's end of a serial line, for tests that run the recorder live, over the test
// kit's virtual line, and the recorder live on its other end; the board's messages and
// record files as tests build and read them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

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

// A fixture whose tests are skipped where the machine has no virtual serial line.
template <typename Base = testing::Test>
class NeedsVirtualLine : public Base {
protected:
    void SetUp() override {
        if (!NoVirtualLineReason().empty()) GTEST_SKIP() << NoVirtualLineReason();
    }
};

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
    bool WaitForSetup() const {
        return WaitFor([&] { return Settings().baudRate == 2400; });
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
    std::string Receive(std::size_t want) {
        std::string got;
        WaitFor([&] {
            got += Received();
            return got.size() >= want;
        });
        return got;
    }

    // Closes the board's end: the recorder's port hangs up.
    void Close() { platform::CloseFile(line_); }

private:
    platform::FileHandle line_;
    std::string device_;
    bool ok_ = false;
};

// Reads from the recorder's end of a line as the capture loop does, until want bytes have
// come or a read fails; answers them.
inline std::string ReceiveOnPort(platform::FileHandle port, std::size_t want) {
    platform::Overlapped overlap;
    overlap.event = platform::CreateIoEvent();
    std::string got;
    unsigned char buffer[256];
    while (got.size() < want) {
        std::uint32_t count = 0;
        platform::IoStart start =
            platform::ReadFileOverlapped(port, buffer, sizeof buffer, &count, &overlap);
        if (start == platform::IoStart::kFailed) break;
        if (start == platform::IoStart::kPending &&
            (!platform::WaitForEvent(overlap.event) ||
             !platform::GetOverlappedResult(port, &overlap, &count, true)))
            break;
        got.append(reinterpret_cast<char*>(buffer), count);
    }
    platform::CloseEvent(overlap.event);
    return got;
}

// The built recorder, live on device, with its session files in dir and its console and
// standard error in dir/out<name>.txt and dir/err<name>.txt.
class LiveRecorder : public Child {
public:
    LiveRecorder(const ScratchDir& dir, const std::string& device, const std::string& name = "")
        : Child({ChessrecBinary()}, {"CHESSREC_DIR=" + dir.Path(), "CHESSREC_PORT=" + device},
                dir / ("out" + name + ".txt"), dir / ("err" + name + ".txt")),
          dir_(dir) {}

    // Stops it as Ctrl-C does; answers the exit code (-1: it did not end in time).
    int StopAndWait() {
        Stop();
        return Wait();
    }

    // The session file number of kind ("pgn", "log", "rec").
    std::string File(int number, const char* kind) const {
        char name[32];
        std::snprintf(name, sizeof name, "chessrec.%03d.%s", number, kind);
        return ReadBytes(dir_ / name);
    }

private:
    const ScratchDir& dir_;
};

// What a live recorder says on standard error when its session 000 in dir, on device, ends
// with one game saved: where its files go at the start, the saved game at the end.
inline std::string OneGameSessionErr(const ScratchDir& dir, const std::string& device) {
    return "chessrec: session 000 in " + dir.Path() +
           ": chessrec.000.pgn, .log and .rec; board on " + device +
           "\nchessrec: 1 game saved in " + (dir / "chessrec.000.pgn") + "\n";
}
