#include "board/serial_port.h"

#include <cstdlib>

#include "session/bounded.h"
#include "session/log.h"

const char* SerialDevice() {
    const char* device = std::getenv("CHESSREC_PORT");
    return device && *device ? device : platform::DefaultSerialDevice();
}

CSerialPort::~CSerialPort() {
    Close();
}

void CSerialPort::Close() {
    platform::CloseFile(port_);
    platform::CloseEvent(readEvent_);
    platform::CloseEvent(writeEvent_);
}

int CSerialPort::OpenFailed(const char* call, const char* context, platform::ErrorCode code) {
    failedCall_ = call;
    failedError_ = code;
    SystemErrorReport(context, code);
    return 0;
}

int CSerialPort::Open() {
    Close();  // a second open starts from a closed object
    failedCall_ = nullptr;
    const char* device = SerialDevice();
    port_ = platform::OpenSerialPort(device);
    if (!port_.IsValid()) {
        platform::ErrorCode code = platform::LastError();
        char context[256];
        BoundedPrint(context, sizeof context, nullptr, "CreateFile(\"%s\")", device);
        return OpenFailed("CreateFile", context, code);
    }
    platform::LineSettings line;
    if (!platform::GetCommState(port_, &line)) {
        return OpenFailed("GetCommState", "GetCommState()", platform::LastError());
    }
    line.baudRate = 2400;
    line.byteSize = 8;
    line.parity = 0;
    line.stopBits = 0;
    line.parityCheck = false;
    line.eofChar = 0x1A;
    line.evtChar = 0x1A;
    if (!platform::SetCommState(port_, line)) {
        return OpenFailed("SetCommState", "SetCommState", platform::LastError());
    }
    // A read completes as soon as one byte is there, with all the bytes there are; with
    // none it waits for the first.
    platform::CommTimeouts timeouts;
    if (!platform::GetCommTimeouts(port_, &timeouts)) {
        SystemErrorReport("GetCommTimeouts", platform::LastError());
    }
    timeouts.readInterval = 0xFFFFFFFF;
    timeouts.readTotalMultiplier = 0xFFFFFFFF;
    timeouts.readTotalConstant = 0xFFFFFFFE;
    if (!platform::SetCommTimeouts(port_, timeouts)) {
        SystemErrorReport("SetCommTimeouts", platform::LastError());
    }
    if (!platform::GetCommTimeouts(port_, &timeouts)) {
        SystemErrorReport("GetCommTimeouts", platform::LastError());
    }
    readEvent_ = platform::CreateIoEvent();
    writeEvent_ = platform::CreateIoEvent();
    return 1;
}

int CSerialPort::Write(const void* bytes, std::uint32_t count, std::uint32_t* written) {
    platform::Overlapped overlap;
    overlap.event = writeEvent_;
    switch (platform::WriteFileOverlapped(port_, bytes, count, written, &overlap)) {
        case platform::IoStart::kCompleted:
            return 1;
        case platform::IoStart::kPending: {
            // a write waits for its own completion, so writes never overlap
            bool done = platform::GetOverlappedResult(port_, &overlap, written, true);
            if (!done) SystemErrorReport("GetOverlappedResultW", platform::LastError());
            return done ? 1 : 0;
        }
        case platform::IoStart::kFailed:
            break;
    }
    SystemErrorReport("WriteFile(serial)", platform::LastError());
    return 0;
}

ReadStart CSerialPort::BeginRead(void* destination, std::uint32_t capacity, std::uint32_t* count) {
    readCount_ = count;
    readOverlap_ = platform::Overlapped{};
    readOverlap_.event = readEvent_;
    platform::ResetEvent(readEvent_);
    switch (platform::ReadFileOverlapped(port_, destination, capacity, count, &readOverlap_)) {
        case platform::IoStart::kCompleted:
            return kReadDone;
        case platform::IoStart::kPending:
            return readEvent_.value;
        case platform::IoStart::kFailed:
            break;
    }
    return kReadFailed;
}

int CSerialPort::CompleteRead() {
    bool done = platform::GetOverlappedResult(port_, &readOverlap_, readCount_, false);
    if (!done) SystemErrorReport("GetOverlappedResultR", platform::LastError());
    return done ? 1 : 0;
}

int CSerialPort::BlockingRead(void* destination, std::uint32_t capacity, std::uint32_t* count) {
    return platform::ReadFile(port_, destination, capacity, count) ? 1 : 0;
}
