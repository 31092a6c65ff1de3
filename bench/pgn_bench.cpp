// Reading PGN text back into games, as pgnlive reads a session's PGN file: 10 MB of the
// recorder's own games (the Opera Game, as the recorder saves it, over and over).
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>

#include "pgn/reader.h"

namespace {

void BM_ReadRecorderGames(benchmark::State& state) {
    std::ifstream in(CHESSREC_SAMPLES "/opera_game.pgn", std::ios::binary);
    const std::string game((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string text;
    while (!game.empty() && text.size() < 10u * 1024 * 1024)
        text += game + "\r\n";
    std::size_t games = 0;
    for (auto _ : state)
        games = ReadPgnGames(text).size();
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
    state.counters["games"] = static_cast<double>(games);
}
BENCHMARK(BM_ReadRecorderGames)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
