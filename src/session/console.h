// The console: the recorder's own lines on standard output, each flushed as it is printed.
#pragma once

#if defined(__GNUC__)
#define CHESSREC_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define CHESSREC_PRINTF(f, a)
#endif

void ConsolePrint(const char* format, ...) CHESSREC_PRINTF(1, 2);
