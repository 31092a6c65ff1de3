#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

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

std::string ByteReader::Text(std::size_t length, bool (*keep)(std::uint8_t), char replace) {
    std::string text;
    for (std::size_t i = 0; i < length && !Empty(); ++i) {
        std::uint8_t byte = Byte();
        text += keep(byte) ? static_cast<char>(byte) : replace;
    }
    return text;
}
