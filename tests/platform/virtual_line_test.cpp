// The virtual serial line that boardsim plays the board on: its board end here, its other
// end opened as a recorder opens its port.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"

using namespace platform;

namespace {

// Reads from the recorder's end as the capture loop does, until want bytes have come.
std::string ReceiveOnPort(FileHandle port, std::size_t want) {
    Overlapped overlap;
    overlap.event = CreateIoEvent();
    std::string got;
    unsigned char buffer[64];
    while (got.size() < want) {
        std::uint32_t count = 0;
        IoStart start = ReadFileOverlapped(port, buffer, sizeof buffer, &count, &overlap);
        if (start == IoStart::kFailed) break;
        if (start == IoStart::kPending &&
            (!WaitForEvent(overlap.event) || !GetOverlappedResult(port, &overlap, &count, false)))
            break;
        got.append(reinterpret_cast<char*>(buffer), count);
    }
    CloseEvent(overlap.event);
    return got;
}

}  // namespace

// Bytes the board sends before anyone has opened the other end wait there, untouched by
// any line processing, and nothing comes back but what the recorder writes. The board end
// sees the recorder come and go.
TEST(VirtualLine, CarriesBytesBothWaysAndSeesItsPeer) {
    char device[128];
    FileHandle line = OpenVirtualLine(device, sizeof device);
    ASSERT_TRUE(line.IsValid()) << LastError();
    EXPECT_EQ(std::strncmp(device, "/dev/", 5), 0) << device;
    EXPECT_FALSE(IsVirtualLinePeerOpen(line));
    EXPECT_EQ(WaitForInput(line, 0), WaitResult::kFailed);  // hung up: nobody there yet

    const std::string sent("\x93\x03\x04\x11\x13\x0D\x0A\x7F\x1A\x1C\x15\x16\xFF\x00", 14);
    std::uint32_t written = 0;
    ASSERT_TRUE(WriteFile(line, sent.data(), sent.size(), &written));
    EXPECT_EQ(written, sent.size());

    FileHandle port = OpenSerialPort(device);
    ASSERT_TRUE(port.IsValid()) << LastError();
    EXPECT_TRUE(IsVirtualLinePeerOpen(line));
    EXPECT_EQ(ReceiveOnPort(port, sent.size()), sent);
    EXPECT_EQ(WaitForInput(line, 0), WaitResult::kTimedOut);  // no echo

    ASSERT_TRUE(WriteFile(port, "\x99", 1, &written));
    ASSERT_EQ(WaitForInput(line, kWaitForever), WaitResult::kReady);
    char answer[8];
    std::uint32_t read = 0;
    ASSERT_TRUE(ReadFile(line, answer, sizeof answer, &read));
    EXPECT_EQ(std::string(answer, read), "\x99");

    const std::uint32_t start = TickCount();
    EXPECT_EQ(WaitForInput(line, 30), WaitResult::kTimedOut);
    EXPECT_GE(TickCount() - start, 30u);

    CloseFile(port);
    EXPECT_FALSE(IsVirtualLinePeerOpen(line));
    EXPECT_EQ(WaitForInput(line, kWaitForever), WaitResult::kFailed);
    EXPECT_FALSE(ReadFile(line, answer, sizeof answer, &read));
    CloseFile(line);
}
