// The recorder's figures: replay throughput, the cost of one save as the PGN file grows,
// the cost of keeping the game in progress on disk, and peak memory against the number of
// games of a session.
//
//   build/bench/recorder_bench
//
// Replays and saves run in process, on files in a scratch folder under /tmp; the memory
// figures run the chessrec program itself (it must be built beside this one).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "board/protocol.h"
#include "chess/position.h"
#include "game/partie.h"
#include "pgn/fichier.h"
#include "pgn/game_in_progress.h"
#include "pgn/save.h"
#include "platform/testkit.h"
#include "recorder/record_format.h"
#include "recorder/startup.h"
#include "session/session.h"

namespace {

namespace fs = std::filesystem;

fs::path Scratch() {
    static fs::path folder = [] {
        fs::path path = fs::temp_directory_path() /
                        ("chessrec-bench-" + std::to_string(std::random_device()()));
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

void AppendRecord(std::string& file, const std::string& data) {
    file += RecordBytes(data);
}

std::string Move(int from, int to) {
    return MoveMessage(static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to));
}

// A record file of games: 1. e4 e5, then the kings step out and back, a new game after
// every 40 moves; one record per message, as a board sends them. *messages gets the count.
std::string SessionRecords(int games, long* messages) {
    const std::string kNewGame = NewGameMessage();
    std::string file;
    AppendRecord(file, kNewGame);  // the board's greeting
    *messages = 1;
    for (int g = 0; g < games; ++g) {
        AppendRecord(file, Move(0x14, 0x34));
        AppendRecord(file, Move(0x64, 0x44));
        const int steps[4][2] = {{0x04, 0x14}, {0x74, 0x64}, {0x14, 0x04}, {0x64, 0x74}};
        for (int i = 0; i < 38; ++i)
            AppendRecord(file, Move(steps[i % 4][0], steps[i % 4][1]));
        AppendRecord(file, kNewGame);
        *messages += 41;
    }
    return file;
}

// Console lines go to the null device while a replay runs.
class QuietConsole {
public:
    QuietConsole() : saved_(platform::testkit::SilenceStandardOutput()) {}
    ~QuietConsole() { platform::testkit::RestoreStandardOutput(saved_); }

private:
    platform::FileHandle saved_;
};

// Replaying a session of range(0) games of 40 moves: board messages and record-file bytes
// per second. The log, the console and the saves at each new game are all part of it.
void BM_Replay(benchmark::State& state) {
    long messages = 0;
    std::string records = SessionRecords(static_cast<int>(state.range(0)), &messages);
    fs::path folder = Scratch() / "replay";
    fs::create_directories(folder);
    std::ofstream(folder / "session.rec", std::ios::binary) << records;
    QuietConsole quiet;
    const std::string record = (folder / "session.rec").string();
    const std::string stem = (folder / "bench.").string();
    for (auto _ : state) {
        fs::remove(folder / "bench.000.pgn");
        ResetSession();
        RecorderRun run;
        run.replayPath = record.c_str();
        if (OpenSessionFiles(run, stem.c_str()) || OpenInput(run)) {
            state.SkipWithError("cannot open the session");
            break;
        }
        StartGame(run);
        Capture(run);
        Shutdown(run);
    }
    ResetSession();
    state.counters["messages/s"] = benchmark::Counter(
        static_cast<double>(messages), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * records.size()));
}
// One game (no save) shows the cost of decoding, playing, logging and printing alone.
BENCHMARK(BM_Replay)->Arg(1)->Arg(20)->Unit(benchmark::kMillisecond)->UseRealTime();

// One save of a 40-move game into a PGN file that already holds range(0) bytes.
void BM_SaveInto(benchmark::State& state) {
    fs::path folder = Scratch() / ("save-" + std::to_string(state.range(0)));
    fs::create_directories(folder);
    const std::string pgn = (folder / "bench.pgn").string();
    std::string filler;
    while (filler.size() < static_cast<std::size_t>(state.range(0))) {
        filler += "[Event \"?\"]\r\n\r\n *\r\n\r\n";
    }
    std::ofstream(folder / "bench.pgn", std::ios::binary) << filler;
    for (auto _ : state) {
        state.PauseTiming();
        auto* game = new CPartie;
        CPosition* pos = &game->startingPosition;
        pos = pos->Play(12, 28, nullptr, 0);
        pos = pos->Play(52, 36, nullptr, 0);
        for (int i = 0; i < 38; ++i) {
            const Square steps[4][2] = {{4, 12}, {60, 52}, {12, 4}, {52, 60}};
            pos = pos->Play(steps[i % 4][0], steps[i % 4][1], nullptr, 0);
        }
        TheSession().currentGame = game;
        // Each save appends; cut the file back so every save sees the same size.
        fs::resize_file(folder / "bench.pgn", filler.size());
        state.ResumeTiming();
        CFichier file(pgn.c_str());
        if (SaveGame(file) != 0) delete game;
        TheSession().currentGame = nullptr;
    }
}
BENCHMARK(BM_SaveInto)
    ->Arg(10 << 10)
    ->Arg(1 << 20)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One write of the game in progress, as a live session makes after every move: a game of
// range(0) moves written whole to a temporary file, flushed, and renamed over the last.
void BM_KeepGameInProgress(benchmark::State& state) {
    fs::path folder = Scratch() / "keep";
    fs::create_directories(folder);
    const std::string path = (folder / "bench.000.current.pgn").string();
    ResetSession();
    CPosition* pos = nullptr;
    StartNewGame(pos);
    KeepGameInProgressAt(path.c_str());
    pos = pos->Play(12, 28, nullptr, 0);
    pos = pos->Play(52, 36, nullptr, 0);
    for (int i = 0; i + 2 < state.range(0); ++i) {
        const Square steps[4][2] = {{4, 12}, {60, 52}, {12, 4}, {52, 60}};
        pos = pos->Play(steps[i % 4][0], steps[i % 4][1], nullptr, 0);
    }
    for (auto _ : state) {
        KeepGameInProgress();
        if (TheSession().gameInProgressFailing) state.SkipWithError("cannot write the game");
    }
    ResetSession();
}
BENCHMARK(BM_KeepGameInProgress)->Arg(40)->Arg(200)->Unit(benchmark::kMicrosecond);

// Peak memory of a whole replay by the chessrec program, against the number of games.
void BM_PeakMemory(benchmark::State& state) {
    long messages = 0;
    std::string records = SessionRecords(static_cast<int>(state.range(0)), &messages);
    fs::path folder = Scratch() / ("memory-" + std::to_string(state.range(0)));
    fs::create_directories(folder);
    std::ofstream(folder / "session.rec", std::ios::binary) << records;
    char self[4096];
    if (!platform::ExecutablePath(self, sizeof self)) state.SkipWithError("no executable path");
    std::string program = (fs::path(self).parent_path().parent_path() / "chessrec").string();
    long peakKb = 0;
    for (auto _ : state) {
        fs::remove(folder / "chessrec.000.pgn");
        platform::testkit::Process chessrec;
        platform::testkit::ProcessOptions options;
        options.args = {program, (folder / "session.rec").string()};
        options.env = {"CHESSREC_DIR=" + folder.string()};
        if (!chessrec.Start(options) || chessrec.Wait(600000) != 0) {
            state.SkipWithError("chessrec failed");
        }
        peakKb = static_cast<long>(chessrec.PeakMemoryKb());
    }
    state.counters["peak_KB"] = static_cast<double>(peakKb);
}
BENCHMARK(BM_PeakMemory)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Scratch());
    return 0;
}
