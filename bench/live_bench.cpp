// pgnlive's latency from a recorder's move to what it publishes, its memory and its idle cost.
//
//   build/bench/live_bench [--runs BOARDSxCLIENTS[@GAP_MS],...] [--moves N] [--gap MS]
//                          [--idle SECONDS] [--pgnlive PATH]
//   build/bench/live_bench --prepare FOLDER BOARDS
//
// The runs by default: 1x1,32x1,64x1,1x1000,64x1000,64x1000@0; 400 moves, a gap of 25 ms, 10 s
// idle. For each run: BOARDS session folders, each with a game in progress (40 to 99 plies of a
// random legal game) in chessrec.000.current.pgn, and pgnlive over them with --out and
// --listen 127.0.0.1:0; CLIENTS event clients on /events (Boost.Asio, one thread). Then, N
// times, one board after the other, the board's game grows by one move, written as the
// recorder writes it (a temporary file, flushed, renamed over), and the time is taken from
// the rename to
//   - the --out folder's game-N.pgn replaced with a game holding that move (a watch on the
//     folder, the file read back and its moves counted),
//   - the first, and every, client having the board's event holding it.
// One move at a time: the next is written once both have come, and no sooner than GAP ms
// after the one before (0: at once). The CPU per move of pgnlive and of this program (its
// games, its clients, its reads of --out: on a 2-core machine the clients share the cores with
// pgnlive) over the moves, then pgnlive's CPU and wake-ups over --idle seconds with nothing
// changing, and its peak resident memory (once it has ended) are given too. Each run is a
// process of its own (this program again, with --scratch), so that no run inherits the memory
// of the ones before it: the system counts what a program's starter held into its peak.
//
// --prepare makes BOARDS folders b1 ... bBOARDS under FOLDER, each with a game in progress of
// 60 to 80 moves, for live_load.sh.
//
// Everything runs on 127.0.0.1, in a scratch folder under the system's temporary folder that
// is removed at the end.
#include <array>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "live_spectators.h"
#include "live_support.h"
#include "platform/platform.h"
#include "platform/testkit.h"

namespace {

namespace asio = boost::asio;
namespace fs = std::filesystem;
using tcp = asio::ip::tcp;
using bench::Clock;
using bench::Expected;
using bench::Spectators;
using ErrorCode = boost::system::error_code;

// The --out folder, watched: tells when game-N.pgn holds the expected moves.
class OutWatch {
public:
    explicit OutWatch(std::string folder) : folder_(std::move(folder)) {
        watch_ = platform::CreateFolderWatch();
        ok_ = watch_.IsValid() && platform::WatchFolder(watch_, folder_.c_str(), 0);
        if (ok_) thread_ = std::thread([this] { Loop(); });
    }
    ~OutWatch() {
        if (thread_.joinable()) {
            stopping_ = true;
            platform::WakeFolderWatch(watch_);
            thread_.join();
        }
        platform::CloseFolderWatch(watch_);
    }
    bool Ok() const { return ok_; }

    void Expect(const Expected& expected) {
        std::lock_guard lock(mutex_);
        expected_ = expected;
        done_ = false;
    }

    bool Wait(Clock::time_point deadline, Clock::time_point* at) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_until(lock, deadline, [&] { return done_; })) return false;
        *at = at_;
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
            if (changed.empty()) continue;
            Expected expected;
            {
                std::lock_guard lock(mutex_);
                if (done_ || expected_.board == 0) continue;
                expected = expected_;
            }
            std::string text;
            const std::string path = folder_ + "/game-" + std::to_string(expected.board) + ".pgn";
            if (!bench::ReadWhole(path, &text) || bench::PliesOfText(text) < expected.plies)
                continue;
            {
                std::lock_guard lock(mutex_);
                if (expected_.round != expected.round) continue;
                done_ = true;
                at_ = at;
            }
            changed_.notify_all();
        }
    }

    std::string folder_;
    platform::FolderWatch watch_;
    bool ok_ = false;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Expected expected_;
    bool done_ = false;
    Clock::time_point at_;
};

