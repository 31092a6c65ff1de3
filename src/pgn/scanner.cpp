#include "pgn/scanner.h"

#include <cstring>
#include <new>

namespace {

constexpr std::uint32_t kLineBuffer = 256;

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n';
}

bool StartsWith(const char* line, const char* prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

bool IsComplete(const CInfosPartie2& header) {
    return header.White && header.Black && header.Event && header.Round && header.Site &&
           header.Date && header.result != kNoResult;
}

// The tags the index reads, by the opening of their line. Characters and an enumeration,
// not pointers: the table is read-only data.
enum class Field { kWhite, kBlack, kResult, kEvent, kRound, kDate, kSite, kEco };
struct Prefix {
    char text[9];
    Field field;
};
constexpr Prefix kPrefixes[] = {
    {"[White ", Field::kWhite}, {"[Black ", Field::kBlack}, {"[Result ", Field::kResult},
    {"[Event ", Field::kEvent}, {"[Round ", Field::kRound}, {"[Date ", Field::kDate},
    {"[Site ", Field::kSite},   {"[ECO ", Field::kEco},
};

void SetField(CInfosPartie2& header, Field field, const char* value) {
    switch (field) {
        case Field::kWhite:
            return header.SetWhite(value);
        case Field::kBlack:
            return header.SetBlack(value);
        case Field::kResult:
            return header.SetResultText(value);
        case Field::kEvent:
            return header.SetEvent(value);
        case Field::kRound:
            return header.SetRound(value);
        case Field::kDate:
            return header.SetDate(value);
        case Field::kSite:
            return header.SetSite(value);
        case Field::kEco:
            return header.SetECO(value);
    }
}

// Applies a tag line to header; answers whether it was a "[SetUp " line.
bool ApplyTag(CInfosPartie2& header, const char* line) {
    if (StartsWith(line, "[SetUp ")) return true;
    for (const Prefix& prefix : kPrefixes) {
        if (StartsWith(line, prefix.text)) {
            char value[kLineBuffer];
            QuotedValue(line + std::strlen(prefix.text), value, sizeof value);
            SetField(header, prefix.field, value);
            break;
        }
    }
    return false;
}

}  // namespace

std::int32_t CFichier::Open() {
    delete head;
    head = tail = nullptr;
    gameCount = 0;
    platform::FileHandle file = platform::OpenFile(path, platform::kRead, platform::Share::kNone,
                                                   platform::Disposition::kOpenExisting);
    if (!file.IsValid()) {
        ShowOpenError(platform::LastError());
        return 0;
    }
    ScanHeaders(file, &gameCount, this);
    platform::CloseFile(file);
    return 1;
}

void ScanHeaders(platform::FileHandle file, std::int32_t* count, CFichier* fichier) {
    if (!platform::SetFilePointer(file, 0, platform::SeekFrom::kBegin, nullptr)) return;
    std::uint64_t linePosition = 0;
    CInfosPartie2* current = nullptr;
    bool inGame = false;  // a tag section has begun
    bool setUp = false;
    char line[kLineBuffer];
    for (;;) {
        std::uint32_t size = sizeof line;
        if (!ReadChunk(line, &size, file)) break;
        if (line[0] == '[') {
            if (!inGame) {
                // A game begins at its first tag line.
                if (!current) current = new (std::nothrow) CInfosPartie2;
                if (!current) break;
                current->Reset();
                current->startOffset = static_cast<std::uint32_t>(linePosition);
                inGame = true;
            }
            if (ApplyTag(*current, line)) setUp = true;
        } else if (current && IsComplete(*current)) {
            // The first move-text line closes the game.
            current->SetPreview(setUp ? "(Position)" : line);
            std::uint64_t after = 0;
            if (!platform::SetFilePointer(file, 0, platform::SeekFrom::kCurrent, &after)) break;
            ++*count;
            fichier->AddGame(current, static_cast<std::uint32_t>(after));
            current = new (std::nothrow) CInfosPartie2;
            if (current) current->Reset();
            inGame = false;
            setUp = false;
        }
        if (!platform::SetFilePointer(file, 0, platform::SeekFrom::kCurrent, &linePosition)) break;
    }
    // The fresh header, or a game whose tag section never became complete.
    delete current;
}

// A line ends at the first CR or LF; the whole run of CR and LF characters after it is
// swallowed, so empty lines never arrive (unless a run is split between two reads). A
// full buffer without a line end is cut at its last space, which begins the next piece;
// one whose only space is its first byte (or that has none) is delivered whole, and so
// are the last bytes of a file that does not end in a line end.
int ReadChunk(char* buffer, std::uint32_t* size, platform::FileHandle file) {
    if (*size < 2) return 0;
    std::uint32_t read = 0;
    if (!platform::ReadFile(file, buffer, *size - 1, &read) || read == 0) return 0;
    const std::int64_t count = read;

    std::uint32_t end = 0;
    while (end < read && !IsLineEnd(buffer[end]))
        ++end;
    if (end < read) {
        std::uint32_t run = end;
        while (run < read && IsLineEnd(buffer[run]))
            ++run;
        if (!platform::SetFilePointer(file, static_cast<std::int64_t>(run) - count,
                                      platform::SeekFrom::kCurrent, nullptr))
            return 0;
        buffer[end] = '\0';
        *size = end;
        return 1;
    }

    // The read came short: the file ends here, and so does the line.
    if (read < *size - 1) {
        buffer[read] = '\0';
        return 1;
    }
    std::uint32_t space = read;
    for (std::uint32_t i = read; i-- > 0;) {
        if (buffer[i] == ' ') {
            space = i;
            break;
        }
    }
    // A cut at the first byte would deliver nothing and read the same bytes again.
    if (space < read && space > 0) {
        if (!platform::SetFilePointer(file, static_cast<std::int64_t>(space) - count,
                                      platform::SeekFrom::kCurrent, nullptr))
            return 0;
        buffer[space] = '\0';
        *size = space;
        return 1;
    }
    buffer[read] = '\0';
    return 1;
}

void QuotedValue(const char* source, char* destination, std::size_t size) {
    if (size == 0) return;
    std::size_t length = 0;
    const char* quote = std::strchr(source, '"');
    if (quote) {
        for (const char* c = quote + 1; *c != '\0' && *c != '"' && length + 1 < size; ++c)
            destination[length++] = *c;
    }
    destination[length] = '\0';
}

void ShowOpenError(platform::ErrorCode code) {
    // The caption would be the executable's string resource 2; it carries none.
    ShowErrorBox(nullptr, code, "Message not available");
}
