// The run loop with one of the kit's ARQ protocols as its hooks (this program
// links the one BENCH_PROTOCOL names: 1 stop-and-wait, 2 go-back-n, 3
// selective-repeat):
//   BM_PerAck/N    without loss, per acknowledged packet, window 8, on four
//                  links from examples/link.txt's to a 1 Gb/s link with 1 ms
//                  each way: from 23 to about 2 million ticks per exchange;
//   BM_PerFrame/L  per frame put on the link (data and ACKs, sends and
//                  resends), window 8, on examples/link.txt with a frame loss
//                  of L percent: what loss costs beyond the frames it adds;
//   BM_Window/W    (go-back-n) per acknowledged packet with a window of W on
//                  a link 50,000 ticks long each way, a frame a tick: W
//                  frames in flight, and the peak heap beside W packets.
//   BM_SameTick/W  (go-back-n) per frame put on the link, window W, frame
//                  loss 0.5, on a link whose frames take 2 microticks each
//                  way: every go-back sends up to W frames, all due in one
//                  tick, through the queues of the run loop.
// While timed, the acknowledgements go to /dev/null, so the figures include
// formatting them but no terminal or disk.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <new>
#include <string>

#include "bench_support.h"
#include "kit/variables.h"
#include "model/Packet.h"
#include "simulator/Simulator.h"

/// Heap bytes in use, and the most since the last reset, counted by this
/// program's own operator new and delete: a size before each block.
static std::size_t liveBytes = 0;
static std::size_t peakBytes = 0;

void* operator new(std::size_t size) {
  auto* block = static_cast<std::size_t*>(std::malloc(size + 16));
  if (block == nullptr) throw std::bad_alloc();
  *block = size;
  liveBytes += size;
  peakBytes = std::max(peakBytes, liveBytes);
  return block + 2;
}

void operator delete(void* pointer) noexcept {
  if (pointer == nullptr) return;
  std::size_t* block = static_cast<std::size_t*>(pointer) - 2;
  liveBytes -= *block;
  std::free(block);
}

void operator delete(void* pointer, std::size_t /*size*/) noexcept {
  operator delete(pointer);
}

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

/// BM_PerAck/N runs kLinks[N].
const Link kLinks[] = {
    {1, 5, 100, 800, 64, 128, 2},            // examples/link.txt: 23 ticks
    {1, 5000, 100, 800, 64, 128, 2},         // propagation delay 5000: 10,013
    {1000, 5000, 0.1, 800, 64, 128, 0.002},  // every time x1000: 21,920
    {1000, 1000000, 1, 11680, 320, 512, 0.001},  // 1 Gb/s, 1 ms: 2,014,512
};

/// Td 1 tick, ACKs a tenth of that, 50,000 ticks each way.
const Link kLongLink = {1, 50000, 1000, 960, 40, 100, 1};

/// Frames of 2 bits at 10^6 bits a tick, processing and propagation delays
/// of 0.001, 100 packets a tick: a round trip of 2 ticks, and a tick holds
/// hundreds of thousands of frames.
const Link kFastLink = {0.001, 0.001, 1000000, 1, 1, 1, 100};

/// Sets up `simulator` with `link` for `rounds` stop-and-wait round trips
/// and a half: a hop takes ceil(P + A + transfer time) ticks.
void configure(Simulator& simulator, const Link& link, double rounds) {
  simulator.propagationDelay = link.propagationDelay;
  simulator.bitRate = link.bitRate;
  Node::setProcessingDelay(link.processingDelay);
  Node::setDataPacketSize(link.dataSize);
  Node::setDataOverhead(link.overhead);
  Node::setACKSize(link.ackSize);
  Node::setPacketRate(link.packetRate);
  const double wait = link.processingDelay + link.propagationDelay;
  const double period =
      std::ceil(wait + (link.dataSize + link.overhead) / link.bitRate) +
      std::ceil(wait + link.ackSize / link.bitRate);
  simulator.duration = (rounds + 0.5) * period;
}

/// The kit's variables, in its lookup in place of the environment's.
kit::Lookup::Map& variables() {
  static kit::Lookup::Map map;
  return map;
}

