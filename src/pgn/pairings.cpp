#include "pgn/pairings.h"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsNameByte(char c) {
    return IsLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// One line of a group, read.
struct Entry {
    int line;
    bool ok;           // a tag pair; else why says what is wrong
    bool namesBoard;   // a tag pair called Board, or a bad line that begins as one
    std::string name;  // of a tag pair
    std::string value;
    std::string why;
};

// Reads one line (blanks trimmed) as a tag pair.
Entry ReadLine(int number, std::string_view s) {
    Entry entry{number, false, false, {}, {}, {}};
    std::size_t at = 0;
    auto skipBlanks = [&] {
        while (at < s.size() && IsBlank(s[at]))
            ++at;
    };
    if (s[at] != '[') {
        entry.why = "not a tag pair: [Name \"value\"] expected";
        return entry;
    }
    ++at;
    skipBlanks();
    std::size_t begin = at;
    if (at < s.size() && IsLetter(s[at])) {
        while (at < s.size() && IsNameByte(s[at]))
            ++at;
    }
    entry.name.assign(s.substr(begin, at - begin));
    entry.namesBoard = entry.name == "Board";
    skipBlanks();
    if (entry.name.empty() || at >= s.size() || s[at] != '"') {
        entry.why = "not a tag pair: [Name \"value\"] expected";
        return entry;
    }
    for (++at;; ++at) {
        if (at >= s.size()) {
            entry.why = "the value has no closing quote";
            return entry;
        }
        const auto c = static_cast<unsigned char>(s[at]);
        if (c == '"') break;
        if (c < 0x20 || c == 0x7F) {
            entry.why = "a control character in the value";
            return entry;
        }
        if (c == '\\') {
            if (at + 1 >= s.size() || (s[at + 1] != '"' && s[at + 1] != '\\')) {
                entry.why = "a backslash in the value stands only in \\\" and \\\\";
                return entry;
            }
            ++at;
        }
        entry.value.push_back(s[at]);
    }
    ++at;
    skipBlanks();
    if (at >= s.size() || s[at] != ']') {
        entry.why = "not a tag pair: ']' expected after the value";
        return entry;
    }
    ++at;
    if (at != s.size()) {
        entry.why = "text after the tag pair (one tag pair a line)";
        return entry;
    }
    entry.ok = true;
    return entry;
}

// Board's value as a number from 1 to kMaxBoard, or 0.
int BoardNumber(const std::string& value) {
    if (value.empty() || value.size() > 3) return 0;
    int number = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return 0;
        number = number * 10 + (c - '0');
    }
    return number;
}

bool IsResult(const std::string& value) {
    return value == "1-0" || value == "0-1" || value == "1/2-1/2" || value == "*";
}

class PairingsReader {
public:
    explicit PairingsReader(std::vector<PairingsProblem>* problems)
        : problems_(problems), firstProblem_(problems ? problems->size() : 0) {}

    Pairings Read(std::string_view text) {
        if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        int number = 0;
        while (!text.empty() || number == 0) {
            ++number;
            std::size_t end = text.find('\n');
            std::string_view line = text.substr(0, end);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            Take(number, line);
            if (end == std::string_view::npos) break;
        }
        EndGroup();
        if (problems_) {
            std::stable_sort(
                problems_->begin() + static_cast<std::ptrdiff_t>(firstProblem_), problems_->end(),
                [](const PairingsProblem& a, const PairingsProblem& b) { return a.line < b.line; });
        }
        return std::move(pairings_);
    }

private:
    void Report(int line, std::string what) {
        if (problems_) problems_->push_back({line, std::move(what)});
    }

    void Take(int number, std::string_view line) {
        std::string_view s = TrimBlanks(line);
        if (s.empty()) {
            EndGroup();
            return;
        }
        if (s[0] == '%' || s[0] == ';') return;
        Entry entry = ReadLine(number, s);
        if (!IsValidUtf8(s)) {
            // Ignored, but a Board tag still makes its group a board's.
            entry.ok = false;
            entry.why = "not valid UTF-8";
        }
        group_.push_back(std::move(entry));
    }

    // Adds the tags of the group that ends to the common tags or to its board's.
    void EndGroup() {
        const Entry* board = nullptr;
        for (const Entry& entry : group_) {
            if (entry.namesBoard && !board) {
                board = &entry;
            } else if (!entry.ok) {
                Report(entry.line, entry.why);
            } else if (entry.namesBoard) {
                Report(entry.line, "a second Board tag in this group (the first is at line " +
                                       std::to_string(board->line) + ")");
            }
        }
        if (board) {
            TakeBoardGroup(*board);
        } else {
            for (const Entry& entry : group_) {
                if (!entry.ok) continue;
                if (entry.name == "Result") {
                    Report(entry.line, "Result belongs in a board's group (with [Board \"N\"])");
                    continue;
                }
                Add(entry, &pairings_.common, &commonLines_, "the tags of every board");
            }
        }
        group_.clear();
    }

    void TakeBoardGroup(const Entry& board) {
        const int number = board.ok ? BoardNumber(board.value) : 0;
        if (number == 0) {
            Report(board.line,
                   (board.ok ? "Board must be a number from 1 to " + std::to_string(kMaxBoard)
                             : board.why) +
                       ": the group is ignored");
            return;
        }
        auto given = boardLines_.find(number);
        if (given != boardLines_.end()) {
            Report(board.line, "board " + std::to_string(number) +
                                   " is given again (first at line " +
                                   std::to_string(given->second) + "): the group is ignored");
            return;
        }
        boardLines_[number] = board.line;
        std::vector<TagPair>& tags = pairings_.boards[number];
        std::map<std::string, int> lines;
        for (const Entry& entry : group_) {
            if (!entry.ok || entry.namesBoard) continue;
            if (entry.name == "Result" && !IsResult(entry.value)) {
                Report(entry.line, "Result must be 1-0, 0-1, 1/2-1/2 or *");
                continue;
            }
            Add(entry, &tags, &lines, "this group");
        }
    }

    // Adds entry's tag pair to tags unless its name is there already (lines: where each
    // name was given).
    void Add(const Entry& entry, std::vector<TagPair>* tags, std::map<std::string, int>* lines,
             const char* where) {
        auto [at, added] = lines->emplace(entry.name, entry.line);
        if (!added) {
            Report(entry.line, entry.name + " is given twice in " + where + " (first at line " +
                                   std::to_string(at->second) + "): the later is ignored");
            return;
        }
        tags->push_back({entry.name, entry.value});
    }

    std::vector<PairingsProblem>* problems_;
    std::size_t firstProblem_;  // the first of this reading's problems
    Pairings pairings_;
    std::vector<Entry> group_;
    std::map<std::string, int> commonLines_;  // where each common tag was given
    std::map<int, int> boardLines_;           // where each board's Board tag is
};

}  // namespace

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    auto continuation = [&](std::size_t at, unsigned char low, unsigned char high) {
        return at < n && byte(at) >= low && byte(at) <= high;
    };
    while (i < n) {
        const unsigned char c = byte(i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        // The second byte's range rules out overlong forms, surrogates and code points
        // above U+10FFFF.
        int length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (!continuation(i + 1, low, high)) return false;
        for (int k = 2; k < length; ++k) {
            if (!continuation(i + static_cast<std::size_t>(k), 0x80, 0xBF)) return false;
        }
        i += static_cast<std::size_t>(length);
    }
    return true;
}

Pairings ReadPairings(std::string_view text, std::vector<PairingsProblem>* problems) {
    return PairingsReader(problems).Read(text);
}
