// The PGN index: CFichier::Open on any bytes.
//
// Input: the whole PGN file.
//
// Besides what the sanitizers catch, the index must hold together: the game count is the
// length of the list; start offsets rise strictly, and each is that of a line that begins
// with '['; tag values hold no line end and no double quote, and fit a line of the
// scanner; a preview holds at most 30 bytes and no line end; and opening the file again
// gives the same index.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "pgn/fichier.h"
#include "support.h"

namespace {

std::string pgnPath;

void CheckValue(const std::optional<std::string>& value) {
    if (!value) return;
    FUZZ_CHECK(value->size() < 256);
    FUZZ_CHECK(value->find_first_of("\r\n\"") == std::string::npos);
}

struct Entry {
    std::uint32_t start;
    std::int32_t result;
    std::string preview;
};

std::vector<Entry> Index(CFichier& file, const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(file.Open() == 1);
    std::vector<Entry> entries;
    for (CInfosPartie2* game = file.head; game; game = game->next) {
        FUZZ_CHECK(game->startOffset < size && data[game->startOffset] == '[');
        FUZZ_CHECK(entries.empty() || game->startOffset > entries.back().start);
        FUZZ_CHECK(game->result >= 0 && game->result <= 3);
        for (const auto* value : {&game->White, &game->Black, &game->Event, &game->Site,
                                  &game->Round, &game->Date, &game->ECO}) {
            CheckValue(*value);
        }
        FUZZ_CHECK(game->White && game->Black && game->Event && game->Site && game->Round &&
                   game->Date);
        FUZZ_CHECK(game->preview && game->preview->size() <= 30);
        FUZZ_CHECK(game->preview->find_first_of("\r\n") == std::string::npos);
        entries.push_back({game->startOffset, game->result, *game->preview});
        FUZZ_CHECK(game->next || game == file.tail);
    }
    FUZZ_CHECK(file.gameCount == static_cast<std::int32_t>(entries.size()));
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    pgnPath = ScratchFile("index.pgn");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FUZZ_CHECK(WriteWholeFile(pgnPath, data, size));
    CFichier file(pgnPath.c_str());
    std::vector<Entry> first = Index(file, data, size);
    std::vector<Entry> second = Index(file, data, size);
    FUZZ_CHECK(first.size() == second.size());
    for (std::size_t i = 0; i < first.size(); ++i) {
        FUZZ_CHECK(first[i].start == second[i].start && first[i].result == second[i].result &&
                   first[i].preview == second[i].preview);
    }
    return 0;
}
