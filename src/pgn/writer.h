// The PGN writer: a game as PGN text in the export layout of the PGN standard.
//
//   [Event "?"]                      the Seven Tag Roster, in this order; a field that
//   [Site "?"]                       holds no string is written "?" ("????.??.??" for
//   [Date "????.??.??"]              the Date); no Result tag without a result
//   [Round "?"]
//   [White "White"]
//   [Black "Black"]
//   [Result "*"]
//   [SetUp "1"]                      for a game set up from FEN text, with its FEN
//   [FEN "..."]
//   [WhiteEmail "..."] ...           the five correspondence tags, when WhiteEmail is set
//   [Name "value"]                   the further tags, in list order
//                                    an empty line
//   {game comment} 1. e4 {comment} 1... e5 $1 (1... c5 2. Nf3) 2. Nf3 *
//                                    the termination marker, then an empty line
//
// Every line ends in CR LF. Lines are wrapped before column 80 with a tolerance up to
// column 89 (see WriteWrapped). The writer renders into a text held by its caller, so any
// number of games may be rendered at once; writing to a file is rendering, then one write
// (CPartie::WritePGN).
#pragma once

#include <string>

#include "game/partie.h"

// Where the writer renders a game: the text so far and the output column (the characters
// already on its last line).
struct PgnText {
    std::string text;
    int column = 0;
};

// How a game is written. The recorder's own files use the defaults: values and comments
// byte for byte as stored, a check and a mate both marked '+', tag pairs wrapped like the
// move text. A broadcast of live games marks a mate with '#' instead of '+', escapes '\'
// and '"' inside tag values ("\\" and "\""), and writes each tag pair on a line of its own
// however long, as the PGN standard's export format asks.
struct PgnStyle {
    bool mateSign = false;
    bool escapeValues = false;
    bool wholeTagLines = false;
};

// The broadcast's style.
constexpr PgnStyle kExportStyle{true, true, true};

// Appends the game's whole PGN, as WritePGN writes it, to out (the column starts at 0).
void WriteGameText(CPartie& game, PgnText& out, const PgnStyle& style = {});
// The same, as a new text.
std::string GameText(CPartie& game, const PgnStyle& style = {});

// Appends one line of moves from first along the continuations, with comments, glyphs
// and the variations of each main move.
void WriteMoveText(PgnText& out, CCoup* first, const PgnStyle& style = {});

// Appends piece with line wrapping and keeps the output column. splittable lets the piece
// be broken inside; reserve counts characters that will follow on the same line; skip
// drops leading spaces first.
void WriteWrapped(PgnText& out, const char* piece, bool splittable, int reserve, bool skip);

// Searches piece backwards from index start for a place to break it: a space (the break
// is at the space, which is dropped; *atSpace is true) or '(' or '{' (the break is just
// after the bracket). Answers the index of the break, or -1.
int FindBreak(const char* piece, int start, bool* atSpace);

// Appends text of any length as pieces of at most 512 characters, cut at spaces where it
// can be.
void WriteLongText(const char* text, PgnText& out, bool splittable);
