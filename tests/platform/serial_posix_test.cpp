// The serial line, on a pseudo-terminal: the test holds the master end, where the board
// would be, and the recorder's calls work on the slave end.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/testkit.h"
#include "support/board_line.h"
#include "support/files.h"

using namespace platform;

namespace {

class SerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        char name[128];
        ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
        device = name;
        port = OpenSerialPort(device.c_str());
        ASSERT_TRUE(port.IsValid()) << LastError();
        overlap.event = CreateIoEvent();
        ASSERT_TRUE(overlap.event.IsValid());
    }
    void TearDown() override {
        CloseEvent(overlap.event);
        CloseFile(port);
        CloseMaster();
    }
    void CloseMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void SetRecorderLine() {
        LineSettings line;
        line.baudRate = 2400;
        line.byteSize = 8;
        line.eofChar = line.evtChar = 0x1A;
        ASSERT_TRUE(SetCommState(port, line)) << LastError();
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(::write(master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }
    int master = -1;
    std::string device;
    FileHandle port;
    Overlapped overlap;
};

}  // namespace

TEST_F(SerialTest, PortIsExclusive) {
    FileHandle second = OpenSerialPort(device.c_str());
    EXPECT_FALSE(second.IsValid());
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kSharingViolation));
    ASSERT_TRUE(CloseFile(port));
    second = OpenSerialPort(device.c_str());
    EXPECT_TRUE(second.IsValid());
    CloseFile(second);

    EXPECT_FALSE(OpenSerialPort("/dev/no-such-port").IsValid());
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kNotFound));
}

// The recorder's settings read back as set; settings the line cannot carry are refused.
TEST_F(SerialTest, RecorderSettingsReadBackAndOddOnesAreRefused) {
    SetRecorderLine();
    LineSettings back;
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(back.baudRate, 2400u);
    EXPECT_EQ(back.byteSize, 8);
    EXPECT_EQ(back.parity, 0);
    EXPECT_EQ(back.stopBits, 0);
    EXPECT_FALSE(back.parityCheck);
    EXPECT_EQ(back.eofChar, 0x1A);
    EXPECT_EQ(back.evtChar, 0x1A);

    // Settings the line cannot carry are refused and change nothing.
    LineSettings odd = back;
    odd.baudRate = 2401;
    EXPECT_FALSE(SetCommState(port, odd));
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kInvalidArgument));
    odd = back;
    odd.byteSize = 9;
    EXPECT_FALSE(SetCommState(port, odd));
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(back.baudRate, 2400u);
    EXPECT_EQ(back.byteSize, 8);
}

TEST_F(SerialTest, ReadWaitsForTheBoard) {
    SetRecorderLine();
    unsigned char buffer[64];
    std::uint32_t count = 7;
    ASSERT_EQ(ReadFileOverlapped(port, buffer, sizeof buffer, &count, &overlap), IoStart::kPending);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(GetOverlappedResult(port, &overlap, &count, false));
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kWouldBlock));
    EXPECT_TRUE(ResetEvent(overlap.event));  // still pending: the wait below is for the board

    const std::string move("\x90\x0C\x1C\x00\x00", 5);
    Send(move);
    ASSERT_TRUE(WaitForEvent(overlap.event));
    ASSERT_TRUE(WaitForEvent(overlap.event));  // manual reset: stays signalled
    ASSERT_TRUE(GetOverlappedResult(port, &overlap, &count, true));
    std::string got(reinterpret_cast<char*>(buffer), count);
    // The pty may hand over the message in pieces; the rest follows on the next reads.
    got += ReceiveOnPort(port, move.size() - got.size());
    EXPECT_EQ(got, move);

    // Bytes already waiting complete the read at once.
    Send("\xFF");
    pollfd ready{static_cast<int>(port.value), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 5000), 1);
    ASSERT_EQ(ReadFileOverlapped(port, buffer, sizeof buffer, &count, &overlap),
              IoStart::kCompleted);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(buffer[0], 0xFF);
    // A read that completed at once is not read again by its completion.
    ASSERT_TRUE(GetOverlappedResult(port, &overlap, &count, false));
    EXPECT_EQ(count, 1u);
}

