// The capture loop: the recorder's one main loop.
#pragma once

#include "board/iio.h"
#include "chess/position.h"
#include "recorder/record_format.h"

// Reads chunk after chunk, from the board (live mode: each chunk is recorded first) or from
// the record file being replayed, and decodes each behind the bytes left over from the
// turn before. Returns when the input ends or fails, after printing why.
void CaptureLoop(IIOObject* link, CPosition*& current);