struct Options {
    std::string pgnlive = PGNLIVE_BINARY;
    int moves = 400;
    int gapMs = 25;
    int idleSeconds = 10;
    std::string runs = "1x1,32x1,64x1,1x1000,64x1000,64x1000@0";
    std::string scratch;  // set: one run (the first of runs) in this folder, its row printed
};

struct Run {
    int boards = 1;
    int clients = 1;
    int gapMs = 25;
};

struct Figures {
    std::vector<double> outMs, firstMs, everyMs;
    int timeouts = 0;
    double cpuPerMoveMs = 0;
    double benchCpuPerMoveMs = 0;  // this program: its games, its clients, its reads of --out
    double idleCpuPercent = 0;
    double idleWakeUpsPerSecond = 0;
    double peakMb = 0;
    double floorMb = 0;  // what the system counts in peakMb for this program's own memory
};

std::string CurrentPath(const fs::path& folder) {
    return (folder / "chessrec.000.current.pgn").string();
}

// Board folders b1 ... under root, each with a game in progress of from to from + spread - 1
// plies (varying by board); games gets them.
bool MakeBoards(const fs::path& root, int boards, int from, int spread,
                std::vector<std::unique_ptr<bench::GrowingGame>>* games,
                std::vector<std::string>* folders) {
    for (int b = 1; b <= boards; ++b) {
        const fs::path folder = root / ("b" + std::to_string(b));
        fs::create_directories(folder);
        auto game = std::make_unique<bench::GrowingGame>(1000 + b);
        const int plies = from + (b * 17) % spread;
        while (game->Plies() < plies) {
            if (!game->Grow()) return false;
        }
        Clock::time_point ignored;
        if (!bench::WriteAsRecorder(CurrentPath(folder), game->Text(), &ignored)) {
            std::fprintf(stderr, "live_bench: cannot write in %s: %s\n", folder.c_str(),
                         platform::ReasonText(platform::LastError()).c_str());
            return false;
        }
        if (folders) folders->push_back(folder.string());
        if (games) games->push_back(std::move(game));
    }
    return true;
}

