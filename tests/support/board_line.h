// The board's end of a serial line, for tests that run the recorder live: a pseudo-terminal
// whose master the test holds, and whose slave the recorder opens as its port
// (CHESSREC_PORT). Also what a test needs to see how a running recorder uses the machine.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/files.h"

// The first message of every session: a time message of zeros.
inline const std::string kFirstTime("\x93\0\0\0\0\0\0\0\0", 9);

// A move message as the board sends it ("e2e4"): the file in the low four bits of a square
// byte, the rank in the high four; two bytes of payload.
inline std::string MoveMessage(const std::string& move, std::uint8_t pay1 = 0,
                               std::uint8_t pay2 = 0) {
    auto square = [&](std::size_t at) {
        return static_cast<char>((move[at + 1] - '1') << 4 | (move[at] - 'a'));
    };
    return std::string{'\x90', square(0), square(2), static_cast<char>(pay1),
                       static_cast<char>(pay2)};
}

// A terminal's settings (a pseudo-terminal starts with the usual control characters:
// 0x03 interrupt, 0x04 end of file, 0x11 XON, 0x13 XOFF, ...) with all the input, output and
// local processing and flow control that a recorder must switch off, or keep, turned on.
inline void Cook(termios* line) {
    line->c_iflag |= IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                     IXANY | INPCK | IMAXBEL;
    line->c_oflag |= OPOST | ONLCR | OCRNL;
    line->c_cflag |= CSTOPB | CRTSCTS | HUPCL;
    line->c_lflag |= ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN;
}

class BoardLine {
public:
    // Opens a pseudo-terminal and sets its slave raw, or cooked (see Cook), as the board's
    // port would be before the recorder opens it.
    explicit BoardLine(bool cooked = false) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        char name[128];
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
            ::ptsname_r(master_, name, sizeof name) != 0)
            return;
        device_ = name;
        int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave < 0) return;
        termios line;
        ::tcgetattr(slave, &line);
        if (cooked) {
            Cook(&line);
        } else {
            cfmakeraw(&line);
        }
        ok_ = ::tcsetattr(slave, TCSANOW, &line) == 0;
        ::close(slave);  // from now on the master reports a hang-up until the recorder opens
    }
    ~BoardLine() { Close(); }
    BoardLine(const BoardLine&) = delete;
    BoardLine& operator=(const BoardLine&) = delete;

    bool Ok() const { return ok_; }
    const std::string& Device() const { return device_; }

    // The recorder's settings of the line, as the master sees them.
    termios Settings() const {
        termios line{};
        ::tcgetattr(master_, &line);
        return line;
    }

    // Waits until the recorder has set the line to 2400 baud.
    bool WaitForSetup(int timeoutMs = 10000) const {
        return WaitFor(
            [&] {
                termios line = Settings();
                return cfgetospeed(&line) == B2400;
            },
            timeoutMs);
    }

    void Send(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd entry{master_, POLLOUT, 0};
                ::poll(&entry, 1, 100);
            } else if (!(n < 0 && errno == EINTR)) {
                ADD_FAILURE() << "write to the board's line failed: " << errno;
                return;
            }
        }
    }

    // Everything the recorder has sent and the test has not taken yet; does not wait.
    std::string Received() {
        std::string got;
        char buffer[256];
        for (;;) {
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // Waits until the recorder has sent want more bytes (or the time is up); answers them.
    std::string Receive(std::size_t want, int timeoutMs = 10000) {
        std::string got;
        auto deadline = Deadline(timeoutMs);
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{master_, POLLIN, 0};
            if (::poll(&entry, 1, 20) == 1 && (entry.revents & POLLIN)) got += Received();
        }
        return got;
    }

    // Closes the board's end: the recorder's port hangs up.
    void Close() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

    template <typename Condition>
    static bool WaitFor(Condition condition, int timeoutMs) {
        auto deadline = Deadline(timeoutMs);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

private:
    static std::chrono::steady_clock::time_point Deadline(int timeoutMs) {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    }

    int master_ = -1;
    std::string device_;
    bool ok_ = false;
};

// ---------------------------------------------------------------------------------------
// A running process as the kernel accounts for it.

struct ProcessUse {
    long cpuTicks = -1;  // user and system time of all its threads, in clock ticks
    long switches = 0;   // context switches of all its threads (each sleep and wake is one)
};

inline ProcessUse UseOf(pid_t pid) {
    ProcessUse use;
    std::string stat = ReadBytes("/proc/" + std::to_string(pid) + "/stat");
    std::size_t paren = stat.rfind(')');
    if (paren == std::string::npos) return use;
    std::istringstream fields(stat.substr(paren + 2));
    std::string field;
    long utime = 0, stime = 0;
    // after the name: state is field 3, utime field 14, stime field 15
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14) utime = std::atol(field.c_str());
        if (number == 15) stime = std::atol(field.c_str());
    }
    use.cpuTicks = utime + stime;
    std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* dir = ::opendir(tasks.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::istringstream status(ReadBytes(tasks + "/" + entry->d_name + "/status"));
            std::string line;
            while (std::getline(status, line)) {
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                    line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                    use.switches += std::atol(line.substr(line.find(':') + 1).c_str());
                }
            }
        }
        ::closedir(dir);
    }
    return use;
}

// Where the process's main thread sleeps in the kernel ("0" when it runs).
inline std::string WaitChannel(pid_t pid) {
    return ReadBytes("/proc/" + std::to_string(pid) + "/wchan");
}

// ---------------------------------------------------------------------------------------
// Record files: elapsed time, count, data, each number 4 bytes little-endian.

struct Record {
    std::uint32_t elapsed;
    std::string data;
};

// The records of a record file; ok is false when it ends inside a record.
inline std::vector<Record> ParseRecords(const std::string& file, bool* ok) {
    auto number = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | static_cast<std::uint8_t>(file[at + i]);
        return value;
    };
    std::vector<Record> records;
    std::size_t at = 0;
    *ok = true;
    while (at < file.size()) {
        if (file.size() - at < 8 || file.size() - at - 8 < number(at + 4)) {
            *ok = false;
            break;
        }
        std::uint32_t count = number(at + 4);
        records.push_back(Record{number(at), file.substr(at + 8, count)});
        at += 8 + count;
    }
    return records;
}
