// Scratch folders and whole-file reads and writes for tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/platform.h"

// The path of name in folder as the programs form it: the folder, the system's separator
// and the name.
inline std::string InFolder(const std::string& folder, const std::string& name) {
    return folder + platform::PathSeparator() + name;
}

// A fresh folder for one test, removed with everything in it at the end.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device random;
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("chessrec-") + (info ? info->name() : "test") + "-" +
                           std::to_string(random());
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string operator/(const std::string& name) const { return InFolder(Path(), name); }
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool Exists(const std::string& path) {
    return std::filesystem::exists(path);
}
