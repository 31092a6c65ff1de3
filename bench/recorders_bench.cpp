// The recorders' own move latency, without pgnlive and with pgnlive publishing their games.
//
//   build/bench/recorders_bench [--boards N] [--moves M] [--gap MS] [--chessrec PATH]
//                               [--pgnlive PATH]
//
// N recorders (chessrec, live), each on a virtual serial line of the test kit whose board
// end this program plays: the greeting, then M moves in all of random legal games, one board
// after the other, a move every GAP ms across the boards. A move's latency is the time from
// its write to the line (its five bytes at once) to the recorder's game in progress
// (chessrec.000.current.pgn) holding it: a watch on the session folders, the file read back
// and its moves counted. The run is made twice: the recorders alone, then with pgnlive over
// their folders (--out and --listen 127.0.0.1:0, no client). At the end every recorder is
// stopped as Ctrl-C stops it, and each session's PGN file must hold its whole game.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "board/protocol.h"
#include "live_support.h"
#include "platform/platform.h"
#include "platform/testkit.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;

struct Options {
    std::string chessrec = CHESSREC_BINARY;
    std::string pgnlive = PGNLIVE_BINARY;
    int boards = 64;
    int moves = 640;
    int gapMs = 20;
};

struct Board {
    explicit Board(std::uint32_t seed) : game(seed) {}
    platform::FileHandle line;
    std::string device;
    std::string folder;
    platform::testkit::Process recorder;
    bench::GrowingGame game;
    // Under the watch's mutex:
    bool waiting = false;  // a move was sent and the file does not hold it yet
    int expected = 0;      // the plies the file is to hold
    Clock::time_point sent;
    Clock::time_point done;
    // The watch thread's own: the file as it was last read.
    platform::FileInfo seen;
};

std::string CurrentPath(const Board& board) {
    return board.folder + "/chessrec.000.current.pgn";
}

// The session folders, watched: tells when each game in progress holds its expected moves.
class SessionWatch {
public:
    explicit SessionWatch(std::vector<std::unique_ptr<Board>>& boards) : boards_(boards) {
        watch_ = platform::CreateFolderWatch();
        ok_ = watch_.IsValid();
        for (std::size_t i = 0; ok_ && i < boards.size(); ++i)
            ok_ = platform::WatchFolder(watch_, boards[i]->folder.c_str(), static_cast<int>(i));
        if (ok_) thread_ = std::thread([this] { Loop(); });
    }
    ~SessionWatch() {
        if (thread_.joinable()) {
            stopping_ = true;
            platform::WakeFolderWatch(watch_);
            thread_.join();
        }
        platform::CloseFolderWatch(watch_);
    }
    bool Ok() const { return ok_; }

    // Board index waits for its file to hold plies moves, sent now. The clock is read before
    // the move is written: the recorder that the write wakes may run before the writer
    // returns from it.
    void Expect(std::size_t index, int plies) {
        std::lock_guard lock(mutex_);
        boards_[index]->waiting = true;
        boards_[index]->expected = plies;
        boards_[index]->sent = Clock::now();
    }

    // Waits until board index's last move is in its file; *ms gets its latency. False at the
    // deadline.
    bool Wait(std::size_t index, Clock::time_point deadline, double* ms) {
        std::unique_lock lock(mutex_);
        Board& board = *boards_[index];
        if (!changed_.wait_until(lock, deadline, [&] { return !board.waiting; })) {
            board.waiting = false;
            return false;
        }
        *ms = bench::Milliseconds(board.done - board.sent);
        return true;
    }

private:
    void Loop() {
        std::vector<int> changed;
        std::vector<int> gone;
        while (!stopping_) {
            if (!platform::WaitForFolderChanges(watch_, platform::kNoTimeLimit, &changed, &gone))
                return;
            const Clock::time_point at = Clock::now();
            for (int id : changed) {
                Board& board = *boards_[static_cast<std::size_t>(id)];
                int expected = 0;
                {
                    std::lock_guard lock(mutex_);
                    if (!board.waiting) continue;
                    expected = board.expected;
                }
                // The log and the record file change at every message; the game in progress
                // is read again only when it changed.
                const std::string path = CurrentPath(board);
                platform::FileInfo info;
                if (!platform::GetFileInfo(path.c_str(), &info) ||
                    (info.size == board.seen.size && info.modified == board.seen.modified))
                    continue;
                board.seen = info;
                std::string text;
                if (!bench::ReadWhole(path, &text) || bench::PliesOfText(text) < expected) continue;
                {
                    std::lock_guard lock(mutex_);
                    if (board.expected != expected) continue;
                    board.waiting = false;
                    board.done = at;
                }
                changed_.notify_all();
            }
        }
    }

