#include "pgn/tokens.h"

#include <cstdio>
#include <utility>

namespace pgn_tokens {

namespace {

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
// A symbol (a move, a move number, a termination marker) is made of these; '/' is there
// for 1/2-1/2.
bool IsSymbolByte(char c) {
    return IsLetter(c) || IsDigit(c) || c == '_' || c == '+' || c == '#' || c == '=' || c == ':' ||
           c == '-' || c == '/';
}
bool IsNameByte(char c) {
    return IsLetter(c) || IsDigit(c) || c == '_';
}

// The annotation code of a traditional suffix, or 0 for none of the six.
int SuffixCode(std::string_view suffix) {
    constexpr std::string_view kSuffixes[] = {"!", "?", "!!", "??", "!?", "?!"};
    for (int code = 1; code <= 6; ++code) {
        if (suffix == kSuffixes[code - 1]) return code;
    }
    return 0;
}

}  // namespace

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string Shown(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return std::string(text);
    return std::string(text.substr(0, limit)) + "...";
}

Lexer::Lexer(std::string_view text) : text_(text) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = start_ = 3;
}

void Lexer::Next(Token* token) {
    SkipSpace(token);
    token->line = line_;
    if (at_ >= text_.size()) {
        token->kind = Kind::kEnd;
        return;
    }
    const char c = text_[at_];
    switch (c) {
        case '[':
            ReadTag(token);
            return;
        case '{':
            ++at_;
            if (ReadText('}', false, &token->value)) {
                token->kind = Kind::kComment;
            } else {
                Bad(token, at_ < text_.size() ? "NUL byte in a comment" : "comment not closed");
            }
            return;
        case ';': {
            std::size_t end = text_.find('\n', ++at_);
            if (end == std::string_view::npos) end = text_.size();
            // The blanks around a line's comment are not part of it.
            std::string_view rest = text_.substr(at_, end - at_);
            at_ = end;
            while (!rest.empty() && IsSpace(rest.back()))
                rest.remove_suffix(1);
            while (!rest.empty() && IsSpace(rest.front()))
                rest.remove_prefix(1);
            if (rest.find('\0') != std::string_view::npos) {
                Bad(token, "NUL byte in a comment");
            } else {
                // A CR alone breaks a line as in a {comment}: it reads as a space.
                token->kind = Kind::kComment;
                token->value.assign(rest);
                for (char& byte : token->value) {
                    if (byte == '\r') byte = ' ';
                }
            }
            return;
        }
        case '(':
        case ')':
        case '*':
            ++at_;
            token->kind = c == '(' ? Kind::kOpen : (c == ')' ? Kind::kClose : Kind::kStar);
            return;
        case '$':
            ReadNag(token);
            return;
        case '!':
        case '?': {
            std::size_t begin = at_;
            while (at_ < text_.size() && (text_[at_] == '!' || text_[at_] == '?'))
                ++at_;
            token->number = SuffixCode(text_.substr(begin, at_ - begin));
            if (token->number == 0) {
                Bad(token, "annotation " + Shown(text_.substr(begin, at_ - begin)) +
                               " is none of ! ? !! ?? !? ?!");
            } else {
                token->kind = Kind::kNag;
            }
            return;
        }
        default:
            break;
    }
    if (IsLetter(c) || IsDigit(c)) {
        std::size_t begin = at_;
        while (at_ < text_.size() && IsSymbolByte(text_[at_]))
            ++at_;
        token->kind = Kind::kSymbol;
        token->text = text_.substr(begin, at_ - begin);
        return;
    }
    ++at_;
    char shown[40];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
        std::snprintf(shown, sizeof shown, "unexpected character '%c'", c);
    } else {
        std::snprintf(shown, sizeof shown, "unexpected byte 0x%02X", byte);
    }
    Bad(token, shown);
}

bool Lexer::AtLineStart() const {
    return at_ == start_ || text_[at_ - 1] == '\n';
}

