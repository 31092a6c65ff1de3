// The PGN reader: every game of a PGN text rebuilt as a CPartie, in the import format of
// the PGN standard.
//
//   [Event "Open A"]              tag pairs: a name (a letter or digit, then letters,
//   [White "Dupont, \"Jo\""]      digits and '_') and a quoted value (\" and \\ escape
//   [SetUp "1"]                   a quote and a backslash); the start set up from FEN text
//   [FEN "8/8/4k3/8/8/8/4P3/4K3 w - - 0 40"]
//
//   {game comment} 40. e4 $1 (40. Kd2 {a comment} 40... Kd5 ; to the line's end
//   41. Ke3) 40... Kd6 41. e5+ Kxe5 1/2-1/2
//
// Tokens may be separated by any white space, line breaks included; move numbers ("12."
// "12...", or bare) are read over. SAN moves: a piece letter (none for a pawn), the file
// and rank hints, 'x', the target square, "=Q" (or a bare "Q" for a pawn), '+' or '#';
// castling "O-O" and "O-O-O", also with zeros. Annotations: "!" "?" "!!" "??" "!?" "?!"
// (codes 1 to 6) and NAGs $0 to $255; the first of a move goes to its annotation code, the
// second to its position's glyph, later ones (and $0, the null annotation) are dropped. Comments,
// {...} and ';' to the line's end, go to the position after the move they follow (the starting
// position's comment before the first move; a comment before the first move of a variation goes to
// that move); two comments at one place are joined with a space. Variations nest to a
// depth of 64. The termination marker (1-0, 0-1, 1/2-1/2, *) gives the result, whatever
// the Result tag said. A line starting with '%' is passed over, and so is a UTF-8 byte
// order mark at the start. Bytes other than these tokens' are refused, except inside
// comments and tag values, which are kept as they are (no check of their encoding).
//
// The writer (pgn/writer.h) breaks a long tag value or comment across lines; a line break
// inside one reads as the space it replaced, or as nothing where the writer puts one
// without taking a space: at the value's start or end, just after '(' or '{', and right
// after another line break. So a game as the writer wrote it reads back to the same game.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "game/partie.h"

// A game of PGN text that could not be read: the line (from 1) where it starts, and why
// (e.g. "move 12... Nf3 is not legal", "no termination marker"); a fault on a later line
// than the game's first names its line too.
struct PgnProblem {
    int line;
    std::string what;
};

// Reads every game of text, in order. Each game is rebuilt as a CPartie: the Seven Tag
// Roster through its setters, other tags with SetTag, a SetUp/FEN start with SetFromFEN,
// every move through CPosition::Play (variations as alternatives, comments and NAGs on
// their positions), the result from the termination marker. A game joins the answer only
// when it is whole (its termination marker was read) and every move in it is legal and
// unambiguous; otherwise its problem goes to problems (when given) and reading goes on at
// the next game: the next tag pair after an empty line, or after the failed game's
// movetext.
//
// A game costs about 1 KB and each move about 250 bytes more: a text of nothing but
// termination markers, or of one long game, costs some hundred times its size.
std::vector<std::unique_ptr<CPartie>> ReadPgnGames(std::string_view text,
                                                   std::vector<PgnProblem>* problems = nullptr);

// The same, handing each game to take as soon as it is read, in order: a caller that keeps
// only some of them needs memory for the game being read and the games it keeps.
void ForEachPgnGame(std::string_view text,
                    const std::function<void(std::unique_ptr<CPartie>)>& take,
                    std::vector<PgnProblem>* problems = nullptr);
