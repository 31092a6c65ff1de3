// The record file: every chunk of bytes that the port delivered in a live session, with
// its arrival time, so that the session can be replayed without the board.
//
// A flat run of records, one per chunk, with no header and no trailer:
//   offset 0, 4 bytes: the elapsed time, milliseconds from the capture loop's start to
//                      the chunk, unsigned little-endian (it wraps after 2^32 ms)
//   offset 4, 4 bytes: the count of data bytes that follow, unsigned little-endian
//   offset 8, count bytes: the chunk, as the port delivered it (never the bytes carried
//                      over from the chunk before)
// A count is at most kCaptureBufferSize; 0 is possible (a read that ended without data).
// A file cut by the recorder's end may stop inside its last record.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::uint32_t kCaptureBufferSize = 8192;
constexpr std::uint32_t kRecordHeaderSize = 8;

constexpr void PutLittleEndian32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
constexpr std::uint32_t GetLittleEndian32(const std::uint8_t* in) {
    return in[0] | in[1] << 8 | in[2] << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

constexpr void PutRecordHeader(std::uint8_t* header, std::uint32_t elapsed, std::uint32_t count) {
    PutLittleEndian32(header, elapsed);
    PutLittleEndian32(header + 4, count);
}

// What the kRecordHeaderSize bytes of a record's header say.
struct RecordHeader {
    std::uint32_t elapsed;
    std::uint32_t count;
};
constexpr RecordHeader GetRecordHeader(const std::uint8_t* header) {
    return RecordHeader{GetLittleEndian32(header), GetLittleEndian32(header + 4)};
}

// For programs and tests that write or read whole record files.

// One record: its header, then data.
inline std::string RecordBytes(std::string_view data, std::uint32_t elapsed = 0) {
    std::uint8_t header[kRecordHeaderSize];
    PutRecordHeader(header, elapsed, static_cast<std::uint32_t>(data.size()));
    std::string record(reinterpret_cast<const char*>(header), sizeof header);
    record += data;
    return record;
}

struct RecordedChunk {
    std::uint32_t elapsed;
    std::string data;
};

// The records of a whole file; *whole is false when the file ends inside a record.
inline std::vector<RecordedChunk> ReadRecords(std::string_view file, bool* whole) {
    std::vector<RecordedChunk> records;
    std::size_t at = 0;
    *whole = true;
    while (at < file.size()) {
        if (file.size() - at < kRecordHeaderSize) {
            *whole = false;
            break;
        }
        const RecordHeader header =
            GetRecordHeader(reinterpret_cast<const std::uint8_t*>(file.data() + at));
        if (file.size() - at - kRecordHeaderSize < header.count) {
            *whole = false;
            break;
        }
        records.push_back(RecordedChunk{
            header.elapsed, std::string(file.substr(at + kRecordHeaderSize, header.count))});
        at += kRecordHeaderSize + header.count;
    }
    return records;
}
