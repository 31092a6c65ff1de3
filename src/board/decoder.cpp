#include "board/decoder.h"

#include <cstring>

#include "board/handlers.h"
#include "board/protocol.h"
#include "session/log.h"
#include "session/session.h"

std::uint32_t Decode(CPosition*& current, IIOObject* link, std::uint8_t* buffer,
                     std::uint32_t count) {
    Session& session = TheSession();
    std::uint32_t at = 0;
    while (at < count) {
        std::uint8_t* message = buffer + at;
        // The first time message of a session only says that the board is there: it is
        // answered like 0xFF, and the eight bytes behind it are framed afresh.
        if (session.firstTimePending && message[0] == kTimeMessage) message[0] = kBoardReady;
        std::uint32_t length = MessageLength(message[0]);
        std::uint32_t left = count - at;
        if (left < length) {
            std::memmove(buffer, message, left);
            return left;
        }
        LogMessage logged;
        switch (message[0]) {
            case kMessage86:
            case kMessage8F:
                LineBreakIfNeeded();
                LogWrite(message[0] == kMessage86 ? "0x86 : " : "0x8F : ");
                HexDump(message, length);
                LineBreakIfNeeded();
                break;
            case kMoveMessage:
            case kMoveMessage9A:
                OnMoveMessage(message, current);
                break;
            case kTimeMessage:
                OnTimeMessage(message, current);
                break;
            case kTakeBackMessage:
                OnTakeBackMessage(message, current);
                break;
            case kBoardReady: {
                if (link) {
                    const std::uint8_t answer = kAnswer;
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
