// pgnindex FILE.pgn: the index of a PGN file, one line per game, with these fields
// separated by tabs: the start offset, White, Black, the result (1-0, 1/2-1/2, 0-1 or *),
// Date, Event, Site, Round, ECO and the preview. A field without a string is empty.
// Exit code 0; 1 when the file cannot be opened or the index cannot be written (one line on
// standard error naming the file and the system's reason); 2 for wrong arguments.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "pgn/fichier.h"
#include "pgn/scanner.h"
#include "platform/platform.h"

namespace {

constexpr const char* kUsage = "Usage : %s FILE.pgn\n";

void PrintHelp(const char* name) {
    std::printf(kUsage, name);
    std::printf(
        "\n"
        "Lists the games of a PGN file, one line per game, with these fields separated by\n"
        "tabs: the byte offset of the game's first tag line, White, Black, the result (1-0,\n"
        "1/2-1/2, 0-1 or *), Date, Event, Site, Round, ECO and the first 30 bytes of the\n"
        "move text ((Position) for a game set up from a FEN). A tag the game lacks gives\n"
        "an empty field (? for Event, Site and Round; ??\\?? for Date). A game whose tags\n"
        "lack White, Black or Result is not listed.\n"
        "\n"
        "Exit status: 0 listed, 1 the file cannot be read or the list cannot be written,\n"
        "2 wrong arguments.\n");
}

void Field(const std::optional<std::string>& value) {
    std::putchar('\t');
    if (value) std::fwrite(value->data(), 1, value->size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
    platform::UseBinaryStandardStreams();
    const char* name = argc > 0 && argv[0] ? argv[0] : "pgnindex";
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        PrintHelp(name);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, kUsage, name);
        return 2;
    }
    // The file is opened as the file object's Open opens it (read access, not shared), but
    // its failure is told here, with the file's name, instead of in an error box.
    const char* path = argv[1];
    platform::FileHandle input = platform::OpenFile(path, platform::kRead, platform::Share::kNone,
                                                    platform::Disposition::kOpenExisting);
    if (!input.IsValid()) {
        std::fprintf(stderr, "pgnindex: cannot open %s: %s\n", path,
                     platform::ReasonText(platform::LastError()).c_str());
        return 1;
    }
    CFichier file(path);
    ScanHeaders(input, &file.gameCount, &file);
    platform::CloseFile(input);
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
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "pgnindex: cannot write the index of %s: %s\n", path,
                     std::strerror(errno));
        return 1;
    }
    return 0;
}
