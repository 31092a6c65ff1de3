#include "live/say.h"

#include <cstdarg>
#include <cstdio>

namespace live {

void Say(const char* format, ...) {
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "pgnlive: %s\n", text);
    std::fflush(stderr);
}

}  // namespace live
