// The recorder's own words to its user: one line each on standard error, "chessrec: ...",
// naming the file or device and the system's reason (session/console.h: Say). The
// console's lines (standard output) are the board's account, printed where they happen.
#pragma once

#include <cstdint>

#include "board/serial_port.h"
#include "platform/platform.h"

// Start-up: where the session's files go. "session NNN in FOLDER: NAME.NNN.pgn, .log and
// .rec; board on DEVICE", or for a replay "NAME.NNN.pgn and .log; replay of FILE". From then
// on the session's end tells how many games were saved (SayGamesSaved).
void SayAnnouncement(int number, const char* pgnPath, const char* replayPath);

// The session's last word, said once and only after SayAnnouncement: how many games were
// saved and where ("N games saved in PATH", or "no game saved"), how many could not be, and
// gameLeft after it.
void SayGamesSaved(const char* gameLeft);

// The session's files.
void SayCannotNameFiles();
void SayPathTooLong(const char* path);
void SayNoFreeNumber(const char* folder);
void SayCannotCreate(const char* path, platform::ErrorCode code);
void SayRecovered(int number, const char* pgnPath);
void SayLeftoverKept(const char* path);

// The input.
void SayCannotOpenRecord(const char* path, platform::ErrorCode code);
void SayPortFailure(const CSerialPort& port);