bool RunOne(const Options& options, const Run& run, const fs::path& scratch, Figures* figures) {
    const fs::path root = scratch / ("run-" + std::to_string(run.boards) + "x" +
                                     std::to_string(run.clients) + "@" + std::to_string(run.gapMs));
    std::vector<std::unique_ptr<bench::GrowingGame>> games;
    std::vector<std::string> folders;
    if (!MakeBoards(root, run.boards, 40, 60, &games, &folders)) return false;
    const fs::path out = root / "out";
    fs::create_directories(out);
    OutWatch outWatch(out.string());
    if (!outWatch.Ok()) {
        std::fprintf(stderr, "live_bench: cannot watch %s\n", out.c_str());
        return false;
    }

    // The system counts into a program's peak memory what this one held when it started it:
    // a program that ends at once, started here now, tells how much that is.
    {
        platform::testkit::Process help;
        platform::testkit::ProcessOptions helpOptions;
        helpOptions.args = {options.pgnlive, "--help"};
        if (help.Start(helpOptions) && help.Wait(10000) == 0)
            figures->floorMb = static_cast<double>(help.PeakMemoryKb()) / 1024.0;
    }
    platform::testkit::Process pgnlive;
    std::vector<std::string> args = {"--out", out.string(), "--listen", "127.0.0.1:0"};
    args.insert(args.end(), folders.begin(), folders.end());
    std::uint16_t port = 0;
    if (!bench::StartPgnlive(pgnlive, options.pgnlive, args, (root / "pgnlive.err").string(),
                             &port))
        return false;

    bool ok = true;
    {
        Spectators spectators(run.boards, port, run.clients);
        ok = spectators.Connect();
        platform::testkit::ProcessUse before;
        pgnlive.GetUse(&before);
        const std::clock_t ownBefore = std::clock();
        const Clock::time_point start = Clock::now();
        for (int i = 0; ok && i < options.moves; ++i) {
            const int board = i % run.boards + 1;
            bench::GrowingGame& game = *games[board - 1];
            if (!game.Grow()) break;
            const Expected expected{i + 1, board, game.Plies()};
            outWatch.Expect(expected);
            spectators.Expect(expected);
            Clock::time_point renamed;
            if (!bench::WriteAsRecorder(CurrentPath(folders[board - 1]), game.Text(), &renamed)) {
                std::fprintf(stderr, "live_bench: cannot write in %s: %s\n",
                             folders[board - 1].c_str(),
                             platform::ReasonText(platform::LastError()).c_str());
                ok = false;
                break;
            }
            const Clock::time_point deadline = renamed + std::chrono::seconds(5);
            Clock::time_point outAt, first, every;
            const bool outCame = outWatch.Wait(deadline, &outAt);
            const bool eventCame = spectators.Wait(deadline, &first, &every);
            auto since = [&](Clock::time_point at) { return bench::Milliseconds(at - renamed); };
            if (outCame) figures->outMs.push_back(since(outAt));
            if (eventCame) {
                figures->firstMs.push_back(since(first));
                figures->everyMs.push_back(since(every));
            }
            if (!outCame || !eventCame) ++figures->timeouts;
            std::this_thread::sleep_until(start + std::chrono::milliseconds(run.gapMs) * (i + 1));
        }
        platform::testkit::ProcessUse after;
        pgnlive.GetUse(&after);
        figures->benchCpuPerMoveMs =
            static_cast<double>(std::clock() - ownBefore) * 1000.0 / CLOCKS_PER_SEC / options.moves;
        figures->cpuPerMoveMs =
            static_cast<double>(after.cpuMicroseconds - before.cpuMicroseconds) / 1000.0 /
            options.moves;
        if (ok && options.idleSeconds > 0) {
            std::this_thread::sleep_for(std::chrono::seconds(1));  // the last writes settle
            pgnlive.GetUse(&before);
            std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
            pgnlive.GetUse(&after);
            figures->idleCpuPercent =
                static_cast<double>(after.cpuMicroseconds - before.cpuMicroseconds) / 1e4 /
                options.idleSeconds;
            figures->idleWakeUpsPerSecond =
                static_cast<double>(after.wakeUps - before.wakeUps) / options.idleSeconds;
        }
        if (spectators.Failed() > 0) {
            std::fprintf(stderr, "live_bench: %d event clients lost their connection\n",
                         spectators.Failed());
            ok = false;
        }
    }
    const int code = bench::StopProgram(pgnlive);
    figures->peakMb = static_cast<double>(pgnlive.PeakMemoryKb()) / 1024.0;
    if (code != 0) {
        std::fprintf(stderr, "live_bench: pgnlive ended with %d; see %s\n", code,
                     (root / "pgnlive.err").c_str());
        ok = false;
    }
    return ok;
}

bool ReadRuns(const std::string& text, int defaultGap, std::vector<Run>* runs) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(',', at);
        if (end == std::string::npos) end = text.size();
        const std::string item = text.substr(at, end - at);
        Run run;
        run.gapMs = defaultGap;
        char extra = 0;
        if (std::sscanf(item.c_str(), "%dx%d@%d%c", &run.boards, &run.clients, &run.gapMs, &extra) <
                2 ||
            extra != 0 || run.boards < 1 || run.clients < 1 || run.gapMs < 0)
            return false;
        runs->push_back(run);
        at = end + 1;
    }
    return !runs->empty();
}

std::string Pair(const std::vector<double>& values) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f / %.1f", bench::Percentile(values, 0.5),
                  bench::Percentile(values, 0.99));
    return text;
}

