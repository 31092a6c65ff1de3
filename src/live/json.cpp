#include "live/json.h"

#include <cstdint>
#include <cstdio>

namespace live {
namespace {

// The length of the UTF-8 sequence at text[at] when it is well formed (no overlong form,
// no surrogate, nothing above U+10FFFF), else 0.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
    const std::uint8_t first = byte(0);
    std::size_t length = first < 0x80                     ? 1
                         : first >= 0xC2 && first <= 0xDF ? 2
                         : first >= 0xE0 && first <= 0xEF ? 3
                         : first >= 0xF0 && first <= 0xF4 ? 4
                                                          : 0;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
    }
    if (length == 3) {
        if (first == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
        if (first == 0xED && byte(1) >= 0xA0) return 0;  // surrogate
    }
    if (length == 4) {
        if (first == 0xF0 && byte(1) < 0x90) return 0;   // overlong
        if (first == 0xF4 && byte(1) >= 0x90) return 0;  // above U+10FFFF
    }
    return length;
}

}  // namespace

void AppendJsonString(std::string& json, std::string_view text) {
    json += '"';
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        if (length == 0) {
            json += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        const char c = text[at];
        if (length > 1) {
            const std::string_view sequence = text.substr(at, length);
            // U+2028 and U+2029 end a line in some readers of JSON.
            if (sequence == "\xE2\x80\xA8" || sequence == "\xE2\x80\xA9") {
                json += sequence == "\xE2\x80\xA8" ? "\\u2028" : "\\u2029";
            } else {
                json += sequence;
            }
        } else if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == '<' || c == '>' || c == '&' ||
                   c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            json += escaped;
        } else {
            json += c;
        }
        at += length;
    }
    json += '"';
}

}  // namespace live
