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
    // Why the last Open answered 0, for start-up to tell the user: the failed call
    // ("CreateFile", "GetCommState" or "SetCommState") and its error. Null after an Open
    // that worked.
    const char* FailedCall() const { return failedCall_; }
    platform::ErrorCode FailedError() const { return failedError_; }
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
    const char* failedCall_ = nullptr;
    platform::ErrorCode failedError_ = 0;

    // Logs the failed call with context and code and keeps them; answers 0, Open's failure.
    int OpenFailed(const char* call, const char* context, platform::ErrorCode code);
};
