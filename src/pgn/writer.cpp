#include "pgn/writer.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "chess/san.h"

namespace {

// Lines end before this column...
constexpr int kLineEnd = 80;
// ...or, for a piece that is long or of one or two characters, before this one.
constexpr int kTolerance = 90;
// A text is written as pieces of at most this many characters.
constexpr std::size_t kLongPiece = 512;

int outputColumn = 0;

// While WriteGameText runs: where the text goes instead of a file.
std::string* gathered = nullptr;

bool Put(platform::FileHandle file, const char* data, std::size_t size) {
    if (size == 0) return true;
    if (gathered) {
        gathered->append(data, size);
        return true;
    }
    std::uint32_t written = 0;
    return platform::WriteFile(file, data, static_cast<std::uint32_t>(size), &written) &&
           written == size;
}

// A piece with the defaults: splittable, nothing reserved, leading spaces kept.
bool WritePiece(platform::FileHandle file, const char* piece) {
    return WriteWrapped(file, piece, true, 0, false);
}

bool Tag(platform::FileHandle file, const char* opening, const std::optional<std::string>& value,
         const char* fallback) {
    return WritePiece(file, opening) && WritePiece(file, value ? value->c_str() : fallback) &&
           WritePiece(file, "\"]\r\n");
}

}  // namespace

int OutputColumn() {
    return outputColumn;
}

void SetOutputColumn(int column) {
    outputColumn = column;
}

void WriteGameText(CPartie& game, std::string* text) {
    text->clear();
    gathered = text;
    game.WritePGN(platform::FileHandle{});
    gathered = nullptr;
}

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
bool WriteWrapped(platform::FileHandle file, const char* piece, bool splittable, int reserve,
                  bool skip) {
    bool retried = false;
    for (;;) {
        if (skip) {
            while (*piece == ' ')
                ++piece;
        }
        const int length = static_cast<int>(std::strlen(piece));
        const int total = outputColumn + length + reserve;
        const bool fits =
            total < kLineEnd || (total < kTolerance && (length + reserve > 10 || length <= 2));
        if (fits) {
            if (!Put(file, piece, length)) return false;
            const char* lineBreak = std::strpbrk(piece, "\r\n");
            if (lineBreak) {
                // Counts CR LF as one break of two characters.
                outputColumn = static_cast<int>(piece + length - lineBreak) - 2;
            } else {
                outputColumn += length;
            }
            return true;
        }

        bool atSpace = false;
        if (reserve == 0 && (splittable || length >= kLineEnd)) {
            int start = (splittable ? kLineEnd - 1 : kLineEnd - 2) - outputColumn;
            int at = start >= 0 ? FindBreak(piece, start, &atSpace) : -1;
            if (at >= 0) {
                if (!Put(file, piece, at) || !Put(file, "\r\n", 2)) return false;
                outputColumn = 0;
                piece += at + (atSpace ? 1 : 0);
                splittable = true;
                reserve = 0;
                skip = true;
                retried = false;
                continue;
            }
            if (!retried) {
                if (!Put(file, "\r\n", 2)) return false;
                outputColumn = 0;
                if (FindBreak(piece, length - 1, &atSpace) >= 0) {
                    retried = true;
                    splittable = true;
                    skip = true;
                    continue;
                }
            }
            // Written whole after the line break.
            if (!Put(file, piece, length)) return false;
            outputColumn += length;
            return true;
        }

        if (!Put(file, "\r\n", 2)) return false;
        outputColumn = 0;
        if (FindBreak(piece, length - 1, &atSpace) >= 0) {
            splittable = true;
            reserve = 0;
            skip = true;
            continue;
        }
        if (!Put(file, piece, length)) return false;
        outputColumn += length;
        if (outputColumn >= kLineEnd) {
            if (!Put(file, "\r\n", 2)) return false;
            outputColumn = 0;
        }
        return true;
    }
}

bool WriteLongText(const char* text, platform::FileHandle file, bool splittable) {
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
        if (!WriteWrapped(file, piece, splittable, 0, false)) return false;
        text += cut;
        remaining -= cut;
    }
    return WriteWrapped(file, text, splittable, 0, false);
}