/// Sets the kit's variables for the runs to come, the protocol started with
/// the first of them, as a program's entry would start it.
void useVariables(int window, const std::string& loss) {
  kit::Lookup::Map& map = variables();
  map.clear();
  // linksim-arq's hooks run the protocol the environment names.
  if (const char* arq = std::getenv("LINKSIM_ARQ")) map["LINKSIM_ARQ"] = arq;
  map["LINKSIM_WINDOW"] = std::to_string(window);
  map["LINKSIM_LOSS"] = loss;
  kit::variables().fill(&map);
  static const bool started = [] {
    std::string error;
    if (!Node::startProtocol(&error)) {
      std::fprintf(stderr, "linksim: %s\n", error.c_str());
      std::exit(2);
    }
    return true;
  }();
  (void)started;
}

/// Counts, in one run of `simulator`, the lines written, and the frames put
/// on the link from the run's trace; -1 where there is no scratch file.
void countRun(Simulator& simulator, long* lines, long* frames) {
  *lines = *frames = -1;
  const std::string trace =
      "/tmp/linksim_bench_trace." + std::to_string(getpid());
  FILE* scratch = std::tmpfile();
  if (scratch == nullptr) return;
  variables()["LINKSIM_TRACE"] = trace;
  {
    const ScopedStdout toScratch(fileno(scratch));
    simulator.simulate();
  }
  variables().erase("LINKSIM_TRACE");
  std::rewind(scratch);
  *lines = 0;
  for (int c = std::fgetc(scratch); c != EOF; c = std::fgetc(scratch)) {
    if (c == '\n') ++*lines;
  }
  std::fclose(scratch);
  std::ifstream rows(trace);
  *frames = 0;
  for (std::string row; std::getline(rows, row);) {
    if (row.find(",send,") != std::string::npos ||
        row.find(",resend,") != std::string::npos) {
      ++*frames;
    }
  }
  std::remove(trace.c_str());
}

/// Times runs of `simulator` with its output thrown away, and reports them
/// per `unit`, `count` of them in a run.
void timeRuns(benchmark::State& state, Simulator& simulator,
              const std::string& unit, long count) {
  FILE* null = std::fopen("/dev/null", "w");
  if (count <= 0 || null == nullptr) {
    state.SkipWithError("nothing to count");
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
  reportUnits(state, unit, static_cast<double>(count));
}

void BM_PerAck(benchmark::State& state) {
  useVariables(8, "0");
  Simulator simulator;
  configure(simulator, kLinks[state.range(0)], 2000);
  long acks = 0;
  long frames = 0;
  countRun(simulator, &acks, &frames);
  timeRuns(state, simulator, "ack", acks);
}

void BM_PerFrame(benchmark::State& state) {
  useVariables(8, std::to_string(state.range(0) / 100.0));
  Simulator simulator;
  configure(simulator, kLinks[0], 2000);
  long acks = 0;
  long frames = 0;
  countRun(simulator, &acks, &frames);
  timeRuns(state, simulator, "frame", frames);
  state.counters["acks_per_frame"] = static_cast<double>(acks) / frames;
}

#if BENCH_PROTOCOL == 2
void BM_Window(benchmark::State& state) {
  const int window = static_cast<int>(state.range(0));
  useVariables(window, "0");
  Simulator simulator;
  // Enough round trips for some 50,000 ACKs, and at least two.
  configure(simulator, kLongLink, std::max(2.0, 50000.0 / window));
  long acks = 0;
  long frames = 0;
  countRun(simulator, &acks, &frames);
  peakBytes = liveBytes;
  timeRuns(state, simulator, "ack", acks);
  state.counters["peak_heap_per_packet_of_window"] =
      static_cast<double>(peakBytes) / (window * sizeof(Packet));
}

void BM_SameTick(benchmark::State& state) {
  useVariables(static_cast<int>(state.range(0)), "0.5");
  Simulator simulator;
  configure(simulator, kFastLink, 1);
  simulator.duration = 200;
  long acks = 0;
  long frames = 0;
  countRun(simulator, &acks, &frames);
  timeRuns(state, simulator, "frame", frames);
}
#endif

}  // namespace

BENCHMARK(BM_PerAck)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PerFrame)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);
#if BENCH_PROTOCOL == 2  // the window's cost is the kit's, the same for all
BENCHMARK(BM_Window)->Arg(8)->Arg(512)->Arg(4096)->Arg(32768)->Arg(65536)->Unit(
    benchmark::kMillisecond);
BENCHMARK(BM_SameTick)
    ->Arg(8)
    ->Arg(4096)
    ->Arg(65536)
    ->Unit(benchmark::kMillisecond);
#endif
