#include "pgn/writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "chess/rules.h"
#include "chess/san.h"
#include "platform/platform.h"

namespace {

// Lines end before this column...
constexpr int kLineEnd = 80;
// ...or, for a piece that is long or of one or two characters, before this one.
constexpr int kTolerance = 90;
// A text is written as pieces of at most this many characters.
constexpr std::size_t kLongPiece = 512;

void Put(PgnText& out, const char* data, std::size_t size) {
    out.text.append(data, size);
}

// A piece with the defaults: splittable, nothing reserved, leading spaces kept.
void WritePiece(PgnText& out, const char* piece) {
    WriteWrapped(out, piece, true, 0, false);
}

// A tag value: as stored, or with '\' and '"' escaped by a backslash.
std::string Value(const char* value, const PgnStyle& style) {
    if (!style.escapeValues) return value;
    std::string escaped;
    for (const char* c = value; *c; ++c) {
        if (*c == '\\' || *c == '"') escaped += '\\';
        escaped += *c;
    }
    return escaped;
}

// A tag pair: the opening ("[Name \""), the value, and its end. Wrapped like any other text,
// or, in the export style, a line of its own whatever its length.
void TagPair(PgnText& out, const char* opening, const char* value, const PgnStyle& style) {
    const std::string text = Value(value, style);
    if (style.wholeTagLines) {
        const std::string line = opening + text + "\"]\r\n";
        Put(out, line.data(), line.size());
        out.column = 0;
        return;
    }
    WritePiece(out, opening);
    WritePiece(out, text.c_str());
    WritePiece(out, "\"]\r\n");
}

void Tag(PgnText& out, const char* opening, const std::optional<std::string>& value,
         const char* fallback, const PgnStyle& style) {
    TagPair(out, opening, value ? value->c_str() : fallback, style);
}

}  // namespace

int FindBreak(const char* piece, int start, bool* atSpace) {
    int length = static_cast<int>(std::strlen(piece));
    if (start > length - 1) start = length - 1;
    for (int i = start; i >= 0; --i) {
        if (piece[i] == ' ') {
            *atSpace = true;
            return i;
        }
        if (piece[i] == '(' || piece[i] == '{') {
            *atSpace = false;
            return i + 1;
        }
    }
    *atSpace = false;
    return -1;
}

// The writer keeps lines before column 80:
//  - A piece fits when column + length + reserve < 80, or < 90 when the piece and its
//    reserve are longer than 10 characters or the piece has at most 2 (a closing ")" or
//    "}" stays on its line). A piece that fits is written as it is.
//  - A piece that does not fit, has nothing reserved and is splittable (or at least 80
//    characters long) is broken at the last space, '(' or '{' before the line end; the
//    rest goes on the next line without its leading spaces. Without a break point in
//    range the piece starts a new line, and is broken there if it can be; a piece is
//    retried like this only once.
//  - Any other piece that does not fit starts a new line.
// The tail of a broken piece is handled by the same loop, not by recursion.
void WriteWrapped(PgnText& out, const char* piece, bool splittable, int reserve, bool skip) {
    bool retried = false;
    for (;;) {
        if (skip) {
            while (*piece == ' ')
                ++piece;
        }
        const int length = static_cast<int>(std::strlen(piece));
        const int total = out.column + length + reserve;
        const bool fits =
            total < kLineEnd || (total < kTolerance && (length + reserve > 10 || length <= 2));
        if (fits) {
            Put(out, piece, length);
            const char* lineBreak = std::strpbrk(piece, "\r\n");
            if (lineBreak) {
                // Counts CR LF as one break of two characters.
                out.column = static_cast<int>(piece + length - lineBreak) - 2;
            } else {
                out.column += length;
            }
            return;
        }

        bool atSpace = false;
        if (reserve == 0 && (splittable || length >= kLineEnd)) {
            int start = (splittable ? kLineEnd - 1 : kLineEnd - 2) - out.column;
            int at = start >= 0 ? FindBreak(piece, start, &atSpace) : -1;
            if (at >= 0) {
                Put(out, piece, at);
                Put(out, "\r\n", 2);
                out.column = 0;
                piece += at + (atSpace ? 1 : 0);
                splittable = true;
                reserve = 0;
                skip = true;
                retried = false;
                continue;
            }
            if (!retried) {
                Put(out, "\r\n", 2);
                out.column = 0;
                if (FindBreak(piece, length - 1, &atSpace) >= 0) {
                    retried = true;
                    splittable = true;
                    skip = true;
                    continue;
                }
            }
            // Written whole after the line break.
            Put(out, piece, length);
            out.column += length;
            return;
        }

        Put(out, "\r\n", 2);
        out.column = 0;
        if (FindBreak(piece, length - 1, &atSpace) >= 0) {
            splittable = true;
            reserve = 0;
            skip = true;
            continue;
        }
        Put(out, piece, length);
        out.column += length;
        if (out.column >= kLineEnd) {
            Put(out, "\r\n", 2);
            out.column = 0;
        }
        return;
    }
}

void WriteLongText(const char* text, PgnText& out, bool splittable) {
    char piece[kLongPiece + 1];
    std::size_t remaining = std::strlen(text);
    while (remaining > kLongPiece) {
        std::size_t cut = kLongPiece - 1;
        for (std::size_t i = kLongPiece - 1; i >= 1; --i) {
            if (text[i] == ' ') {
                cut = i;  // the space begins the next piece
                break;
            }
        }
        std::memcpy(piece, text, cut);
        piece[cut] = '\0';
        WriteWrapped(out, piece, splittable, 0, false);
        text += cut;
        remaining -= cut;
    }
    WriteWrapped(out, text, splittable, 0, false);
}

