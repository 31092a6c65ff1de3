// The PGN reader's tokens: the text cut into tag pairs, comments, parentheses, NAGs and
// suffixes, symbols (moves, move numbers, termination markers) and '*', with the line each
// starts on. White space, periods and lines starting with '%' are passed over; a byte that
// starts no token is a bad token that says why.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pgn_tokens {

// A token is shown in a problem with at most this many bytes.
constexpr std::size_t kShownBytes = 24;

bool IsDigit(char c);

// At most limit bytes of a token, for a problem's text.
std::string Shown(std::string_view text, std::size_t limit = kShownBytes);

enum class Kind {
    kEnd,
    kTag,      // name and value
    kBadTag,   // why
    kComment,  // value
    kOpen,
    kClose,
    kNag,  // number: 0 to 255, also a suffix's code
    kSymbol,
    kStar,
    kBad,  // why
};

struct Token {
    Kind kind = Kind::kEnd;
    int line = 1;                 // where the token starts
    int faultLine = 1;            // a bad tag pair: where it went wrong
    bool afterEmptyLine = false;  // an empty line came since the token before
    std::string_view text;        // a symbol's bytes
    int number = 0;
    std::string name;
    std::string value;
    std::string why;
};

// Cuts the text into tokens, one at each Next.
class Lexer {
public:
    explicit Lexer(std::string_view text);

    void Next(Token* token);

private:
    bool AtLineStart() const;
    // Passes over white space, periods and '%' lines; notes an empty line among them.
    void SkipSpace(Token* token);
    void Bad(Token* token, std::string why);
    // Reads the rest of a tag value (escapes) or a comment up to closer, which it passes.
    // A line break reads as one space, except where the writer breaks a line without
    // taking a space: at the start, before closer, just after '(' or '{', and right after
    // another line break (the writer may end a line at its start). Answers
    // false for a NUL byte (at_ stays on it) or the end of the text.
    bool ReadText(char closer, bool escapes, std::string* out);
    void SkipLineSpace();
    // A tag pair: '[', the name, the quoted value, ']', with white space between them.
    // When it is not one, the rest of the line where it went wrong is passed over.
    void ReadTag(Token* token);
    // '$' and a number from 0 to 255.
    void ReadNag(Token* token);

    std::string_view text_;
    std::size_t at_ = 0;
    std::size_t start_ = 0;  // past the byte order mark
    int line_ = 1;
};

}  // namespace pgn_tokens