    std::vector<std::unique_ptr<Board>>& boards_;
    platform::FolderWatch watch_;
    bool ok_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

struct Figures {
    std::vector<double> latencyMs;
    int timeouts = 0;
    int savedWhole = 0;
};

bool Say(const char* what, const std::string& where) {
    std::fprintf(stderr, "recorders_bench: %s %s: %s\n", what, where.c_str(),
                 platform::ReasonText(platform::LastError()).c_str());
    return false;
}

// The recorders started on their lines, set up, and greeted by their boards.
bool StartRecorders(const Options& options, const fs::path& root,
                    std::vector<std::unique_ptr<Board>>& boards) {
    const fs::path logs = root / "consoles";
    fs::create_directories(logs);
    for (int b = 1; b <= options.boards; ++b) {
        auto board = std::make_unique<Board>(2000 + b);
        char device[256];
        board->line = platform::testkit::OpenVirtualLine(device, sizeof device);
        if (!board->line.IsValid()) return Say("cannot open", "a virtual serial line");
        board->device = device;
        board->folder = (root / ("b" + std::to_string(b))).string();
        fs::create_directories(board->folder);
        platform::testkit::ProcessOptions run;
        run.args = {options.chessrec};
        run.env = {"CHESSREC_DIR=" + board->folder, "CHESSREC_PORT=" + board->device};
        run.outPath = (logs / ("out-" + std::to_string(b) + ".txt")).string();
        run.errPath = (logs / ("err-" + std::to_string(b) + ".txt")).string();
        if (!board->recorder.Start(run)) return Say("cannot start", options.chessrec);
        boards.push_back(std::move(board));
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
    for (auto& board : boards) {
        platform::testkit::VirtualLineSettings settings;
        while (!platform::testkit::GetVirtualLineSettings(board->line, &settings) ||
               settings.baudRate != 2400) {
            if (Clock::now() > deadline) return Say("no recorder set up", board->device);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const std::string greeting = NewGameMessage();
        std::uint32_t written = 0;
        if (!platform::WriteFile(board->line, greeting.data(),
                                 static_cast<std::uint32_t>(greeting.size()), &written))
            return Say("cannot write to", board->device);
        char answer = 0;
        std::uint32_t read = 0;
        if (platform::testkit::WaitForInput(board->line, 10000) !=
                platform::testkit::WaitResult::kReady ||
            !platform::ReadFile(board->line, &answer, 1, &read) || read != 1)
            return Say("no answer from the recorder on", board->device);
    }
    return true;
}

bool RunOne(const Options& options, bool withPgnlive, const fs::path& scratch, Figures* figures) {
    const fs::path root = scratch / (withPgnlive ? "with-pgnlive" : "alone");
    std::vector<std::unique_ptr<Board>> boards;
    bool ok = StartRecorders(options, root, boards);
    platform::testkit::Process pgnlive;
    if (ok && withPgnlive) {
        std::vector<std::string> args = {"--out", (root / "out").string(), "--listen",
                                         "127.0.0.1:0"};
        for (auto& board : boards)
            args.push_back(board->folder);
        std::uint16_t port = 0;
        ok = bench::StartPgnlive(pgnlive, options.pgnlive, args, (root / "pgnlive.err").string(),
                                 &port);
    }
    if (ok) {
        SessionWatch watch(boards);
        ok = watch.Ok();
        if (!ok) Say("cannot watch", "the session folders");
        const Clock::time_point start = Clock::now();
        std::vector<bool> inFlight(boards.size(), false);
        auto collect = [&](std::size_t index) {
            if (!inFlight[index]) return;
            inFlight[index] = false;
            double ms = 0;
            Board& board = *boards[index];
            if (!watch.Wait(index, Clock::now() + std::chrono::seconds(30), &ms)) {
                ++figures->timeouts;
                std::string text;
                bench::ReadWhole(CurrentPath(board), &text);
                std::fprintf(stderr,
                             "recorders_bench: %s: move %d not in the game in progress after "
                             "30 s (it holds %d)\n",
                             board.folder.c_str(), board.game.Plies(), bench::PliesOfText(text));
                return;
            }
            if (ms > 1000) {
                std::fprintf(stderr, "recorders_bench: %s: move %d took %.0f ms\n",
                             board.folder.c_str(), board.game.Plies(), ms);
            }
            figures->latencyMs.push_back(ms);
        };
        for (int i = 0; ok && i < options.moves; ++i) {
            const std::size_t index = static_cast<std::size_t>(i) % boards.size();
            Board& board = *boards[index];
            collect(index);
            Square from = 0;
            Square to = 0;
            if (!board.game.Grow(&from, &to)) break;
            const std::string move = MoveMessage(SquareByte(FileOf(from), RankOf(from)),
                                                 SquareByte(FileOf(to), RankOf(to)));
            watch.Expect(index, board.game.Plies());
            std::uint32_t written = 0;
            if (!platform::WriteFile(board.line, move.data(),
                                     static_cast<std::uint32_t>(move.size()), &written)) {
                ok = Say("cannot write to", board.device);
                break;
            }
            inFlight[index] = true;
            std::this_thread::sleep_until(start +
                                          std::chrono::milliseconds(options.gapMs) * (i + 1));
        }
        for (std::size_t index = 0; index < boards.size(); ++index)
            collect(index);
    }
    if (withPgnlive && pgnlive.Id() != 0 && bench::StopProgram(pgnlive) != 0) {
        std::fprintf(stderr, "recorders_bench: pgnlive did not end well; see %s\n",
                     (root / "pgnlive.err").c_str());
        ok = false;
    }
    for (auto& board : boards) {
        if (bench::StopProgram(board->recorder) != 0) {
            std::fprintf(stderr, "recorders_bench: the recorder in %s did not end well\n",
                         board->folder.c_str());
            ok = false;
        }
        platform::CloseFile(board->line);
        std::string text;
        if (bench::ReadWhole(board->folder + "/chessrec.000.pgn", &text) &&
            bench::PliesOfText(text) == board->game.Plies())
            ++figures->savedWhole;
    }
    return ok;
}

int Usage() {
    std::fprintf(stderr,
                 "Usage : recorders_bench [--boards N] [--moves M] [--gap MS] [--chessrec PATH] "
                 "[--pgnlive PATH]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) return Usage();
        const char* value = argv[++i];
        if (arg == "--boards") {
            options.boards = std::atoi(value);
        } else if (arg == "--moves") {
            options.moves = std::atoi(value);
        } else if (arg == "--gap") {
            options.gapMs = std::atoi(value);
        } else if (arg == "--chessrec") {
            options.chessrec = value;
        } else if (arg == "--pgnlive") {
            options.pgnlive = value;
        } else {
            return Usage();
        }
    }
    if (options.boards < 1 || options.moves < 1 || options.gapMs < 0) return Usage();

    const fs::path scratch = fs::temp_directory_path() /
                             ("chessrec-recorders-bench-" + std::to_string(std::random_device()()));
    fs::create_directories(scratch);
    std::printf(
        "%d recorders, %d moves in all, a move every %d ms across the boards; "
        "milliseconds from a move written to its line to the game in progress "
        "holding it\n\n",
        options.boards, options.moves, options.gapMs);
    std::printf("| Recorders | pgnlive | p50 | p99 | max | Timeouts | Games saved whole |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    bool ok = true;
    for (bool withPgnlive : {false, true}) {
        Figures figures;
        ok = RunOne(options, withPgnlive, scratch, &figures) && ok;
        std::printf(
            "| %d | %s | %.1f | %.1f | %.1f | %d | %d of %d |\n", options.boards,
            withPgnlive ? "running" : "not running", bench::Percentile(figures.latencyMs, 0.5),
            bench::Percentile(figures.latencyMs, 0.99), bench::Percentile(figures.latencyMs, 1.0),
            figures.timeouts, figures.savedWhole, options.boards);
        std::fflush(stdout);
    }
    if (ok) {
        fs::remove_all(scratch);
    } else {
        std::fprintf(stderr, "recorders_bench: the files of the runs are kept in %s\n",
                     scratch.c_str());
    }
    return ok ? 0 : 1;
}
