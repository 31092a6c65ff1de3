// The capture loop: the recorder's one main loop.
#pragma once

#include <cstdint>

#include "board/iio.h"
#include "chess/position.h"

constexpr std::uint32_t kCaptureBufferSize = 8192;

// The record file is a flat run of records, one per chunk the port delivered, with no
// header and no trailer:
//   offset 0, 4 bytes: milliseconds from the loop's start to the chunk, little-endian
//   offset 4, 4 bytes: the number of data bytes that follow, little-endian
//   offset 8, count bytes: the chunk, as the port delivered it (carried bytes excluded)
constexpr std::uint32_t kRecordHeaderSize = 8;
void PutRecordHeader(std::uint8_t* header, std::uint32_t elapsed, std::uint32_t count);

// Reads chunk after chunk, from the board (live mode: each chunk is recorded first) or from
// the record file being replayed, and decodes each behind the bytes left over from the
// turn before. Returns when the input ends or fails, after printing why.
void CaptureLoop(IIOObject* link, CPosition*& current);