// A line of moves. A White move always shows its number; a Black move shows it (with
// three dots) only as the first move of a line or after a comment or variations. The
// variations of a main move follow it, each in parentheses, and nest to any depth: the
// lines still open are kept on a stack of their own, not on the call stack.
bool WriteMoveText(platform::FileHandle file, CCoup* first) {
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
            if (!WritePiece(file, ")")) return false;
            Line& parent = lines.back();
            parent.alternative = parent.alternative->nextAlternative;
            if (parent.alternative) {
                if (!WritePiece(file, " (")) return false;
                lines.push_back({parent.alternative, parent.alternative, nullptr, true});
            } else {
                parent.number = true;
                parent.move = parent.move->positionAfter->continuation;
            }
            continue;
        }

        CCoup* move = line.move;
        const CPosition* after = move->positionAfter;
        char token[64];
        int length = 0;
        if (move != line.first) token[length++] = ' ';
        length += WriteSAN(token + length, *move, line.number ? 1 : 0, 1);
        if (after->glyph != 0)
            std::snprintf(token + length, sizeof token - length, " $%d", after->glyph);
        const std::optional<std::string>& comment = after->comment;
        int reserve = comment ? static_cast<int>(comment->size()) + 3 : 0;
        if (!WriteWrapped(file, token, false, reserve, false)) return false;
        if (comment) {
            if (!WritePiece(file, " {") || !WriteLongText(comment->c_str(), file, true) ||
                !WritePiece(file, "}"))
                return false;
        }
        if (!move->previousAlternative && move->nextAlternative) {
            line.alternative = move->nextAlternative;
            if (!WritePiece(file, " (")) return false;
            lines.push_back({line.alternative, line.alternative, nullptr, true});
            continue;  // line is not to be used past here: the push may move it
        }
        line.number = IsBlack(move->positionBefore->board[move->from]) || comment.has_value();
        line.move = after->continuation;
    }
    return true;
}

bool CPartie::WritePGN(platform::FileHandle file) {
    outputColumn = 0;
    if (!Tag(file, "[Event \"", Event, "?") || !Tag(file, "[Site \"", Site, "?") ||
        !Tag(file, "[Date \"", Date, "????.??.??") || !Tag(file, "[Round \"", Round, "?") ||
        !Tag(file, "[White \"", White, "?") || !Tag(file, "[Black \"", Black, "?"))
        return false;
    const char* resultText = ResultText(result);
    if (resultText) {
        char tag[32];
        std::snprintf(tag, sizeof tag, "[Result \"%s\"]\r\n", resultText);
        if (!WritePiece(file, tag)) return false;
    }

    if (startingPosition.setUp) {
        if (!WritePiece(file, "[SetUp \"1\"]\r\n")) return false;
        char fen[kFenBufferSize];
        WriteFEN(fen, startingPosition);
        char line[128];
        std::snprintf(line, sizeof line, "[FEN \"%s\"]\r\n", fen);
        if (!WriteWrapped(file, line, false, 0, false)) return false;
    }

    if (WhiteEmail) {
        char lastMove[16];
        std::snprintf(lastMove, sizeof lastMove, "%d", LastMove);
        if (!Tag(file, "[WhiteEmail \"", WhiteEmail, "?") ||
            !Tag(file, "[BlackEmail \"", BlackEmail, "?") ||
            !Tag(file, "[LastMoveDate \"", LastMoveDate, "?") ||
            !Tag(file, "[LastMove \"", std::string(lastMove), "?") ||
            !Tag(file, "[Trait \"", std::string(Trait == 0 ? "White" : "Black"), "?"))
            return false;
    }

    for (CPGNHeader* node = tags; node; node = node->next) {
        if (!WritePiece(file, "[") || !WritePiece(file, node->name.c_str()) ||
            !WritePiece(file, " \"") || !WritePiece(file, node->value.c_str()) ||
            !WritePiece(file, "\"]\r\n"))
            return false;
    }
    if (!WritePiece(file, "\r\n")) return false;

    if (startingPosition.comment) {
        if (!WritePiece(file, " {") ||
            !WriteLongText(startingPosition.comment->c_str(), file, false) ||
            !WritePiece(file, "}"))
            return false;
    }
    if (startingPosition.continuation && !WriteMoveText(file, startingPosition.continuation))
        return false;
    if (resultText) {
        // The termination marker is one piece, for the wrapping.
        char marker[16];
        std::snprintf(marker, sizeof marker, " %s", resultText);
        if (!WritePiece(file, marker)) return false;
    }

    outputColumn = 0;
    return WritePiece(file, "\r\n\r\n");
}
