// The run loop with the stop-and-wait example as its hooks (this binary links
// examples/protocols/stop_and_wait.cpp) on long runs of examples/link.txt's
// link: time per tick and per acknowledged packet, to set beside
// BM_RunLoopEmpty. While timed, the acknowledgements go to /dev/null, so the
// figures include formatting them but no terminal or disk.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>

#include "simulator/Simulator.h"

namespace {

/// Points standard output at the open descriptor `fd` while in scope.
class ScopedStdout {
 public:
  explicit ScopedStdout(int fd) {
    std::fflush(stdout);
    saved = dup(1);
    dup2(fd, 1);
  }
  ~ScopedStdout() {
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
  ScopedStdout(const ScopedStdout&) = delete;
  ScopedStdout& operator=(const ScopedStdout&) = delete;

 private:
  int saved = -1;
};

/// The link of examples/link.txt with the duration `duration`.
void configure(Simulator& simulator, double duration) {
  simulator.propagationDelay = 5.0;
  simulator.bitRate = 100.0;
  simulator.duration = duration;
  Node::setProcessingDelay(1.0);
  Node::setDataPacketSize(800.0);
  Node::setDataOverhead(64.0);
  Node::setACKSize(128.0);
  Node::setPacketRate(2.0);
}

/// Lines one run of `simulator` writes, counted from a scratch file; -1 when
/// there is no scratch file.
long countLines(Simulator& simulator) {
  FILE* scratch = std::tmpfile();
  if (scratch == nullptr) return -1;
  {
    const ScopedStdout toScratch(fileno(scratch));
    simulator.simulate();
  }
  std::rewind(scratch);
  long lines = 0;
  for (int c = std::fgetc(scratch); c != EOF; c = std::fgetc(scratch)) {
    if (c == '\n') ++lines;
  }
  std::fclose(scratch);
  return lines;
}

void BM_RunLoopStopAndWait(benchmark::State& state) {
  const double ticks = static_cast<double>(state.range(0));
  Simulator simulator;
  configure(simulator, ticks);
  const long acks = countLines(simulator);
  FILE* null = std::fopen("/dev/null", "w");
  if (acks <= 0 || null == nullptr) {
    state.SkipWithError("no acknowledgements to count");
    if (null != nullptr) std::fclose(null);
    return;
  }
  {
    const ScopedStdout quiet(fileno(null));
    for (auto _ : state) {
      benchmark::DoNotOptimize(simulator.simulate());
      benchmark::ClobberMemory();
    }
  }
  std::fclose(null);
  const auto perItem = benchmark::Counter::kIsIterationInvariantRate |
                       benchmark::Counter::kInvert;
  state.counters["time_per_tick"] = benchmark::Counter(ticks, perItem);
  state.counters["time_per_ack"] =
      benchmark::Counter(static_cast<double>(acks), perItem);
  state.counters["acks"] = static_cast<double>(acks);
}

}  // namespace

BENCHMARK(BM_RunLoopStopAndWait)
    ->Arg(1000000)
    ->Arg(10000000)
    ->Unit(benchmark::kMillisecond);
