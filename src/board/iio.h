// The byte link to the board.
#pragma once

#include <cstdint>

// What BeginRead answers: the read is done, it failed, or the event to wait on.
using ReadStart = std::intptr_t;
constexpr ReadStart kReadDone = 0;
constexpr ReadStart kReadFailed = -1;

class IIOObject {
public:
    // Writes count bytes; nonzero when they were written, 0 on failure.
    virtual int Write(const void* bytes, std::uint32_t count, std::uint32_t* written) = 0;
    // Starts a read into destination: kReadDone with *count set when the bytes were there
    // already, kReadFailed, or an event that is signalled when the read can complete.
    virtual ReadStart BeginRead(void* destination, std::uint32_t capacity,
                                std::uint32_t* count) = 0;
    // Completes the pending read: on success the count given to BeginRead holds the bytes.
    virtual int CompleteRead() = 0;
    // A read that waits for its bytes; answers the system's success flag.
    virtual int BlockingRead(void* destination, std::uint32_t capacity, std::uint32_t* count) = 0;

protected:
    ~IIOObject() = default;
};
