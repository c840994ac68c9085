// The run loop where every tick is a real one (this binary's hooks do nothing
// and never say they are idle, every queue empty) beside two reference
// loops: the floor, a clock advanced by 1.0 and compared with the duration
// and nothing else, and the run loop as first written, with every step
// working on Time directly and hooks the compiler cannot see into.

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "model/Time.h"
#include "outofline_hooks.h"
#include "simulator/Simulator.h"

namespace {

/// The least work a tick can cost: one dependent addition and a comparison.
[[gnu::noinline]] double measuredFloorLoop(double duration) {
  double clock = 0.0;
  while (duration > clock) clock += 1.0;
  return clock;
}

/// The delivery of the run loop as first written: it reads Time every time.
void designDeliver(Simulator& simulator, Node& from, Node& to) {
  PacketQueue& outgoing = from.outgoingQueue;
  while (outgoing.getLength() > 0 &&
         (outgoing.getLeastTime() + simulator.propagationDelay) +
                 outgoing.getLeastSize() / simulator.bitRate <=
             Time::getTime() + 1.0) {
    Packet* packet =
        outgoing.dequeuePacket(outgoing.getLeastIndex(), kByReadyToSendTime);
    to.incomingQueue.enqueuePacket(packet, kByReadyToSendTime);
  }
}

/// The run loop as first written, with out-of-line stand-ins for the hooks.
[[gnu::noinline]] void measuredDesignLoop(Simulator& simulator) {
  Time::start();
  while (simulator.duration > Time::getTime()) {
    outOfLineGeneratePackets(simulator.source);
    outOfLineSendPackets(simulator.source);
    outOfLineSendPackets(simulator.sink);
    designDeliver(simulator, simulator.source, simulator.sink);
    designDeliver(simulator, simulator.sink, simulator.source);
    Time::increase();
  }
}

/// A simulator with settings that verification would accept.
void configure(Simulator& simulator, double duration) {
  simulator.propagationDelay = 1.0;
  simulator.bitRate = 100.0;
  simulator.duration = duration;
}

void BM_FloorLoop(benchmark::State& state) {
  double duration = static_cast<double>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(duration);
    double clock = measuredFloorLoop(duration);
    benchmark::DoNotOptimize(clock);
  }
  reportUnits(state, "tick", duration);
}

void BM_RunLoopEveryTick(benchmark::State& state) {
  Simulator simulator;
  configure(simulator, static_cast<double>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(measuredRun(simulator));
    benchmark::ClobberMemory();
  }
  reportUnits(state, "tick", simulator.duration);
}

void BM_DesignLoopOutOfLineHooks(benchmark::State& state) {
  Simulator simulator;
  configure(simulator, static_cast<double>(state.range(0)));
  for (auto _ : state) {
    measuredDesignLoop(simulator);
    benchmark::ClobberMemory();
  }
  reportUnits(state, "tick", simulator.duration);
}

}  // namespace

BENCHMARK(BM_FloorLoop)
    ->Arg(1000000)
    ->Arg(100000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunLoopEveryTick)
    ->Arg(1000000)
    ->Arg(100000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DesignLoopOutOfLineHooks)
    ->Arg(1000000)
    ->Arg(100000000)
    ->Unit(benchmark::kMillisecond);
