#ifndef LINKSIM_BENCH_BENCH_SUPPORT_H_
#define LINKSIM_BENCH_BENCH_SUPPORT_H_

// Shared by the benchmarks. Each case's timed loop calls one function whose
// name starts with "measured" once per iteration, and reports how many units
// (ticks or acknowledged packets) an iteration covers: bench/measure.sh counts
// the instructions inside those functions with callgrind and divides by the
// units, beside the wall times the benchmark library reports per unit.

#include <benchmark/benchmark.h>

#include "simulator/Simulator.h"

/// One run of `simulator`, out of line so that callgrind can find it.
[[gnu::noinline]] inline int measuredRun(Simulator& simulator) {
  return simulator.simulate();
}

/// Reports `units` (e.g. "tick") per iteration: the counter "ticks" holds
/// their number and "time_per_tick" the time each took.
inline void reportUnits(benchmark::State& state, const std::string& unit,
                        double count) {
  state.counters[unit + "s"] = count;
  state.counters["time_per_" + unit] =
      benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate |
                                    benchmark::Counter::kInvert);
}

#endif  // LINKSIM_BENCH_BENCH_SUPPORT_H_
