// The PGN writer: a game grown from the fuzzer's bytes (moves played with Play, with
// alternatives, take-backs, comments, glyphs and annotation codes; the roster, result,
// correspondence and further tags; a start set up from FEN text), written by WritePGN and
// indexed back by CFichier::Open, and rendered in the broadcast styles too.
//
// Input: a flags byte (bit 0: set the start up from a FEN text that follows, up to a
// length byte), then operations, one byte each followed by its operands (see Grow).
//
// The property checked, besides what the sanitizers catch: the index of the written file
// holds the game exactly as written. With a result code of 0 to 3 it finds one game,
// starting at offset 0, with White, Black, Event, Site, Round and Date as written (the
// field's value, or "?" and "????.??.??" for none) and the same result code; a game set
// up from FEN text has the preview "(Position)". With any other result code the file has
// no Result tag, and the index finds no game. The file holds exactly GameText's text. The
// styles change only what they name: marking mates turns some '+' into '#', one for one
// (the wrapping cannot move), and escaping changes nothing when no tag value holds '\' or
// '"'.
//
// The property is exact because of how the texts are chosen: roster values come from a
// safe alphabet (printable ASCII without the double quote) and are at most 60 bytes, so
// that each roster tag stays whole on its own line; no other text (further tags, the
// correspondence tags, comments) holds a '[' or a NUL, so that no line but a tag line of
// the writer can begin with '[', and no tag name can be one the index reads (further tag
// names begin with 'x'). Further tag values, correspondence values and comments may hold
// any other byte, line ends included, and be long enough to be wrapped or cut.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "game/partie.h"
#include "pgn/fichier.h"
#include "pgn/writer.h"
#include "support.h"