// A line of moves. A White move always shows its number; a Black move shows it (with
// three dots) only as the first move of a line or after a comment or variations. The
// variations of a main move follow it, each in parentheses, and nest to any depth: the
// lines still open are kept on a stack of their own, not on the call stack.
void WriteMoveText(PgnText& out, CCoup* first, const PgnStyle& style) {
    struct Line {
        CCoup* first;
        CCoup* move;         // the move to write next, null at the end of the line
        CCoup* alternative;  // the variation being written after move, if any
        bool number;         // whether the next move shows its number
    };
    std::vector<Line> lines;
    lines.push_back({first, first, nullptr, true});
    while (!lines.empty()) {
        Line& line = lines.back();
        if (!line.move) {
            lines.pop_back();
            if (lines.empty()) break;
            WritePiece(out, ")");
            Line& parent = lines.back();
            parent.alternative = parent.alternative->nextAlternative;
            if (parent.alternative) {
                WritePiece(out, " (");
                lines.push_back({parent.alternative, parent.alternative, nullptr, true});
            } else {
                parent.number = true;
                parent.move = parent.move->positionAfter->continuation;
            }
            continue;
        }

        CCoup* move = line.move;
        CPosition* after = move->positionAfter;
        char token[64];
        int length = 0;
        if (move != line.first) token[length++] = ' ';
        length += WriteSAN(token + length, *move, line.number ? 1 : 0, 1);
        // WriteSAN's only '+' is the check sign.
        if (style.mateSign && move->check) {
            char* sign = std::strchr(token, '+');
            if (sign && IsCheckmate(*after)) *sign = '#';
        }
        if (after->glyph != 0)
            std::snprintf(token + length, sizeof token - length, " $%d", after->glyph);
        const std::optional<std::string>& comment = after->comment;
        int reserve = comment ? static_cast<int>(comment->size()) + 3 : 0;
        WriteWrapped(out, token, false, reserve, false);
        if (comment) {
            WritePiece(out, " {");
            WriteLongText(comment->c_str(), out, true);
            WritePiece(out, "}");
        }
        if (!move->previousAlternative && move->nextAlternative) {
            line.alternative = move->nextAlternative;
            WritePiece(out, " (");
            lines.push_back({line.alternative, line.alternative, nullptr, true});
            continue;  // line is not to be used past here: the push may move it
        }
        line.number = IsBlack(move->positionBefore->board[move->from]) || comment.has_value();
        line.move = after->continuation;
    }
}

void WriteGameText(CPartie& game, PgnText& out, const PgnStyle& style) {
    out.column = 0;
    Tag(out, "[Event \"", game.Event, "?", style);
    Tag(out, "[Site \"", game.Site, "?", style);
    Tag(out, "[Date \"", game.Date, "????.??.??", style);
    Tag(out, "[Round \"", game.Round, "?", style);
    Tag(out, "[White \"", game.White, "?", style);
    Tag(out, "[Black \"", game.Black, "?", style);
    const char* resultText = ResultText(game.result);
    if (resultText) {
        char tag[32];
        std::snprintf(tag, sizeof tag, "[Result \"%s\"]\r\n", resultText);
        WritePiece(out, tag);
    }

    const CPosition& start = game.startingPosition;
    if (start.setUp) {
        WritePiece(out, "[SetUp \"1\"]\r\n");
        char fen[kFenBufferSize];
        WriteFEN(fen, start);
        if (style.wholeTagLines) {
            TagPair(out, "[FEN \"", fen, style);
        } else {
            char line[128];
            std::snprintf(line, sizeof line, "[FEN \"%s\"]\r\n", fen);
            WriteWrapped(out, line, false, 0, false);
        }
    }

    if (game.WhiteEmail) {
        char lastMove[16];
        std::snprintf(lastMove, sizeof lastMove, "%d", game.LastMove);
        Tag(out, "[WhiteEmail \"", game.WhiteEmail, "?", style);
        Tag(out, "[BlackEmail \"", game.BlackEmail, "?", style);
        Tag(out, "[LastMoveDate \"", game.LastMoveDate, "?", style);
        Tag(out, "[LastMove \"", std::string(lastMove), "?", style);
        Tag(out, "[Trait \"", std::string(game.Trait == 0 ? "White" : "Black"), "?", style);
    }

    for (CPGNHeader* node = game.tags; node; node = node->next) {
        if (style.wholeTagLines) {
            TagPair(out, ("[" + node->name + " \"").c_str(), node->value.c_str(), style);
            continue;
        }
        WritePiece(out, "[");
        WritePiece(out, node->name.c_str());
        WritePiece(out, " \"");
        WritePiece(out, Value(node->value.c_str(), style).c_str());
        WritePiece(out, "\"]\r\n");
    }
    WritePiece(out, "\r\n");

    if (start.comment) {
        WritePiece(out, " {");
        WriteLongText(start.comment->c_str(), out, false);
        WritePiece(out, "}");
    }
    if (start.continuation) WriteMoveText(out, start.continuation, style);
    if (resultText) {
        // The termination marker is one piece, for the wrapping.
        char marker[16];
        std::snprintf(marker, sizeof marker, " %s", resultText);
        WritePiece(out, marker);
    }

    out.column = 0;
    WritePiece(out, "\r\n\r\n");
}

std::string GameText(CPartie& game, const PgnStyle& style) {
    PgnText out;
    WriteGameText(game, out, style);
    return std::move(out.text);
}

bool CPartie::WritePGN(platform::FileHandle file) {
    const std::string text = GameText(*this);
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    const auto size = static_cast<std::uint32_t>(text.size());
    std::uint32_t written = 0;
    return platform::WriteFile(file, text.data(), size, &written) && written == size;
}
