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
    va_list args;
    va_start(args, format);
    SayAs("chessrec", format, args);
    va_end(args);
}

void SayAs(const char* program, const char* format, std::va_list args) {
    char text[2048];
    std::vsnprintf(text, sizeof text, format, args);
    std::fprintf(stderr, "%s: %s\n", program, text);
    std::fflush(stderr);
}