void Lexer::SkipSpace(Token* token) {
    int breaks = 0;  // line breaks since the last byte that is not white space
    token->afterEmptyLine = false;
    while (at_ < text_.size()) {
        const char c = text_[at_];
        if (c == '\n') {
            ++line_;
            if (++breaks >= 2) token->afterEmptyLine = true;
            ++at_;
        } else if (IsSpace(c)) {
            ++at_;
        } else if (c == '%' && AtLineStart()) {
            std::size_t end = text_.find('\n', at_);
            at_ = end == std::string_view::npos ? text_.size() : end;
            breaks = 0;
        } else if (c == '.') {
            ++at_;
            breaks = 0;
        } else {
            break;
        }
    }
}

void Lexer::Bad(Token* token, std::string why) {
    token->kind = Kind::kBad;
    token->why = std::move(why);
}

bool Lexer::ReadText(char closer, bool escapes, std::string* out) {
    out->clear();
    while (at_ < text_.size()) {
        std::size_t run = at_;
        while (run < text_.size() && text_[run] != closer && text_[run] != '\r' &&
               text_[run] != '\n' && text_[run] != '\0' && !(escapes && text_[run] == '\\'))
            ++run;
        out->append(text_.substr(at_, run - at_));
        at_ = run;
        if (at_ >= text_.size()) break;
        const char c = text_[at_];
        if (c == closer) {
            ++at_;
            return true;
        }
        if (c == '\0') return false;
        if (c == '\\') {
            const char next = at_ + 1 < text_.size() ? text_[at_ + 1] : '\0';
            if (next == '"' || next == '\\') {
                out->push_back(next);
                at_ += 2;
            } else {
                out->push_back(c);
                ++at_;
            }
            continue;
        }
        // One line break: CR LF, LF or CR; the breaks right after it add nothing.
        const bool afterBreak = at_ > 0 && (text_[at_ - 1] == '\n' || text_[at_ - 1] == '\r');
        if (c == '\r' && at_ + 1 < text_.size() && text_[at_ + 1] == '\n') ++at_;
        if (text_[at_] == '\n') ++line_;
        ++at_;
        const bool beforeCloser = at_ < text_.size() && text_[at_] == closer;
        if (!out->empty() && out->back() != '(' && out->back() != '{' && !beforeCloser &&
            !afterBreak)
            out->push_back(' ');
    }
    return false;
}

void Lexer::SkipLineSpace() {
    while (at_ < text_.size() && IsSpace(text_[at_])) {
        if (text_[at_] == '\n') ++line_;
        ++at_;
    }
}

void Lexer::ReadTag(Token* token) {
    ++at_;
    SkipLineSpace();
    std::size_t begin = at_;
    if (at_ < text_.size() && (IsLetter(text_[at_]) || IsDigit(text_[at_]))) {
        while (at_ < text_.size() && IsNameByte(text_[at_]))
            ++at_;
    }
    token->name.assign(text_.substr(begin, at_ - begin));
    SkipLineSpace();
    const char* why = nullptr;
    if (token->name.empty() || at_ >= text_.size() || text_[at_] != '"') {
        why = "not a tag pair: [Name \"value\"] expected";
    } else {
        ++at_;
        if (!ReadText('"', true, &token->value)) {
            why = at_ < text_.size() ? "NUL byte in a tag value" : "tag value not closed";
        } else {
            SkipLineSpace();
            if (at_ >= text_.size() || text_[at_] != ']') {
                why = "not a tag pair: ']' expected after the value";
            } else {
                ++at_;
            }
        }
    }
    if (!why) {
        token->kind = Kind::kTag;
        return;
    }
    token->kind = Kind::kBadTag;
    token->why = why;
    token->faultLine = line_;
    std::size_t end = text_.find('\n', at_);
    at_ = end == std::string_view::npos ? text_.size() : end;
}

void Lexer::ReadNag(Token* token) {
    std::size_t begin = ++at_;
    int number = 0;
    while (at_ < text_.size() && IsDigit(text_[at_])) {
        if (number <= 255) number = number * 10 + (text_[at_] - '0');
        ++at_;
    }
    if (at_ == begin) {
        Bad(token, "'$' without a number");
    } else if (number > 255) {
        Bad(token, "NAG $" + Shown(text_.substr(begin, at_ - begin)) + " is above 255");
    } else {
        token->kind = Kind::kNag;
        token->number = number;
    }
}

}  // namespace pgn_tokens
