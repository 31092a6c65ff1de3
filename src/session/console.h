// The recorder's two streams. Standard output carries its console lines alone, each flushed
// as it is printed. Standard error carries its own words, one line each, "chessrec: ...".
#pragma once

#include <cstdarg>

#if defined(__GNUC__)
#define CHESSREC_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define CHESSREC_PRINTF(f, a)
#endif

void ConsolePrint(const char* format, ...) CHESSREC_PRINTF(1, 2);

// Writes "chessrec: " and the formatted text as one line on standard error, with one write
// (standard error is unbuffered, and one print goes out whole).
void Say(const char* format, ...) CHESSREC_PRINTF(1, 2);

// The same for another program of ours: program, ": " and the text.
void SayAs(const char* program, const char* format, std::va_list args);
