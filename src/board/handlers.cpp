#include "board/handlers.h"

#include "board/protocol.h"
#include "chess/san.h"
#include "pgn/game_in_progress.h"
#include "session/console.h"
#include "session/log.h"

namespace {

char FileLetter(std::uint8_t squareByte) {
    return static_cast<char>('A' + FileNibble(squareByte));
}
char RankDigit(std::uint8_t squareByte) {
    return static_cast<char>('1' + RankNibble(squareByte));
}

}  // namespace

void OnMoveMessage(const std::uint8_t* message, CPosition*& current) {
    LineBreakIfNeeded();
    LogWrite("Move : ");
    HexDump(message, kMoveMessageLength);
    LogWrite(" =>  %c%c %c%c\n", FileLetter(message[1]), RankDigit(message[1]),
             FileLetter(message[2]), RankDigit(message[2]));
    if (!current) {
        LogLineEnded();
        return;
    }
    // The board never makes variations: a move after a take-back replaces the old line.
    CPosition* next =
        current->Play(SquareIndex(message[1]), SquareIndex(message[2]), current->continuation, 0);
    if (!next) {
        ConsolePrint("Invalid Move : %02X %02X %02X\n", message[0], message[1], message[2]);
        LogWrite("Invalid Move...\n");
        LogLineEnded();
        return;
    }
    // On disk before it is shown: a move the user has seen is never lost.
    KeepGameInProgress();
    char text[kSanBufferSize];
    WriteSAN(text, *next->lastMove, 1, 0);
    ConsolePrint("%s\n", text);
    LogWrite("Move OK : %s\n", text);
    current = next;
    LogLineEnded();
}

void OnTimeMessage(const std::uint8_t* message, CPosition*& current) {
    LineBreakIfNeeded();
    LogWrite("Time : ");
    HexDump(message, kTimeMessageLength);
    if (IsNewGame(message)) {
        ConsolePrint("New game\n");
        LogWrite("\nNew Game");
        NextGame(current);
    }
    LineBreakIfNeeded();
}

void OnTakeBackMessage(const std::uint8_t* message, CPosition*& current) {
    LineBreakIfNeeded();
    LogWrite("0x99 : ");
    HexDump(message, kTakeBackMessageLength);
    if (current && current->lastMove) {
        ConsolePrint("Take back\n");
        LogWrite("Take back");
        // The game keeps the move taken back (a saved game holds it too): the game in
        // progress on disk stays as it is.
        current = current->lastMove->positionBefore;
    }
    LineBreakIfNeeded();
}