// A write larger than the line can take at once is finished by its completion.
TEST_F(SerialTest, PendingWriteIsFinishedByItsCompletion) {
    SetRecorderLine();
    std::string block(256 * 1024, '\0');
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = char(i % 251);
    EventHandle writeEvent = CreateIoEvent();
    Overlapped write;
    write.event = writeEvent;
    std::uint32_t count = 0;
    ASSERT_EQ(WriteFileOverlapped(port, block.data(), block.size(), &count, &write),
              IoStart::kPending);
    EXPECT_FALSE(GetOverlappedResult(port, &write, &count, false));
    EXPECT_TRUE(IsError(LastError(), platform::ErrorKind::kWouldBlock));

    std::string arrived;
    std::thread board([&] {
        char buffer[4096];
        while (arrived.size() < block.size()) {
            ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            arrived.append(buffer, n);
        }
    });
    EXPECT_TRUE(GetOverlappedResult(port, &write, &count, true));
    board.join();
    EXPECT_EQ(count, block.size());
    EXPECT_TRUE(arrived == block);
    CloseEvent(writeEvent);
}

TEST_F(SerialTest, HungUpLineFailsInsteadOfSpinning) {
    SetRecorderLine();
    unsigned char buffer[64];
    std::uint32_t count = 0;
    ASSERT_EQ(ReadFileOverlapped(port, buffer, sizeof buffer, &count, &overlap), IoStart::kPending);
    CloseMaster();  // the board is unplugged while the capture loop waits
    ASSERT_TRUE(WaitForEvent(overlap.event));
    EXPECT_FALSE(GetOverlappedResult(port, &overlap, &count, true));
    EXPECT_NE(LastError(), 0u);
    EXPECT_EQ(count, 0u);

    EXPECT_EQ(ReadFileOverlapped(port, buffer, sizeof buffer, &count, &overlap), IoStart::kFailed);
    EXPECT_NE(LastError(), 0u);
    EXPECT_FALSE(WaitForEvent(overlap.event));  // the failed read left nothing to wait for
}

// A wait on an event that nothing pending will signal fails at once: a new event, one reset
// after it was signalled, a closed one.
TEST_F(SerialTest, EventsWithNothingPendingDoNotHang) {
    // An event is never 0, which is what a read that completed at once answers, also when
    // standard input is closed and 0 is the next free descriptor.
    int input = ::dup(0);
    ::close(0);
    EventHandle event = CreateIoEvent();
    if (input >= 0) {
        ::dup2(input, 0);
        ::close(input);
    }
    ASSERT_TRUE(event.IsValid()) << LastError();
    EXPECT_NE(event.value, 0);
    EXPECT_FALSE(WaitForEvent(event));
    ASSERT_TRUE(testkit::SignalEvent(event));
    EXPECT_TRUE(WaitForEvent(event));
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_FALSE(WaitForEvent(event));
    CloseEvent(event);
    EXPECT_FALSE(event.IsValid());
    EXPECT_FALSE(WaitForEvent(event));
    EXPECT_FALSE(ResetEvent(event));
}

TEST(SerialFileTest, NonTerminalOpensButHasNoLineSettings) {
    ScratchDir dir;
    std::string path = dir / "not-a-port";
    ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644));
    FileHandle port = OpenSerialPort(path.c_str());
    ASSERT_TRUE(port.IsValid());
    LineSettings line;
    EXPECT_FALSE(GetCommState(port, &line));
    EXPECT_EQ(LastError(), ErrorCode(ENOTTY));
    EXPECT_FALSE(SetCommTimeouts(port, CommTimeouts{}));
    EXPECT_EQ(LastError(), ErrorCode(ENOTTY));
    CloseFile(port);
}
