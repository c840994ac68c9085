// The run loop with the stop-and-wait example as its hooks (this binary links
// examples/protocols/stop_and_wait.cpp), per acknowledged packet, on four
// links from examples/link.txt's to a 1 Gb/s link with 1 ms each way: from
// 23 to about 2 million ticks per exchange. A run covers kExchanges
// exchanges. While timed, the acknowledgements go to /dev/null, so the
// figures include formatting them but no terminal or disk.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "bench_support.h"
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

struct Link {
  double processingDelay, propagationDelay, bitRate, dataSize, overhead,
      ackSize, packetRate;
};

/// BM_RunLoopStopAndWait/N runs kLinks[N].
const Link kLinks[] = {
    {1, 5, 100, 800, 64, 128, 2},            // examples/link.txt: 23 ticks
    {1, 5000, 100, 800, 64, 128, 2},         // propagation delay 5000: 10,013
    {1000, 5000, 0.1, 800, 64, 128, 0.002},  // every time x1000: 21,920
    {1000, 1000000, 1, 11680, 320, 512, 0.001},  // 1 Gb/s, 1 ms: 2,014,512
};

constexpr double kExchanges = 2000;

/// Sets up `simulator` with `link`, for kExchanges exchanges and a little.
void configure(Simulator& simulator, const Link& link) {
  simulator.propagationDelay = link.propagationDelay;
  simulator.bitRate = link.bitRate;
  Node::setProcessingDelay(link.processingDelay);
  Node::setDataPacketSize(link.dataSize);
  Node::setDataOverhead(link.overhead);
  Node::setACKSize(link.ackSize);
  Node::setPacketRate(link.packetRate);
  // The example's period: a hop takes ceil(P + A + transfer time) ticks.
  const double wait = link.processingDelay + link.propagationDelay;
  const double period =
      std::ceil(wait + (link.dataSize + link.overhead) / link.bitRate) +
      std::ceil(wait + link.ackSize / link.bitRate);
  simulator.duration = (kExchanges + 0.5) * period;
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
  Simulator simulator;
  configure(simulator, kLinks[state.range(0)]);
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
      benchmark::DoNotOptimize(measuredRun(simulator));
      benchmark::ClobberMemory();
    }
  }
  std::fclose(null);
  reportUnits(state, "ack", static_cast<double>(acks));
}

}  // namespace

BENCHMARK(BM_RunLoopStopAndWait)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond);
