// The PGN reader: any bytes, read as the PGN text that pgnlive reads.
//
// The property checked, besides what the sanitizers catch: every game read, written by the
// writer and read again, is one game without a problem, with the same moves, variations,
// annotations and comments, whose text written again is the same bytes. It is checked for
// the games whose tag values and comments hold only what the writer carries through: the
// writer puts them out byte for byte, without escaping, so a quote or a backslash in a
// value and a '}' in a comment end them early; and it breaks them across lines at a space
// (which the reader gives back) or without taking one after '(' and '{' and at their ends,
// so a value with a leading, trailing or doubled space, or a space after a bracket, may
// lose one; and it cuts a word of 511 bytes or more in a comment, where the reader then
// finds a space. Every other game is written and read again too, for the sanitizers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "chess/position.h"
#include "pgn/reader.h"
#include "pgn/writer.h"
#include "support.h"

namespace {

bool Carried(std::string_view text, char closer) {
    if (text.find(closer) != std::string_view::npos) return false;
    if (closer == '"' && text.find('\\') != std::string_view::npos) return false;
    if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) return false;
    for (std::string_view spaced : {"  ", "( ", "{ "}) {
        if (text.find(spaced) != std::string_view::npos) return false;
    }
    // The writer cuts a comment into pieces of at most 512 bytes at spaces, and in the
    // middle of a word without one; a piece may then start a new line.
    std::size_t word = 0;
    for (char c : text) {
        word = c == ' ' ? 0 : word + 1;
        if (closer == '}' && word >= 511) return false;
    }
    return true;
}

bool CarriedIfAny(const std::optional<std::string>& text, char closer) {
    return !text || Carried(*text, closer);
}

// Do the game's texts all come through the writer and the reader unchanged?
bool Carried(CPartie& game) {
    for (const auto* field :
         {&game.Event, &game.Site, &game.Date, &game.Round, &game.White, &game.Black}) {
        if (!CarriedIfAny(*field, '"')) return false;
    }
    for (const CPGNHeader* tag = game.tags; tag; tag = tag->next) {
        if (!Carried(tag->value, '"')) return false;
    }
    std::vector<CPosition*> pending = {&game.startingPosition};
    while (!pending.empty()) {
        CPosition* pos = pending.back();
        pending.pop_back();
        if (!CarriedIfAny(pos->comment, '}')) return false;
        for (CCoup* move = pos->continuation; move; move = move->nextAlternative)
            pending.push_back(move->positionAfter);
    }
    return true;
}

std::string Fen(const CPosition& pos) {
    char text[kFenBufferSize];
    WriteFEN(text, pos);
    return text;
}

// The same start, and the same tree: moves, alternatives, annotations, glyphs, comments.
void CheckSameTree(CPartie& a, CPartie& b) {
    FUZZ_CHECK(Fen(a.startingPosition) == Fen(b.startingPosition));
    FUZZ_CHECK(a.startingPosition.comment == b.startingPosition.comment);
    std::vector<std::pair<CCoup*, CCoup*>> pending = {
        {a.startingPosition.continuation, b.startingPosition.continuation}};
    while (!pending.empty()) {
        auto [x, y] = pending.back();
        pending.pop_back();
        FUZZ_CHECK((x == nullptr) == (y == nullptr));
        if (!x) continue;
        FUZZ_CHECK(x->from == y->from && x->to == y->to && x->promotion == y->promotion);
        FUZZ_CHECK(x->annotation == y->annotation);
        FUZZ_CHECK(x->positionAfter->glyph == y->positionAfter->glyph);
        FUZZ_CHECK(x->positionAfter->comment == y->positionAfter->comment);
        pending.emplace_back(x->nextAlternative, y->nextAlternative);
        pending.emplace_back(x->positionAfter->continuation, y->positionAfter->continuation);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<PgnProblem> problems;
    std::vector<std::unique_ptr<CPartie>> games = ReadPgnGames(text, &problems);
    for (const PgnProblem& problem : problems)
        FUZZ_CHECK(problem.line >= 1 && !problem.what.empty());
    for (const std::unique_ptr<CPartie>& game : games) {
        FUZZ_CHECK(game->result >= kResultWhiteWins && game->result <= kResultUnknown);
        const std::string written = GameText(*game);
        std::vector<PgnProblem> again;
        std::vector<std::unique_ptr<CPartie>> reread = ReadPgnGames(written, &again);
        if (!Carried(*game)) continue;
        FUZZ_CHECK(again.empty() && reread.size() == 1);
        CheckSameTree(*game, *reread[0]);
        FUZZ_CHECK(GameText(*reread[0]) == written);
    }
    return 0;
}
