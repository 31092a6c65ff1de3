// pgnindex FILE.pgn: the index of a PGN file, one line per game, with these fields
// separated by tabs: the start offset, White, Black, the result (1-0, 1/2-1/2, 0-1 or *),
// Date, Event, Site, Round, ECO and the preview. A field without a string is empty.
// Exit code 0; 1 when the file cannot be opened (the error goes to standard error); 2
// for a wrong argument count.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "pgn/fichier.h"
#include "platform/platform.h"

namespace {

void Field(const std::optional<std::string>& value) {
    std::putchar('\t');
    if (value) std::fwrite(value->data(), 1, value->size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    platform::UseBinaryStandardStreams();
    if (argc != 2) {
        std::fprintf(stderr, "Usage : %s FILE.pgn\n", argc > 0 ? argv[0] : "pgnindex");
        return 2;
    }
    if (std::strlen(argv[1]) >= static_cast<std::size_t>(kPathSize)) {
        std::fprintf(stderr, "%s: path too long\n", argv[1]);
        return 1;
    }
    CFichier file(argv[1]);
    if (!file.Open()) return 1;
    for (CInfosPartie2* header = file.head; header; header = header->next) {
        std::printf("%u", static_cast<unsigned>(header->startOffset));
        Field(header->White);
        Field(header->Black);
        const char* result = ResultText(header->result);
        std::printf("\t%s", result ? result : "");
        Field(header->Date);
        Field(header->Event);
        Field(header->Site);
        Field(header->Round);
        Field(header->ECO);
        Field(header->preview);
        std::putchar('\n');
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