int Usage() {
    std::fprintf(stderr,
                 "Usage : live_bench [--runs BOARDSxCLIENTS[@GAP_MS],...] [--moves N] [--gap MS] "
                 "[--idle SECONDS] [--pgnlive PATH]\n"
                 "        live_bench --prepare FOLDER BOARDS\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--prepare" && i + 2 < argc) {
            const int boards = std::atoi(argv[i + 2]);
            if (boards < 1) return Usage();
            // 60 to 80 moves: 120 to 160 plies.
            return MakeBoards(argv[i + 1], boards, 120, 41, nullptr, nullptr) ? 0 : 1;
        } else if (arg == "--runs" && hasValue) {
            options.runs = argv[++i];
        } else if (arg == "--moves" && hasValue) {
            options.moves = std::atoi(argv[++i]);
        } else if (arg == "--gap" && hasValue) {
            options.gapMs = std::atoi(argv[++i]);
        } else if (arg == "--idle" && hasValue) {
            options.idleSeconds = std::atoi(argv[++i]);
        } else if (arg == "--pgnlive" && hasValue) {
            options.pgnlive = argv[++i];
        } else if (arg == "--scratch" && hasValue) {
            options.scratch = argv[++i];
        } else {
            return Usage();
        }
    }
    std::vector<Run> runs;
    if (options.moves < 1 || !ReadRuns(options.runs, options.gapMs, &runs)) return Usage();
    if (!options.scratch.empty()) {
        // One run, in a process of its own: its table row on standard output.
        Figures figures;
        if (!RunOne(options, runs.front(), options.scratch, &figures)) return 1;
        const Run& run = runs.front();
        const std::string pace =
            run.gapMs > 0 ? "a move every " + std::to_string(run.gapMs) + " ms" : "full speed";
        char peak[48];
        if (figures.peakMb > figures.floorMb + 0.05) {
            std::snprintf(peak, sizeof peak, "%.1f MB", figures.peakMb);
        } else {
            std::snprintf(peak, sizeof peak, "at most %.1f MB", figures.floorMb);
        }
        std::printf(
            "| %d | %d | %s | %s | %s | %s | %.1f | %d | %.2f ms, %.2f ms | %.2f %%, %.1f | %s |\n",
            run.boards, run.clients, pace.c_str(), Pair(figures.outMs).c_str(),
            Pair(figures.firstMs).c_str(), Pair(figures.everyMs).c_str(),
            bench::Percentile(figures.everyMs, 1.0), figures.timeouts, figures.cpuPerMoveMs,
            figures.benchCpuPerMoveMs, figures.idleCpuPercent, figures.idleWakeUpsPerSecond, peak);
        return 0;
    }

    char self[4096];
    if (!platform::ExecutablePath(self, sizeof self)) {
        std::fprintf(stderr, "live_bench: cannot find its own program: %s\n",
                     platform::ReasonText(platform::LastError()).c_str());
        return 1;
    }
    const fs::path scratch = fs::temp_directory_path() /
                             ("chessrec-live-bench-" + std::to_string(std::random_device()()));
    fs::create_directories(scratch);
    std::printf(
        "%d moves a run, one at a time; milliseconds from the rename of the game in "
        "progress, p50 / p99\n\n",
        options.moves);
    std::printf(
        "| Boards | Event clients | Pace | --out game-N.pgn | First client | Every client | "
        "Every client, max | Timeouts | CPU per move: pgnlive, this bench | "
        "pgnlive idle: CPU, wake-ups/s | pgnlive peak RSS |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush(stdout);
    bool ok = true;
    // Each run in a new process: none inherits the memory of the runs before it, which the
    // system would count into pgnlive's peak.
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const Run& run = runs[i];
        const fs::path folder = scratch / std::to_string(i + 1);
        fs::create_directories(folder);
        platform::testkit::Process child;
        platform::testkit::ProcessOptions runOptions;
        runOptions.args = {self,
                           "--runs",
                           std::to_string(run.boards) + "x" + std::to_string(run.clients) + "@" +
                               std::to_string(run.gapMs),
                           "--moves",
                           std::to_string(options.moves),
                           "--idle",
                           std::to_string(options.idleSeconds),
                           "--pgnlive",
                           options.pgnlive,
                           "--scratch",
                           folder.string()};
        runOptions.outPath = (folder / "row.txt").string();
        runOptions.errPath = (folder / "err.txt").string();
        const bool ran = child.Start(runOptions) && child.Wait(3600 * 1000) == 0;
        std::string row;
        std::string err;
        bench::ReadWhole(runOptions.outPath, &row);
        bench::ReadWhole(runOptions.errPath, &err);
        std::fputs(err.c_str(), stderr);
        if (!ran || row.empty()) {
            ok = false;
            std::printf("| %d | %d | failed; see standard error |\n", run.boards, run.clients);
        } else {
            std::fputs(row.c_str(), stdout);
        }
        std::fflush(stdout);
    }
    if (ok)
        fs::remove_all(scratch);
    else
        std::fprintf(stderr, "live_bench: the files of the runs are kept in %s\n", scratch.c_str());
    return ok ? 0 : 1;
}
