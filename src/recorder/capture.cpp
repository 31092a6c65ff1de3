#include "recorder/capture.h"

#include <mutex>

#include "board/decoder.h"
#include "platform/platform.h"
#include "session/console.h"
#include "session/log.h"
#include "session/session.h"

namespace {

// Appends one record with three writes. A failed write is logged, and ends the recording:
// the file may now end inside a record, and a record appended behind that would be read
// from the wrong place on replay. Capture and decoding go on.
void WriteRecord(Session& session, std::uint32_t elapsed, const std::uint8_t* data,
                 std::uint32_t count) {
    if (!session.record.IsValid() || session.recordWriteReported) return;
    std::uint8_t header[kRecordHeaderSize];
    PutRecordHeader(header, elapsed, count);
    std::uint32_t written = 0;
    bool ok = platform::WriteFile(session.record, header, 4, &written) &&
              platform::WriteFile(session.record, header + 4, 4, &written) &&
              platform::WriteFile(session.record, data, count, &written);
    if (!ok) {
        session.recordWriteReported = 1;
        SystemErrorReport("WriteFile(record)", platform::LastError());
    }
}

bool ReadExactly(platform::FileHandle file, void* buffer, std::uint32_t size) {
    std::uint32_t read = 0;
    return platform::ReadFile(file, buffer, size, &read) && read == size;
}

}  // namespace

void CaptureLoop(IIOObject* link, CPosition*& current) {
    Session& session = TheSession();
    std::uint8_t buffer[kCaptureBufferSize];
    std::uint32_t carried = 0;
    const std::uint32_t start = platform::TickCount();
    for (;;) {
        std::uint8_t* free = buffer + carried;
        std::uint32_t room = kCaptureBufferSize - carried;
        std::uint32_t count = 0;
        if (session.live) {
            ReadStart started = link->BeginRead(free, room, &count);
            if (started == kReadFailed) {
                ConsolePrint("Unable to read\n");
                return;
            }
            if (started != kReadDone) {
                // Sleep until the board sends; the completion's result is not needed:
                // a failed one leaves the count at 0.
                platform::WaitForEvent(platform::EventHandle{started});
                link->CompleteRead();
            }
            std::uint32_t elapsed = platform::TickCount() - start;
            std::lock_guard<SessionLock> hold(session.lock);
            WriteRecord(session, elapsed, free, count);  // recorded before it is decoded
            carried = Decode(current, link, buffer, carried + count);
        } else {
            // The header in its two parts, which end a replay with different words. The
            // elapsed time is not used: a replay runs as fast as the file can be read.
            std::uint8_t header[kRecordHeaderSize];
            if (!ReadExactly(session.record, header, 4)) return;
            if (!ReadExactly(session.record, header + 4, 4)) {
                ConsolePrint("Incomplete record : no length\n");
                return;
            }
            count = GetRecordHeader(header).count;
            if (count > room) {
                // Larger than the buffer, or (a foreign file) than the room behind the
                // carried bytes: the message names what it does not fit.
                std::uint32_t size = count > kCaptureBufferSize ? kCaptureBufferSize : room;
                ConsolePrint("Read buffer to small : %d vs %d\n", static_cast<int>(size),
                             static_cast<int>(count));
                return;
            }
            if (!ReadExactly(session.record, free, count)) {
                ConsolePrint("Incomplete record : partial data\n");
                return;
            }
            std::lock_guard<SessionLock> hold(session.lock);
            carried = Decode(current, nullptr, buffer, carried + count);
        }
    }
}
