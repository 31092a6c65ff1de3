# cmake -DINPUT=page/index.html -DOUTPUT=spectator_page.cpp -P embed_page.cmake
# Writes a C++ source whose SpectatorPage() (live/page.h) returns the bytes of INPUT, each
# as a hexadecimal escape in a string literal of 32 bytes a line.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REPEAT "[0-9a-f]" 64 line)
string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" hex "${hex}")
string(REGEX REPLACE "([^\n]+)" "    \"\\1\"" hex "${hex}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by embed_page.cmake: do not edit.
#include \"live/page.h\"

namespace live {
namespace {
constexpr char kPage[${size} + 1] =
    \"\"
${hex};
}  // namespace

std::string_view SpectatorPage() {
    return {kPage, ${size}};
}
}  // namespace live
")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
