// The shipped program's run: the empty hooks say they are idle for good and
// no packet is ever queued, so a run of any duration is one tick and a skip
// to the end. 2^53 is the longest duration verify accepts.

#include <benchmark/benchmark.h>

#include <cmath>

#include "bench_support.h"
#include "simulator/Simulator.h"

namespace {

/// BM_RunLoopEmpty/E: a run of duration 2^E.
void BM_RunLoopEmpty(benchmark::State& state) {
  Simulator simulator;
  simulator.propagationDelay = 1.0;
  simulator.bitRate = 100.0;
  simulator.duration = std::ldexp(1.0, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(measuredRun(simulator));
    benchmark::ClobberMemory();
  }
  reportUnits(state, "run", 1);
}

}  // namespace

BENCHMARK(BM_RunLoopEmpty)
    ->Arg(20)
    ->Arg(40)
    ->Arg(53)
    ->Unit(benchmark::kNanosecond);
