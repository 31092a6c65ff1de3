// Copies and formatted prints into fixed buffers: always terminated, cut when too long.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session/console.h"

constexpr std::uint32_t kOk = 0;
constexpr std::uint32_t kInsufficientBuffer = 0x8007007A;
constexpr std::uint32_t kInvalidParameter = 0x80070057;

// Copies source into destination of size characters (the terminator included).
std::uint32_t BoundedCopy(char* destination, std::size_t size, const char* source);

// Formats into destination of size characters. A size of 0 or above the largest positive
// 32-bit value writes nothing. *written (when given) gets the characters placed.
std::uint32_t BoundedPrint(char* destination, std::size_t size, std::size_t* written,
                           const char* format, ...) CHESSREC_PRINTF(4, 5);
