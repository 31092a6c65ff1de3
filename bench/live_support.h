// What live_bench and recorders_bench share: games that grow by one legal move at a time,
// the game in progress written as the recorder writes it, the plies of a PGN text, pgnlive
// started and its port read, and percentiles.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chess/position.h"
#include "chess/rules.h"
#include "game/partie.h"
#include "pgn/reader.h"
#include "pgn/writer.h"
#include "platform/platform.h"
#include "platform/testkit.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The moves of a game's main line.
inline int Plies(const CPartie& game) {
    int plies = 0;
    for (const CCoup* move = game.startingPosition.continuation; move;
         move = move->positionAfter->continuation)
        ++plies;
    return plies;
}

// The plies of the last game of a PGN text (a game in progress may follow games that could
// not be saved); -1 when the text holds no whole game.
inline int PliesOfText(const std::string& text) {
    std::vector<std::unique_ptr<CPartie>> games = ReadPgnGames(text);
    return games.empty() ? -1 : Plies(*games.back());
}

inline bool ReadWhole(const std::string& path, std::string* text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// A game that grows by one random legal move at a time, never into mate or stalemate, so
// that it can grow for ever (bare kings still have moves). A pawn on the last rank becomes a
// queen, as the board's moves make it.
class GrowingGame {
public:
    explicit GrowingGame(std::uint32_t seed) : random_(seed), last_(&game_.startingPosition) {}

    // Plays one more move and answers its squares; false when there was none to play.
    bool Grow(Square* from, Square* to) {
        std::vector<std::pair<Square, Square>> moves;
        for (int f = 0; f < 64; ++f) {
            const Piece piece = last_->board[f];
            if (piece == kEmpty || SideOf(piece) != last_->side) continue;
            for (int t = 0; t < 64; ++t) {
                if (t != f && IsLegal(*last_, static_cast<Square>(f), static_cast<Square>(t)))
                    moves.emplace_back(static_cast<Square>(f), static_cast<Square>(t));
            }
        }
        if (moves.empty()) return false;
        std::shuffle(moves.begin(), moves.end(), random_);
        // A move that leaves the other side without a move is replaced by the next one.
        CPosition* after = nullptr;
        for (const auto& [f, t] : moves) {
            after = last_->Play(f, t, last_->continuation, 0);
            *from = f;
            *to = t;
            if (HasLegalMove(*after)) break;
        }
        last_ = after;
        ++plies_;
        return true;
    }
    bool Grow() {
        Square from = 0;
        Square to = 0;
        return Grow(&from, &to);
    }

    int Plies() const { return plies_; }
    CPartie& Game() { return game_; }
    // The game as the recorder writes its game in progress.
    std::string Text() { return GameText(game_); }

private:
    std::mt19937 random_;
    CPartie game_;
    CPosition* last_;
    int plies_ = 0;
};

// Writes text over path as the recorder keeps its game in progress: into path + ".tmp",
// flushed, renamed over path, then the folder flushed. *renamed gets the moment of the
// rename: the clock is read just before it, as a reader that the rename wakes may run before
// this thread returns from it. False when a step failed.
inline bool WriteAsRecorder(const std::string& path, const std::string& text,
                            Clock::time_point* renamed) {
    const std::string temp = path + ".tmp";
    platform::FileHandle file =
        platform::OpenFile(temp.c_str(), platform::kWrite, platform::Share::kNone,
                           platform::Disposition::kCreateAlways);
    if (!file.IsValid()) return false;
    std::uint32_t written = 0;
    bool ok =
        platform::WriteFile(file, text.data(), static_cast<std::uint32_t>(text.size()), &written) &&
        platform::FlushFile(file);
    ok = platform::CloseFile(file) && ok;
    if (!ok) return false;
    *renamed = Clock::now();
    if (!platform::RenameFileOver(temp.c_str(), path.c_str())) return false;
    return platform::FlushFolderOf(path.c_str());
}

// The value below which share (0 to 1) of the sorted values lie (nearest rank).
inline double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    std::size_t rank = static_cast<std::size_t>(share * static_cast<double>(values.size()) + 0.5);
    rank = std::clamp<std::size_t>(rank, 1, values.size());
    return values[rank - 1];
}

// Waits, looking every few milliseconds, until the file at path holds a line that begins
// with prefix; answers the rest of that line, or "" at the deadline.
inline std::string WaitForLine(const std::string& path, const std::string& prefix,
                               std::chrono::milliseconds deadline) {
    const Clock::time_point end = Clock::now() + deadline;
    while (Clock::now() < end) {
        std::string text;
        ReadWhole(path, &text);
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return "";
}

// pgnlive, started with args after its path, its standard error in errPath. With --listen
// 127.0.0.1:0 among args, *port gets the port it chose. False, said, when it did not start.
inline bool StartPgnlive(platform::testkit::Process& process, const std::string& binary,
                         const std::vector<std::string>& args, const std::string& errPath,
                         std::uint16_t* port) {
    platform::testkit::ProcessOptions options;
    options.args = {binary};
    options.args.insert(options.args.end(), args.begin(), args.end());
    options.errPath = errPath;
    if (!process.Start(options)) {
        std::fprintf(stderr, "cannot start %s: %s\n", binary.c_str(),
                     platform::ReasonText(platform::LastError()).c_str());
        return false;
    }
    const std::string rest =
        WaitForLine(errPath, "pgnlive: publishing ", std::chrono::milliseconds(20000));
    if (rest.empty()) {
        std::fprintf(stderr, "pgnlive did not start; its standard error is in %s\n",
                     errPath.c_str());
        return false;
    }
    if (port) {
        const std::string address = WaitForLine(
            errPath, "pgnlive: listening on http://127.0.0.1:", std::chrono::seconds(5));
        *port = static_cast<std::uint16_t>(std::atoi(address.c_str()));
        if (*port == 0) {
            std::fprintf(stderr, "pgnlive named no port in %s\n", errPath.c_str());
            return false;
        }
    }
    return true;
}

// Ends a program started here: Ctrl-C, then at most 10 s for its end. Answers its exit code.
inline int StopProgram(platform::testkit::Process& process) {
    process.Stop();
    int code = process.Wait(10000);
    if (code == platform::testkit::Process::kStillRunning) {
        process.Kill();
        code = process.Wait(10000);
    }
    return code;
}

}  // namespace bench
