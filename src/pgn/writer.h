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
// Every line ends in CR LF. Values and comments are written byte for byte as stored,
// without escaping. Lines are wrapped before column 80 with a tolerance up to column 89
// (see WriteWrapped). The output column is process-wide: one game is written at a time.
#pragma once

#include <string>

#include "game/partie.h"
#include "platform/platform.h"

// The number of characters already written on the current output line.
int OutputColumn();
void SetOutputColumn(int column);

// The bytes that WritePGN writes for game, gathered in text (replacing what it held) with
// one write per piece as usual, but into memory: a whole game then costs a file one write.
void WriteGameText(CPartie& game, std::string* text);

// Writes one line of moves from first along the continuations, with comments, glyphs and
// the variations of each main move. Answers false when a write failed.
bool WriteMoveText(platform::FileHandle file, CCoup* first);

// Writes piece with line wrapping and keeps the output column. splittable lets the piece
// be broken inside; reserve counts characters that will follow on the same line; skip
// drops leading spaces first. Answers false when a write failed.
bool WriteWrapped(platform::FileHandle file, const char* piece, bool splittable, int reserve,
                  bool skip);

// Searches piece backwards from index start for a place to break it: a space (the break
// is at the space, which is dropped; *atSpace is true) or '(' or '{' (the break is just
// after the bracket). Answers the index of the break, or -1.
int FindBreak(const char* piece, int start, bool* atSpace);

// Writes text of any length as pieces of at most 512 characters, cut at spaces where it
// can be. Answers false when a write failed.
bool WriteLongText(const char* text, platform::FileHandle file, bool splittable);
