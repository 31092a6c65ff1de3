// Playing and writing one move (Play, then WriteSAN) along a long game, as the recorder
// does for every move the board reports.
#include <benchmark/benchmark.h>

#include "chess/position.h"
#include "chess/san.h"

namespace {

void BM_PlayAndWriteSan(benchmark::State& state) {
    // An opening's worth of pieces on the board, and two knights that shuffle for ever.
    const Square walk[4][2] = {{6, 21}, {62, 45}, {21, 6}, {45, 62}};
    auto* start = new CPosition;
    CPosition* pos = start;
    char text[kSanBufferSize];
    std::int64_t played = 0;
    for (auto _ : state) {
        const Square* m = walk[played % 4];
        pos = pos->Play(m[0], m[1], pos->continuation, 0);
        benchmark::DoNotOptimize(WriteSAN(text, *pos->lastMove, 1, 0));
        if (++played % 20000 == 0) {  // keep the game's length realistic
            delete start;
            start = new CPosition;
            pos = start;
        }
    }
    delete start;
    state.SetItemsProcessed(played);
}
BENCHMARK(BM_PlayAndWriteSan);

}  // namespace

BENCHMARK_MAIN();
