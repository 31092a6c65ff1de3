#include "session/bounded.h"

#include <cstdarg>
#include <cstdio>

std::uint32_t BoundedCopy(char* destination, std::size_t size, const char* source) {
    if (size == 0) return kInvalidParameter;
    std::size_t i = 0;
    for (; i + 1 < size && source[i] != '\0'; ++i)
        destination[i] = source[i];
    destination[i] = '\0';
    return source[i] == '\0' ? kOk : kInsufficientBuffer;
}

std::uint32_t BoundedPrint(char* destination, std::size_t size, std::size_t* written,
                           const char* format, ...) {
    if (written) *written = 0;
    if (size == 0 || size > 0x7FFFFFFF) return kInvalidParameter;
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(destination, size, format, args);
    va_end(args);
    if (length < 0) {
        destination[0] = '\0';
        return kInvalidParameter;
    }
    bool fits = static_cast<std::size_t>(length) < size;
    if (written) *written = fits ? static_cast<std::size_t>(length) : size - 1;
    return fits ? kOk : kInsufficientBuffer;
}
