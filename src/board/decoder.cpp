#include "board/decoder.h"

#include <cstring>

#include "board/handlers.h"
#include "recorder/log.h"
#include "recorder/session.h"

namespace {

// The board's messages, by first byte (the length counts the first byte):
//   0x86  4  logged as "0x86 : "          0x93  9  time message
//   0x8F  5  logged as "0x8F : "          0x99  5  take-back message
//   0x90  5  move message                 0x9A  5  move message
//   0xFF  1  answered with one 0x99       any other byte: 1, logged as a bare hex byte
// Bytes after the first are never looked at for framing.
std::uint32_t MessageLength(std::uint8_t first) {
    switch (first) {
        case 0x86:
            return 4;
        case 0x8F:
        case 0x90:
        case 0x99:
        case 0x9A:
            return 5;
        case 0x93:
            return 9;
        default:
            return 1;
    }
}

}  // namespace

std::uint32_t Decode(CPosition*& current, IIOObject* link, std::uint8_t* buffer,
                     std::uint32_t count) {
    SessionState& session = TheSession();
    std::uint32_t at = 0;
    while (at < count) {
        std::uint8_t* message = buffer + at;
        // The first time message of a session only says that the board is there: it is
        // answered like 0xFF, and the eight bytes behind it are framed afresh.
        if (session.firstTimePending && message[0] == 0x93) message[0] = 0xFF;
        std::uint32_t length = MessageLength(message[0]);
        std::uint32_t left = count - at;
        if (left < length) {
            std::memmove(buffer, message, left);
            return left;
        }
        LogMessage logged;
        switch (message[0]) {
            case 0x86:
            case 0x8F:
                LineBreakIfNeeded();
                LogWrite(message[0] == 0x86 ? "0x86 : " : "0x8F : ");
                HexDump(message, length);
                LineBreakIfNeeded();
                break;
            case 0x90:
            case 0x9A:
                OnMoveMessage(message, current);
                break;
            case 0x93:
                OnTimeMessage(message, current);
                break;
            case 0x99:
                OnTakeBackMessage(message, current);
                break;
            case 0xFF: {
                if (link) {
                    const std::uint8_t answer = 0x99;
                    std::uint32_t written = 0;
                    link->Write(&answer, 1, &written);
                }
                session.firstTimePending = 0;
                break;
            }
            default:
                HexDump(message, 1);
                break;
        }
        at += length;
    }
    return 0;
}
