// The board's byte stream, cut into its messages.
#pragma once

#include <cstdint>

#include "board/iio.h"
#include "chess/position.h"

// Frames the count bytes at buffer's start and handles every complete message. Answers the
// number of bytes that begin an incomplete message; they have been moved to the buffer's
// start. link is the board in live mode, null in replay mode.
std::uint32_t Decode(CPosition*& current, IIOObject* link, std::uint8_t* buffer,
                     std::uint32_t count);
