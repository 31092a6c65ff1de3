// What the board's moves, take-backs and new games do to the session's game.
#pragma once

#include <cstdint>

#include "chess/position.h"

// A move message (0x90 or 0x9A and four bytes): plays it on the current position.
void OnMoveMessage(const std::uint8_t* message, CPosition*& current);

// A time message (0x93 and eight bytes): all zeros start a new game.
void OnTimeMessage(const std::uint8_t* message, CPosition*& current);

// A take-back message (0x99 and four bytes): steps the current position back one move.
void OnTakeBackMessage(const std::uint8_t* message, CPosition*& current);