namespace {

constexpr int kMaxOperations = 256;
constexpr std::size_t kMaxRosterValue = 60;
constexpr std::int32_t kResults[] = {0, 1, 2, 3, kNoResult, 4, 255, -7};

std::string pgnPath;

bool RosterByte(std::uint8_t byte) {
    return byte >= 0x20 && byte < 0x7F && byte != '"';
}
bool FreeByte(std::uint8_t byte) {
    return byte != '[' && byte != 0;
}
bool FenByte(std::uint8_t byte) {
    return byte != 0;
}

// A square with a piece of the side to move, searched from the square the byte names;
// then a target square, searched likewise, that Play accepts. Answers the position
// reached, or null when the search found no legal move.
CPosition* PlayFrom(CPosition* position, std::uint8_t fromByte, std::uint8_t toByte,
                    bool alternative, std::uint8_t promotion) {
    int tried = 0;
    for (int f = 0; f < 64 && tried < 4; ++f) {
        Square from = static_cast<Square>((fromByte + f) % 64);
        Piece piece = position->board[from];
        if (piece == kEmpty || SideOf(piece) != position->side) continue;
        ++tried;
        for (int t = 0; t < 64; ++t) {
            Square to = static_cast<Square>((toByte + t) % 64);
            CCoup* replaced = alternative ? nullptr : position->continuation;
            if (CPosition* next = position->Play(from, to, replaced, promotion)) return next;
        }
    }
    return nullptr;
}

std::optional<std::string>* RosterField(CPartie& game, std::uint8_t which) {
    switch (which % 6) {
        case 0:
            return &game.White;
        case 1:
            return &game.Black;
        case 2:
            return &game.Event;
        case 3:
            return &game.Site;
        case 4:
            return &game.Round;
        default:
            return &game.Date;
    }
}

// The operations, one byte each (its value modulo 12), with their operands:
//   0-3  play a move (from byte, to byte, control byte: bit 0 as an alternative, bits 1-3
//        the promotion piece) and go on from it
//   4    take back: go to the position before the current one
//   5    comment behind the current position's move (length byte, text)
//   6    glyph of the current position's move (byte) and annotation code (byte)
//   7    a roster field (which byte; length byte; bit 7 of the length: none)
//   8    the result code (byte, from a table)
//   9    a further tag (length byte, name; length byte, value)
//   10   correspondence: WhiteEmail, BlackEmail, LastMoveDate (which byte, length byte,
//        text; bit 7 of the length: none), LastMove and Trait (two bytes each)
//   11   the game comment (length byte, text; bit 7 of the length: none)
void Grow(CPartie& game, ByteReader& in) {
    CPosition* current = &game.startingPosition;
    for (int operation = 0; operation < kMaxOperations && !in.Empty(); ++operation) {
        switch (in.Byte() % 12) {
            case 0:
            case 1:
            case 2:
            case 3: {
                std::uint8_t from = in.Byte();
                std::uint8_t to = in.Byte();
                std::uint8_t control = in.Byte();
                constexpr std::uint8_t kKinds[] = {0, kRook, kKnight, kBishop, kQueen, 0, 0, 0};
                CPosition* next =
                    PlayFrom(current, from, to, control & 1, kKinds[(control >> 1) & 7]);
                if (next) current = next;
                break;
            }
            case 4:
                if (current->lastMove) current = current->lastMove->positionBefore;
                break;
            case 5:
                current->comment = in.Text(in.Byte(), FreeByte, ' ');
                break;
            case 6:
                current->glyph = in.Byte();
                if (current->lastMove) current->lastMove->annotation = in.Byte();
                break;
            case 7: {
                std::optional<std::string>* field = RosterField(game, in.Byte());
                std::uint8_t length = in.Byte();
                if (length & 0x80) {
                    field->reset();
                } else {
                    *field = in.Text(length % (kMaxRosterValue + 1), RosterByte, '_');
                }
                break;
            }
            case 8:
                game.result = kResults[in.Byte() % 8];
                break;
            case 9: {
                std::string name = "x" + in.Text(in.Byte() % 32, FreeByte, '_');
                std::string value = in.Text(in.Byte(), FreeByte, ' ');
                game.SetTag(name.c_str(), value.c_str());
                break;
            }
            case 10: {
                std::uint8_t which = in.Byte() % 3;
                std::optional<std::string>& field =
                    which == 0 ? game.WhiteEmail
                               : (which == 1 ? game.BlackEmail : game.LastMoveDate);
                std::uint8_t length = in.Byte();
                if (length & 0x80) {
                    field.reset();
                } else {
                    field = in.Text(length, FreeByte, ' ');
                }
                std::uint8_t low = in.Byte();
                game.LastMove = static_cast<std::int16_t>(low | in.Byte() << 8);
                low = in.Byte();
                game.Trait = static_cast<std::uint16_t>(low | in.Byte() << 8);
                break;
            }
            default: {
                std::uint8_t length = in.Byte();
                if (length & 0x80) {
                    game.startingPosition.comment.reset();
                } else {
                    game.startingPosition.comment = in.Text(length * 4, FreeByte, ' ');
                }
                break;
            }
        }
    }
}

// Whether a value holds a character that escaping changes.
bool Escapable(const std::optional<std::string>& value) {
    return value && value->find_first_of("\\\"") != std::string::npos;
}

bool HasEscapableValue(const CPartie& game) {
    for (const std::optional<std::string>* value :
         {&game.White, &game.Black, &game.Event, &game.Site, &game.Round, &game.Date,
          &game.WhiteEmail, &game.BlackEmail, &game.LastMoveDate}) {
        if (Escapable(*value)) return true;
    }
    for (const CPGNHeader* node = game.tags; node; node = node->next) {
        if (Escapable(node->value)) return true;
    }
    return false;
}

// What the index must give back for a roster field.
std::string Written(const std::optional<std::string>& value, const char* fallback) {
    return value ? *value : fallback;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pgnPath = ScratchFile("written.pgn");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    CPartie game;
    std::uint8_t flags = in.Byte();
    if (flags & 1) {
        std::string fen = in.Text(in.Byte(), FenByte, ' ');
        game.startingPosition.SetFromFEN(fen.c_str());
    }
    Grow(game, in);

    platform::FileHandle file =
        platform::OpenFile(pgnPath.c_str(), platform::kWrite, platform::Share::kNone,
                           platform::Disposition::kCreateAlways);
    FUZZ_CHECK(file.IsValid());
    FUZZ_CHECK(game.WritePGN(file));
    FUZZ_CHECK(platform::CloseFile(file));
    const std::string text = GameText(game);
    FUZZ_CHECK(ReadWholeFile(pgnPath) == text);

    const std::string mates = GameText(game, {.mateSign = true});
    FUZZ_CHECK(mates.size() == text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        FUZZ_CHECK(mates[i] == text[i] || (mates[i] == '#' && text[i] == '+'));
    const std::string escaped = GameText(game, {.escapeValues = true});
    if (!HasEscapableValue(game)) FUZZ_CHECK(escaped == text);

    CFichier index(pgnPath.c_str());
    FUZZ_CHECK(index.Open() == 1);
    if (game.result < 0 || game.result > 3) {
        FUZZ_CHECK(index.gameCount == 0 && index.head == nullptr);
        return 0;
    }
    FUZZ_CHECK(index.gameCount == 1 && index.head && index.head == index.tail);
    const CInfosPartie2& found = *index.head;
    FUZZ_CHECK(found.startOffset == 0);
    FUZZ_CHECK(found.White == Written(game.White, "?"));
    FUZZ_CHECK(found.Black == Written(game.Black, "?"));
    FUZZ_CHECK(found.Event == Written(game.Event, "?"));
    FUZZ_CHECK(found.Site == Written(game.Site, "?"));
    FUZZ_CHECK(found.Round == Written(game.Round, "?"));
    FUZZ_CHECK(found.Date == Written(game.Date, "????.??.??"));
    FUZZ_CHECK(found.result == game.result);
    if (game.startingPosition.setUp) FUZZ_CHECK(found.preview == "(Position)");
    return 0;
}
