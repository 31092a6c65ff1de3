#include "session/console.h"

#include <cstdarg>
#include <cstdio>

void ConsolePrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void Say(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "chessrec: %s\n", text);
    std::fflush(stderr);
}
