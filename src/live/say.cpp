#include "live/say.h"

#include <cstdarg>

namespace live {

void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    SayAs("pgnlive", format, args);
    va_end(args);
}

}  // namespace live
