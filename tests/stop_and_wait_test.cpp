// The stop-and-wait example (linked as this binary's hooks) against the closed
// form of its opening comment: ACK k is written at s(k) + D, with
// s(k) = max(ceil(k / rate), k * D), while that is below the duration.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "protocol_test_support.h"
#include "simulator/Simulator.h"

/// Heap blocks alive, counted by this binary's own operator new and delete:
/// unlike the allocator's figures, a count cannot be blurred by caches.
static long liveBlocks = 0;

void* operator new(std::size_t size) {
  void* block = std::malloc(size > 0 ? size : 1);
  if (block == nullptr) std::abort();
  ++liveBlocks;
  return block;
}

void operator delete(void* block) noexcept {
  if (block != nullptr) --liveBlocks;
  std::free(block);
}

void operator delete(void* block, std::size_t /*size*/) noexcept {
  operator delete(block);
}

namespace {

struct Link {
  const char* name;
  LinkSettings settings;
};

// D is the discrete period, T the textbook's; then the ACKs of a run.
const Link kLinks[] = {
    // D = 15 + 8 = 23, T = 21.92: 21 (textbook 22, with 2 ticks more 20).
    {"examples/link.txt", {1, 5, 100, 800, 64, 128, 500, 2}},
    // D = 10 + 7 = T, due times on a tick's end, the 10th ACK at the end: 9.
    {"whole ticks", {1, 4, 100, 400, 100, 200, 170, 2}},
    {"whole ticks, rate 1",
     {2, 3, 64, 192, 64, 64, 1000, 1}},  // D = T = 15: 66
    // Td 3.125, Ta 0.375: D = 6 + 4 = 10, T = 9: 29 (27 to 33).
    {"no stage whole", {0.5, 2.25, 8, 21, 4, 3, 300, 1}},
    // Hops 2.0625 and 1.8125: D = 3 + 2 = 5, T = 3.875: 199 (170 to 258).
    {"a tick lost per hop", {0.25, 1.5, 16, 4, 1, 1, 1000, 1}},
    // A packet every 25.6 ticks against D = 23: 19 where the link allows 21.
    {"rate-limited", {1, 5, 100, 800, 64, 128, 500, 0.0390625}},
};

double discretePeriod(const LinkSettings& l) {
  const double wait = l.processingDelay + l.propagationDelay;
  return std::ceil(wait + l.dataTime()) + std::ceil(wait + l.ackTime());
}

/// Cycles of length `period` that end before the run does.
size_t cyclesBefore(const LinkSettings& l, double period) {
  return static_cast<size_t>(std::ceil(l.duration / period)) - 1;
}

TEST(StopAndWaitTest, AcknowledgesEveryPacketInTurnAtTheDerivedClock) {
  const TestVariables variables;  // none set
  for (const auto& [name, link] : kLinks) {
    Simulator simulator;
    configure(simulator, link);
    const Acks acks = runForAcks(simulator);
    const double period = discretePeriod(link);
    Acks expected;
    for (int k = 0;; ++k) {
      const double sent = std::max(std::ceil(k / link.packetRate), k * period);
      if (sent + period >= link.duration) break;
      expected.emplace_back(k, sent + period);
    }
    EXPECT_EQ(acks, expected) << name;
    EXPECT_LE(simulator.source.firstQueue.getLength(), 16) << name;
    if (1 / link.packetRate <= period) {  // the link is the limit
      EXPECT_LE(cyclesBefore(link, link.textbookPeriod() + 2), acks.size())
          << name;
      EXPECT_LE(acks.size(), cyclesBefore(link, link.textbookPeriod())) << name;
    }
  }
}

TEST(StopAndWaitTest, EveryRunStartsAfreshWhateverEarlierRunsLeft) {
  const TestVariables variables;  // none set
  // Each run ends with packets queued. A simulator that runs again must not
  // see them, nor find them freed by another simulator's run.
  const LinkSettings& link = kLinks[0].settings;
  Simulator first;
  configure(first, link);
  const Acks expected = runForAcks(first);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(runForAcks(first), expected) << "second run of one simulator";
  first.duration = 15;  // ends as data packet 0 (due at 14.64) reaches the sink
  EXPECT_TRUE(runForAcks(first).empty());
  first.duration = link.duration;
  EXPECT_EQ(runForAcks(first), expected)
      << "after a packet was left at the sink";
  {
    Simulator beside;
    configure(beside, link);
    EXPECT_EQ(runForAcks(beside), expected) << "a simulator beside the first";
  }
  EXPECT_EQ(runForAcks(first), expected)
      << "the first again, after another's run";
}

TEST(StopAndWaitTest, ALongRunHoldsNoMoreMemoryThanAShortOne) {
  const TestVariables variables;  // none set
  // Durations whole periods apart end in the same phase with the same packets
  // queued; every other packet must have been released.
  const LinkSettings& link = kLinks[0].settings;
  Simulator simulator;
  configure(simulator, link);
  runForAcks(simulator);
  const long afterShortRun = liveBlocks;
  simulator.duration += 2000 * discretePeriod(link);
  EXPECT_GT(runForAcks(simulator).size(), 2000u);
  EXPECT_EQ(liveBlocks, afterShortRun);
}

}  // namespace
