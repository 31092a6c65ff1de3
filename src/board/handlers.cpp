#include "board/handlers.h"

#include "chess/san.h"
#include "game/partie.h"
#include "pgn/save.h"
#include "pgn/session.h"
#include "recorder/console.h"
#include "recorder/log.h"
#include "recorder/session.h"

namespace {

// A square byte holds the file in its low four bits and the rank in its high four bits.
Square SquareOf(std::uint8_t byte) {
    return static_cast<Square>((byte >> 4) * 8 + (byte & 15));
}
char FileLetter(std::uint8_t byte) {
    return static_cast<char>('A' + (byte & 15));
}
char RankDigit(std::uint8_t byte) {
    return static_cast<char>('1' + (byte >> 4));
}

}  // namespace

void OnMoveMessage(const std::uint8_t* message, CPosition*& current) {
    SessionState& session = TheSession();
    LineBreakIfNeeded();
    LogWrite("Move : ");
    HexDump(message, 5);
    LogWrite(" =>  %c%c %c%c\n", FileLetter(message[1]), RankDigit(message[1]),
             FileLetter(message[2]), RankDigit(message[2]));
    if (!current) {
        session.logColumn = 0;
        return;
    }
    // The board never makes variations: a move after a take-back replaces the old line.
    CPosition* next =
        current->Play(SquareOf(message[1]), SquareOf(message[2]), current->continuation, 0);
    if (!next) {
        ConsolePrint("Invalid Move : %02X %02X %02X\n", message[0], message[1], message[2]);
        LogWrite("Invalid Move...\n");
        session.logColumn = 0;
        return;
    }
    char text[kSanBufferSize];
    WriteSAN(text, *next->lastMove, 1, 0);
    ConsolePrint("%s\n", text);
    LogWrite("Move OK : %s\n", text);
    current = next;
    session.logColumn = 0;
}

void OnTimeMessage(const std::uint8_t* message, CPosition*& current) {
    LineBreakIfNeeded();
    LogWrite("Time : ");
    HexDump(message, 9);
    bool newGame = true;
    for (int i = 1; i < 9; ++i)
        newGame = newGame && message[i] == 0;
    if (newGame) {
        ConsolePrint("New game\n");
        LogWrite("\nNew Game");
        SaveAndReleaseCurrentGame();
        PgnSession& pgn = ThePgnSession();
        pgn.currentGame = new CPartie;
        current = &pgn.currentGame->startingPosition;
    }
    LineBreakIfNeeded();
}

void OnTakeBackMessage(const std::uint8_t* message, CPosition*& current) {
    LineBreakIfNeeded();
    LogWrite("0x99 : ");
    HexDump(message, 5);
    if (current && current->lastMove) {
        ConsolePrint("Take back\n");
        LogWrite("Take back");
        current = current->lastMove->positionBefore;
    }
    LineBreakIfNeeded();
}
