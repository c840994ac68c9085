// The empty run loop (the hooks as they are, every queue empty) beside two
// reference loops: the floor, a clock advanced by 1.0 and compared with the
// duration and nothing else, and the run loop as first written, with every
// step working on Time directly, once with hooks the compiler cannot see
// into and once with the real hooks.
//
// Every case reports ns_per_tick; the ratios of docs/performance.md are the
// quotients of those figures.

#include <benchmark/benchmark.h>

#include "model/Time.h"
#include "outofline_hooks.h"
#include "simulator/Simulator.h"

namespace {

/// The least work a tick can cost: one dependent addition and a comparison.
double floorLoop(double duration) {
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
void designLoopOutOfLineHooks(Simulator& simulator) {
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

/// The run loop as first written, with the real hooks.
void designLoopRealHooks(Simulator& simulator) {
  Time::start();
  while (simulator.duration > Time::getTime()) {
    simulator.source.generatePackets();
    simulator.source.sendPackets();
    simulator.sink.sendPackets();
    designDeliver(simulator, simulator.source, simulator.sink);
    designDeliver(simulator, simulator.sink, simulator.source);
    Time::increase();
  }
}

void setTicks(benchmark::State& state, double ticks) {
  state.counters["time_per_tick"] =
      benchmark::Counter(ticks, benchmark::Counter::kIsIterationInvariantRate |
                                    benchmark::Counter::kInvert);
}

/// A simulator with settings that verification would accept.
void configure(Simulator& simulator, double duration) {
  simulator.propagationDelay = 1.0;
  simulator.bitRate = 100.0;
  simulator.duration = duration;
}

void BM_RunLoopEmpty(benchmark::State& state) {
  Simulator simulator;
  configure(simulator, static_cast<double>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(simulator.simulate());
    benchmark::ClobberMemory();
  }
  setTicks(state, static_cast<double>(state.range(0)));
}

void BM_FloorLoop(benchmark::State& state) {
  double duration = static_cast<double>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(duration);
    double clock = floorLoop(duration);
    benchmark::DoNotOptimize(clock);
  }
  setTicks(state, static_cast<double>(state.range(0)));
}

void BM_DesignLoopOutOfLineHooks(benchmark::State& state) {
  Simulator simulator;
  configure(simulator, static_cast<double>(state.range(0)));
  for (auto _ : state) {
    designLoopOutOfLineHooks(simulator);
    benchmark::ClobberMemory();
  }
  setTicks(state, static_cast<double>(state.range(0)));
}

void BM_DesignLoopRealHooks(benchmark::State& state) {
  Simulator simulator;
  configure(simulator, static_cast<double>(state.range(0)));
  for (auto _ : state) {
    designLoopRealHooks(simulator);
    benchmark::ClobberMemory();
  }
  setTicks(state, static_cast<double>(state.range(0)));
}

}  // namespace

BENCHMARK(BM_FloorLoop)
    ->Arg(1000000)
    ->Arg(100000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunLoopEmpty)
    ->Arg(1000000)
    ->Arg(100000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DesignLoopOutOfLineHooks)
    ->Arg(1000000)
    ->Arg(100000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DesignLoopRealHooks)
    ->Arg(1000000)
    ->Arg(100000000)
    ->Unit(benchmark::kMillisecond);
