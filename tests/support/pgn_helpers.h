// Helpers for tests of the PGN files: a scratch folder, whole-file reads and writes, a
// game written to a string, and a fault plan for the platform's file seam.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include "game/partie.h"
#include "platform/platform.h"
#include "support/chess_helpers.h"

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

    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

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

// The bytes WritePGN writes for game (into a scratch file).
inline std::string PgnText(CPartie& game) {
    ScratchDir dir;
    std::string path = dir / "game.pgn";
    platform::FileHandle file =
        platform::OpenFile(path.c_str(), platform::kWrite, platform::Share::kNone,
                           platform::Disposition::kCreateAlways);
    EXPECT_TRUE(file.IsValid());
    EXPECT_TRUE(game.WritePGN(file));
    EXPECT_TRUE(platform::CloseFile(file));
    return ReadBytes(path);
}

// Plays moves ("c7c5 g1f3") from pos, the first as an alternative appended to pos's
// chain, the rest as continuations; answers the last position.
inline CPosition* PlayVariation(CPosition* pos, const std::string& moves) {
    std::istringstream in(moves);
    std::string first;
    in >> first;
    CPosition* after = pos->Play(Sq(first.substr(0, 2)), Sq(first.substr(2, 2)), nullptr, 0);
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return after ? PlayLine(after, rest) : nullptr;
}

// The default tag section of a new game, up to and including the Result tag.
inline std::string DefaultTags(const char* result = "*") {
    return std::string(
               "[Event \"?\"]\r\n[Site \"?\"]\r\n[Date \"????.??.??\"]\r\n"
               "[Round \"?\"]\r\n[White \"White\"]\r\n[Black \"Black\"]\r\n") +
           (result ? std::string("[Result \"") + result + "\"]\r\n" : std::string());
}

// Makes calls of one kind fail through the platform's seam: the nth call of op from now
// on (and, when sticky, every later one) fails with code. Removed when it goes.
class FaultPlan {
public:
    FaultPlan(platform::FileOp op, int nth, platform::ErrorCode code, bool sticky = false)
        : op_(op), nth_(nth), code_(code), sticky_(sticky) {
        platform::SetFaultHook(&FaultPlan::Hook, this);
    }
    ~FaultPlan() { platform::SetFaultHook(nullptr, nullptr); }
    FaultPlan(const FaultPlan&) = delete;
    FaultPlan& operator=(const FaultPlan&) = delete;

    // Whether the plan has made a call fail.
    bool Fired() const { return fired_; }

private:
    static platform::ErrorCode Hook(platform::FileOp op, platform::FileHandle, const char*,
                                    void* context) {
        auto* plan = static_cast<FaultPlan*>(context);
        if (op != plan->op_) return 0;
        int seen = ++plan->seen_;
        if (seen == plan->nth_ || (plan->sticky_ && seen > plan->nth_)) {
            plan->fired_ = true;
            return plan->code_;
        }
        return 0;
    }

    platform::FileOp op_;
    int nth_;
    platform::ErrorCode code_;
    bool sticky_;
    std::atomic<int> seen_{0};
    bool fired_ = false;
};
