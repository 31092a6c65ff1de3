// Standard algebraic notation of a played move.
#pragma once

#include "chess/position.h"

// Room for WriteSAN's longest text and its terminator: "65535... " (9), a move such as
// "exd8=Q+" or "Qa1xb2+" (7) and " $255" (5).
constexpr int kSanBufferSize = 24;

// Writes move into buffer (kSanBufferSize characters): with number, its move number first
// ("1. " before a White move, "1... " before a Black one); a check, mate included, as '+'
// (the text's only '+'); with numeric annotation, its annotation code as " $n", else as a
// glyph. Answers the length.
int WriteSAN(char* buffer, CCoup& move, int withNumber, int numericAnnotation);

// Works out, once, the text that tells the move's piece from its rivals.
void Disambiguate(CCoup& move);
