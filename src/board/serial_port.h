// The serial line to the board.
#pragma once

#include <cstdint>

#include "board/iio.h"
#include "platform/platform.h"

// The device the board is on: CHESSREC_PORT when set, else the first serial port.
const char* SerialDevice();

class CSerialPort : public IIOObject {
public:
    CSerialPort() = default;
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;
    virtual ~CSerialPort();

    // Opens and sets up the line: 2400 baud, 8 data bits, no parity, one stop bit. Answers
    // 1, or 0 after logging the failed call.
    int Open();
    // Closes the port and its events, each that is open.
    void Close();

    int Write(const void* bytes, std::uint32_t count, std::uint32_t* written) override;
    ReadStart BeginRead(void* destination, std::uint32_t capacity, std::uint32_t* count) override;
    int CompleteRead() override;
    int BlockingRead(void* destination, std::uint32_t capacity, std::uint32_t* count) override;

private:
    platform::FileHandle port_;
    platform::EventHandle readEvent_;
    platform::EventHandle writeEvent_;
    platform::Overlapped readOverlap_;
    std::uint32_t* readCount_ = nullptr;
};
