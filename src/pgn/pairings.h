// The pairings file: the players' names and the round's tags, set by the arbiter.
//
//   % Open A, round 3               a comment: '%' or ';' first on the line
//   [Event "Open A"]                a group without a Board tag: the tags of every board
//   [Site "Paris"]
//   [Round "3"]
//                                   a blank line (or one of spaces) ends a group
//   [Board "1"]                     board 1's tags (Board from 1 to 999)
//   [White "Dupont, Jean"]
//   [Black "Müller, \"Eva\""]       \" and \\ in a value: a quote, a backslash
//   [WhiteElo "2210"]
//   [Result "1-0"]                  1-0, 0-1, 1/2-1/2 or *: an arbiter's result
//
// The file is UTF-8 (a byte order mark at the start is passed over), with LF or CR LF line
// ends. Every other line holds one tag pair: '[', a name as the PGN standard has it (a
// letter, then letters, digits and '_'), the value in double quotes, ']', with spaces
// allowed around them. Values are kept as they are, UTF-8 names included; a value may
// hold no control character, and a backslash only in \" and \\.
//
// A bad line is reported and ignored; the rest stays in force. Bad are: a line that is
// not one tag pair (text after ']' included), a value without its closing quote, bytes
// that are not UTF-8, a Result other than the four or outside a board's group, and a tag
// that its group (or the tags of every board) already has: the first stays. A group whose
// Board tag is bad (not a number from 1 to 999, or not a tag pair) is ignored whole, so
// that its names reach no other board; so is a group for a board that an earlier group
// gave. A second Board tag in a group is a bad line.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

struct TagPair {
    std::string name;
    std::string value;  // unescaped

    friend bool operator==(const TagPair&, const TagPair&) = default;
};

struct Pairings {
    std::vector<TagPair> common;                 // the group(s) without a Board tag
    std::map<int, std::vector<TagPair>> boards;  // board N's tags, Board itself left out

    // A file read again after a change may give what was read before.
    friend bool operator==(const Pairings&, const Pairings&) = default;
};

// What is wrong with a line of the file. The caller prints "pgnlive: FILE:LINE: WHAT".
struct PairingsProblem {
    int line;          // from 1
    std::string what;  // e.g. "not a tag pair: [Name \"value\"] expected"
};

// The boards' numbers run from 1 to this.
constexpr int kMaxBoard = 999;

// Reads the text of a pairings file; its bad lines go to problems (when given), in the
// order of their lines.
Pairings ReadPairings(std::string_view text, std::vector<PairingsProblem>* problems);

// Is text valid UTF-8 (no overlong form, no surrogate, nothing above U+10FFFF)?
bool IsValidUtf8(std::string_view text);
