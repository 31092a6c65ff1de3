#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "board/protocol.h"
#include "pgn/fichier.h"

namespace {

std::filesystem::path MakeScratchFolder() {
    std::error_code error;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, error)) base = std::filesystem::temp_directory_path();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path folder = base / ("chessrec-fuzz-" + std::to_string(random()));
        if (std::filesystem::create_directory(folder, error)) return folder;
    }
    std::fprintf(stderr, "fuzz: cannot make a scratch folder in %s\n", base.c_str());
    std::abort();
}

std::filesystem::path& Folder() {
    static std::filesystem::path folder;
    return folder;
}

void RemoveScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Folder(), ignored);
}

}  // namespace

const std::string& ScratchFolder() {
    static const std::string path = [] {
        Folder() = MakeScratchFolder();
        std::atexit(RemoveScratchFolder);
        return Folder().string();
    }();
    return path;
}

std::string ScratchFile(const char* name) {
    return ScratchFolder() + "/" + name;
}

void SilenceConsole() {
    if (!std::freopen("/dev/null", "w", stdout)) {
        std::fprintf(stderr, "fuzz: cannot send standard output to /dev/null\n");
        std::abort();
    }
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteWholeFile(const std::string& path, const void* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

void RemoveFile(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

void PropertyFailed(const char* what) {
    std::fprintf(stderr, "fuzz: property failed: %s\n", what);
    std::abort();
}

namespace {

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// Reads count groups "%02X " from line at at; answers whether they were there, with the
// bytes in bytes.
bool HexGroups(const std::string& line, std::size_t& at, int count,
               std::vector<int>* bytes = nullptr) {
    for (int i = 0; i < count; ++i) {
        if (at + 3 > line.size() || !IsHex(line[at]) || !IsHex(line[at + 1]) || line[at + 2] != ' ')
            return false;
        if (bytes) bytes->push_back(HexValue(line[at]) * 16 + HexValue(line[at + 1]));
        at += 3;
    }
    return true;
}

// A labelled line: label, then exactly count hex groups, then the rest (answered).
bool Labelled(const std::string& line, const char* label, int count, std::vector<int>* bytes,
              std::string* rest) {
    std::size_t length = std::strlen(label);
    if (line.compare(0, length, label) != 0) return false;
    std::size_t at = length;
    if (!HexGroups(line, at, count, bytes)) return false;
    *rest = line.substr(at);
    return true;
}

bool BareHexLine(const std::string& line) {
    if (line.empty() || line.size() % 3 != 0 || line.size() > 48) return false;
    std::size_t at = 0;
    return HexGroups(line, at, static_cast<int>(line.size() / 3));
}

}  // namespace

int CheckSessionLog(const std::string& log) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(log.substr(start, end - start));
    // The last line may still be open: bare hex bytes waiting for more.
    if (start < log.size()) FUZZ_CHECK(BareHexLine(log.substr(start)));

    int newGames = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        std::vector<int> bytes;
        std::string rest;
        if (Labelled(line, "0x86 : ", 4, &bytes, &rest) ||
            Labelled(line, "0x8F : ", 5, &bytes, &rest)) {
            FUZZ_CHECK(rest.empty());
            FUZZ_CHECK(bytes[0] == (line[3] == '6' ? kMessage86 : kMessage8F));
        } else if (Labelled(line, "0x99 : ", 5, &bytes, &rest)) {
            FUZZ_CHECK(bytes[0] == kTakeBackMessage && (rest.empty() || rest == "Take back"));
        } else if (Labelled(line, "Move : ", 5, &bytes, &rest)) {
            FUZZ_CHECK(bytes[0] == kMoveMessage || bytes[0] == kMoveMessage9A);
            char squares[16];
            auto from = static_cast<std::uint8_t>(bytes[1]);
            auto to = static_cast<std::uint8_t>(bytes[2]);
            std::snprintf(squares, sizeof squares, " =>  %c%c %c%c", 'A' + FileNibble(from),
                          '1' + RankNibble(from), 'A' + FileNibble(to), '1' + RankNibble(to));
            FUZZ_CHECK(rest == squares);
            FUZZ_CHECK(i + 1 < lines.size());
            const std::string& verdict = lines[++i];
            FUZZ_CHECK(verdict == "Invalid Move..." ||
                       (verdict.compare(0, 10, "Move OK : ") == 0 && verdict.size() > 10));
        } else if (Labelled(line, "Time : ", 9, &bytes, &rest)) {
            FUZZ_CHECK(rest.empty() && bytes[0] == kTimeMessage);
            bool zeros = true;
            for (int b = 1; b < 9; ++b)
                zeros = zeros && bytes[b] == 0;
            if (zeros) {
                FUZZ_CHECK(i + 1 < lines.size() && lines[i + 1] == "New Game");
                ++i;
                ++newGames;
            }
        } else {
            FUZZ_CHECK(BareHexLine(line));
        }
    }
    return newGames;
}

void CheckSessionPgn(const std::string& path, int games) {
    std::string text = ReadWholeFile(path);
    if (text.empty()) {
        FUZZ_CHECK(games == 0);
        return;
    }
    CFichier file(path.c_str());
    FUZZ_CHECK(file.Open() == 1);
    FUZZ_CHECK(file.gameCount == games);
    for (const CInfosPartie2* game = file.head; game; game = game->next) {
        FUZZ_CHECK(text.compare(game->startOffset, 12, "[Event \"?\"]\r") == 0);
        FUZZ_CHECK(game->White == "White" && game->Black == "Black");
        FUZZ_CHECK(game->Event == "?" && game->Site == "?" && game->Round == "?");
        FUZZ_CHECK(game->Date == "????.??.??" && game->result == 3);
    }
}

std::string ByteReader::Text(std::size_t length, bool (*keep)(std::uint8_t), char replace) {
    std::string text;
    for (std::size_t i = 0; i < length && !Empty(); ++i) {
        std::uint8_t byte = Byte();
        text += keep(byte) ? static_cast<char>(byte) : replace;
    }
    return text;
}
