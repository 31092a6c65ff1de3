// The board's messages.
//
// The board sends a stream of messages. A message is recognised by its first byte alone,
// which also fixes its length (the first byte included); the bytes after the first are
// never looked at for framing, so a payload may hold any value.
//
//   first  length  message
//   0x86   4       no name; logged whole
//   0x8F   5       no name; logged whole
//   0x90   5       move: from-square, to-square, two bytes not used
//   0x9A   5       move, the same as 0x90
//   0x93   9       time: eight bytes of clock data; all of them 0 means a new game
//   0x99   5       take-back: four bytes not used
//   0xFF   1       the board is ready: the recorder answers with the one byte 0x99
//   other  1       unknown byte
//
// The first 0x93 of a session is the board's greeting, not a time message: it is taken
// for 0xFF (answered), and the eight bytes behind it are framed afresh. A 0xFF that the
// board sends first has the same effect, and the first 0x93 is then a time message.
//
// A square byte holds the file in its low four bits (0 for file a to 7 for file h) and the
// rank in its high four bits (0 for rank 1 to 7 for rank 8). Nibble values above 7 name no
// square of the board.
#pragma once

#include <cstdint>
#include <string>

#include "chess/position.h"

constexpr std::uint8_t kMessage86 = 0x86;
constexpr std::uint8_t kMessage8F = 0x8F;
constexpr std::uint8_t kMoveMessage = 0x90;
constexpr std::uint8_t kMoveMessage9A = 0x9A;
constexpr std::uint8_t kTimeMessage = 0x93;
constexpr std::uint8_t kTakeBackMessage = 0x99;
constexpr std::uint8_t kBoardReady = 0xFF;
constexpr std::uint8_t kAnswer = 0x99;  // what the recorder sends for kBoardReady

constexpr std::uint32_t kMessage86Length = 4;
constexpr std::uint32_t kMessage8FLength = 5;
constexpr std::uint32_t kMoveMessageLength = 5;  // also kMoveMessage9A
constexpr std::uint32_t kTimeMessageLength = 9;
constexpr std::uint32_t kTakeBackMessageLength = 5;
constexpr std::uint32_t kLongestMessage = kTimeMessageLength;

// The length of the message that begins with first.
constexpr std::uint32_t MessageLength(std::uint8_t first) {
    switch (first) {
        case kMessage86:
            return kMessage86Length;
        case kMessage8F:
            return kMessage8FLength;
        case kMoveMessage:
        case kMoveMessage9A:
            return kMoveMessageLength;
        case kTakeBackMessage:
            return kTakeBackMessageLength;
        case kTimeMessage:
            return kTimeMessageLength;
        default:
            return 1;
    }
}

// Whether the time message's clock data is all zeros: a new game has begun.
constexpr bool IsNewGame(const std::uint8_t* timeMessage) {
    for (std::uint32_t i = 1; i < kTimeMessageLength; ++i) {
        if (timeMessage[i] != 0) return false;
    }
    return true;
}

constexpr std::uint8_t SquareByte(int file, int rank) {
    return static_cast<std::uint8_t>(rank << 4 | file);
}
constexpr int FileNibble(std::uint8_t squareByte) {
    return squareByte & 15;
}
constexpr int RankNibble(std::uint8_t squareByte) {
    return squareByte >> 4;
}

// The square index of a square byte, rank * 8 + file; kNoSquare, which Play refuses, when
// either nibble is above 7 (rank * 8 + file would land a file nibble of 8 to 15 on a square
// of the next rank).
constexpr Square SquareIndex(std::uint8_t squareByte) {
    if (RankNibble(squareByte) > 7 || FileNibble(squareByte) > 7) return kNoSquare;
    return static_cast<Square>(RankNibble(squareByte) * 8 + FileNibble(squareByte));
}

// Builders of whole messages, as the board sends them.
inline std::string MoveMessage(std::uint8_t from, std::uint8_t to,
                               std::uint8_t first = kMoveMessage) {
    return std::string{static_cast<char>(first), static_cast<char>(from), static_cast<char>(to),
                       '\0', '\0'};
}
inline std::string TakeBackMessage() {
    return std::string{static_cast<char>(kTakeBackMessage), '\0', '\0', '\0', '\0'};
}
// A time message with the eight bytes of clock data given.
inline std::string TimeMessage(const std::uint8_t (&clock)[8]) {
    std::string message(1, static_cast<char>(kTimeMessage));
    for (std::uint8_t byte : clock)
        message += static_cast<char>(byte);
    return message;
}
// A time message of zeros: a new game, or, first in a session, the board's greeting.
inline std::string NewGameMessage() {
    return TimeMessage({0, 0, 0, 0, 0, 0, 0, 0});
}
