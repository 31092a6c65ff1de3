#include "live/publication.h"

#include <memory>
#include <string_view>

#include "chess/rules.h"
#include "chess/san.h"
#include "live/json.h"
#include "pgn/writer.h"

namespace live {
namespace {

// The value of the first tag called name in tags, or null.
const std::string* FindTag(const std::vector<TagPair>& tags, std::string_view name) {
    for (const TagPair& tag : tags) {
        if (tag.name == name) return &tag.value;
    }
    return nullptr;
}

// The field of the Seven Tag Roster that name sets, or null for another tag (Result is
// not a field: it decides the result).
std::optional<std::string>* RosterField(CPartie& game, std::string_view name) {
    if (name == "Event") return &game.Event;
    if (name == "Site") return &game.Site;
    if (name == "Date") return &game.Date;
    if (name == "Round") return &game.Round;
    if (name == "White") return &game.White;
    if (name == "Black") return &game.Black;
    return nullptr;
}

// Applies tags to game; a Result among them goes to *result.
void ApplyTags(CPartie& game, const std::vector<TagPair>& tags, int* result) {
    for (const TagPair& tag : tags) {
        if (std::optional<std::string>* field = RosterField(game, tag.name)) {
            *field = tag.value;
        } else if (tag.name == "Result") {
            // "*" takes an arbiter's result back: the board's own decides again.
            CInfosPartie parsed;
            parsed.SetResultText(tag.value.c_str());
            *result = parsed.result == kResultUnknown ? kNoResult : parsed.result;
        } else {
            game.SetTag(tag.name.c_str(), tag.value.c_str());
        }
    }
}

// The game published for a board: the shown game's tags and main line in a game of its
// own, the round's tags over them.
std::unique_ptr<CPartie> Published(int number, CPartie* shown, const Pairings& pairings,
                                   int* pairingsResult) {
    auto game = std::make_unique<CPartie>();
    CPosition* position = &game->startingPosition;
    if (shown) {
        game->Event = shown->Event;
        game->Site = shown->Site;
        game->Date = shown->Date;
        game->Round = shown->Round;
        game->White = shown->White;
        game->Black = shown->Black;
        for (const CPGNHeader* tag = shown->tags; tag; tag = tag->next)
            game->SetTag(tag->name.c_str(), tag->value.c_str());
        if (shown->startingPosition.setUp) {
            char fen[kFenBufferSize];
            WriteFEN(fen, shown->startingPosition);
            game->startingPosition.SetFromFEN(fen);
        }
        for (const CCoup* move = shown->startingPosition.continuation; move && position;
             move = move->positionAfter->continuation) {
            position = position->Play(move->from, move->to, nullptr, move->promotion);
        }
    }
    const std::string board = std::to_string(number);
    game->SetTag("Board", board.c_str());
    *pairingsResult = kNoResult;
    ApplyTags(*game, pairings.common, pairingsResult);
    if (auto own = pairings.boards.find(number); own != pairings.boards.end()) {
        ApplyTags(*game, own->second, pairingsResult);
    }
    return game;
}

// The position at the end of the game's main line.
CPosition* LastPosition(CPartie& game) {
    CPosition* position = &game.startingPosition;
    while (position->continuation)
        position = position->continuation->positionAfter;
    return position;
}

void AppendField(std::string& json, const char* name, std::string_view value) {
    json += ",\"";
    json += name;
    json += "\":";
    AppendJsonString(json, value);
}

std::string_view ValueOr(const std::optional<std::string>& value, std::string_view fallback) {
    return value ? std::string_view(*value) : fallback;
}

std::string TagValue(const CPartie& game, std::string_view name) {
    for (const CPGNHeader* tag = game.tags; tag; tag = tag->next) {
        if (tag->name == name) return tag->value;
    }
    return "";
}

std::string SquareName(Square square) {
    return {static_cast<char>('a' + FileOf(square)), static_cast<char>('1' + RankOf(square))};
}

}  // namespace

BoardPublication PublishBoard(int number, CPartie* shown, const Pairings& pairings) {
    int result = kNoResult;
    std::unique_ptr<CPartie> game = Published(number, shown, pairings, &result);
    CPosition* last = LastPosition(*game);
    const bool mate = last->lastMove && IsCheckmate(*last);
    if (result == kNoResult) {
        result = mate                 ? (last->side == kBlack ? kResultWhiteWins : kResultBlackWins)
                 : IsStalemate(*last) ? kResultDraw
                                      : kResultUnknown;
    }
    game->result = result;

    BoardPublication publication;
    publication.pgn = GameText(*game, kExportStyle);

    std::string json = "{\"board\":" + std::to_string(number);
    AppendField(json, "white", ValueOr(game->White, "?"));
    AppendField(json, "black", ValueOr(game->Black, "?"));
    AppendField(json, "whiteElo", TagValue(*game, "WhiteElo"));
    AppendField(json, "blackElo", TagValue(*game, "BlackElo"));
    AppendField(json, "result", ResultText(result));
    AppendField(json, "state",
                !shown                     ? "waiting"
                : result == kResultUnknown ? "playing"
                                           : "finished");
    char fen[kFenBufferSize];
    WriteFEN(fen, *last);
    AppendField(json, "fen", fen);
    AppendField(
        json, "lastMove",
        last->lastMove ? SquareName(last->lastMove->from) + SquareName(last->lastMove->to) : "");
    json += ",\"moves\":[";
    for (CCoup* move = game->startingPosition.continuation; move;
         move = move->positionAfter->continuation) {
        char san[kSanBufferSize];
        int length = WriteSAN(san, *move, 0, 0);
        if (mate && move == last->lastMove && length > 0 && san[length - 1] == '+') {
            san[length - 1] = '#';
        }
        if (move != game->startingPosition.continuation) json += ',';
        AppendJsonString(json, san);
    }
    json += "]}";
    publication.event = "event: board\ndata: " + json + "\n\n";
    return publication;
}

std::string RoundEvent(const Pairings& pairings, int boards) {
    std::string json = "{";
    bool first = true;
    for (const char* name : {"Event", "Site", "Date", "Round"}) {
        const std::string* value = FindTag(pairings.common, name);
        std::string key(name);
        key[0] = static_cast<char>(key[0] - 'A' + 'a');
        json += first ? "\"" : ",\"";
        first = false;
        json += key + "\":";
        AppendJsonString(json, value ? *value : std::string("?"));
    }
    json += ",\"boards\":" + std::to_string(boards) + "}";
    return "event: round\ndata: " + json + "\n\n";
}

}  // namespace live
