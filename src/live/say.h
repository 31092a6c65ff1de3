// pgnlive's own words: one line each on standard error, "pgnlive: ...".
#pragma once

#include "session/console.h"

namespace live {

// Writes "pgnlive: " and the formatted text as one line on standard error, with one write.
void Say(const char* format, ...) CHESSREC_PRINTF(1, 2);

}  // namespace live
