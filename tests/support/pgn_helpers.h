// Helpers for tests of the PGN files: a variation played into a game, the default tags,
// the games of a file, and a fault plan for the platform's file seam.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "game/partie.h"
#include "pgn/writer.h"
#include "platform/platform.h"
#include "support/chess_helpers.h"
#include "support/files.h"

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

// The games of a PGN file, each from its "[Event " up to its termination marker: the empty
// lines between games are not part of them.
inline std::vector<std::string> Games(const std::string& pgn) {
    std::vector<std::string> games;
    for (std::size_t at = pgn.find("[Event "); at != std::string::npos;) {
        std::size_t next = pgn.find("[Event ", at + 1);
        std::string game = pgn.substr(at, next == std::string::npos ? next : next - at);
        games.push_back(game.substr(0, game.find_last_not_of("\r\n") + 1));
        at = next;
    }
    return games;
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
