// Packet delivery: N packets with spread ready-to-send times wait in the
// source's outgoing queue, in a shuffled order, and the run loop moves them
// to the sink, one per tick. Every move copies both queues into new arrays,
// so the time per packet grows in proportion to N.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "simulator/Simulator.h"

namespace {

void BM_Delivery(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  // Packet i is ready at time i and due two units later (size 100 at bit
  // rate 100, propagation delay 1), so it moves in the tick of clock i + 1.
  std::vector<Packet> packets(static_cast<std::size_t>(count));
  std::vector<int> order(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    packets[static_cast<std::size_t>(i)].setReadyToSendTime(i);
    packets[static_cast<std::size_t>(i)].setSize(100.0);
    order[static_cast<std::size_t>(i)] = i;
  }
  std::shuffle(order.begin(), order.end(), std::mt19937(12345));

  for (auto _ : state) {
    state.PauseTiming();
    auto simulator = std::make_unique<Simulator>();
    simulator->propagationDelay = 1.0;
    simulator->bitRate = 100.0;
    simulator->duration = count + 2.0;
    for (int i : order) {
      simulator->source.outgoingQueue.enqueuePacket(
          &packets[static_cast<std::size_t>(i)], kByReadyToSendTime);
    }
    state.ResumeTiming();

    simulator->simulate();

    state.PauseTiming();
    if (simulator->sink.incomingQueue.getLength() != count) {
      state.SkipWithError("not every packet was delivered");
    }
    simulator.reset();
    state.ResumeTiming();
  }
  state.counters["time_per_packet"] =
      benchmark::Counter(count, benchmark::Counter::kIsIterationInvariantRate |
                                    benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_Delivery)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);
