// The sliding-window example (linked as this binary's hooks) against the
// closed form of its opening comment: ACK k is read at
//   e(k) = T + k Td + floor(k / W) max(0, T - W Td)
// exactly where every stage is a whole number of ticks, and otherwise no
// earlier and at most one tick per hop of its chain later.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "protocol_test_support.h"
#include "simulator/Simulator.h"

namespace {

struct Link {
  const char* name;
  int window;
  LinkSettings settings;
  bool whole;  // P, A, Td and Ta are whole numbers of ticks
};

const Link kLinks[] = {
    // Td 5, Ta 2, T 17: W Td = 20 >= T, an ACK every 5 ticks from 17.
    {"whole, link-limited", 4, {1, 4, 100, 400, 100, 200, 300, 2}, true},
    // W Td = 10 < T: rounds of two, 17 apart.
    {"whole, window-limited", 2, {1, 4, 100, 400, 100, 200, 300, 2}, true},
    {"whole, W = 1", 1, {1, 4, 100, 400, 100, 200, 300, 2}, true},  // every 17
    // Td 4, Ta 1, T 15; a packet a tick keeps the backlog ahead.
    {"whole, W = 16, rate 1", 16, {2, 3, 64, 192, 64, 64, 1000, 1}, true},
    // examples/link.txt: Td 8.64, Ta 1.28, T 21.92.
    {"link.txt, W = 8", 8, {1, 5, 100, 800, 64, 128, 500, 2}, false},
    {"link.txt, W = 2", 2, {1, 5, 100, 800, 64, 128, 500, 2}, false},
    {"link.txt, W = 1", 1, {1, 5, 100, 800, 64, 128, 500, 2}, false},
    // Td 3.125, Ta 0.375, T 9: W Td = 9.375, link-limited by a hair.
    {"no stage whole, W = 3", 3, {0.5, 2.25, 8, 21, 4, 3, 300, 1}, false},
};

/// The closed form for ACK k.
double closedForm(const Link& link, int k) {
  const double td = link.settings.dataTime();
  const double t = link.settings.textbookPeriod();
  return t + k * td +
         std::floor(k / link.window) * std::max(0.0, t - link.window * td);
}

/// Hops of the chain that leads to ACK k: two per round trip.
double hops(const Link& link, int k) {
  return 2 * (std::floor(k / link.window) + 1);
}

/// Runs a simulator of its own on `link` and returns its acknowledgements.
Acks runOn(const Link& link) {
  Simulator simulator;
  configure(simulator, link.settings);
  TestVariables variables;
  variables.set("LINKSIM_WINDOW", std::to_string(link.window).c_str());
  return runForAcks(simulator);
}

TEST(SlidingWindowTest, AcknowledgesInOrderAtTheDerivedClock) {
  for (const Link& link : kLinks) {
    const Acks acks = runOn(link);
    const double duration = link.settings.duration;
    int earliest = 0;  // ACKs whose closed form falls within the run
    int latest = 0;    // ACKs that must be written even at the latest
    while (closedForm(link, earliest) < duration) ++earliest;
    while (closedForm(link, latest) + hops(link, latest) < duration) {
      ++latest;
    }
    ASSERT_GE(acks.size(), static_cast<size_t>(link.whole ? earliest : latest))
        << link.name;
    ASSERT_LE(acks.size(), static_cast<size_t>(earliest)) << link.name;
    for (int k = 0; k < static_cast<int>(acks.size()); ++k) {
      EXPECT_EQ(k, acks[k].first) << link.name;
      const double form = closedForm(link, k);
      if (link.whole) {
        EXPECT_EQ(form, acks[k].second) << link.name << ", ACK " << k;
      } else {
        EXPECT_LE(form, acks[k].second) << link.name << ", ACK " << k;
        EXPECT_LE(acks[k].second, form + hops(link, k))
            << link.name << ", ACK " << k;
      }
    }
  }
}

TEST(SlidingWindowTest, AWideWindowKeepsTheLinkBusy) {
  // Where W Td >= T + 2, a late ACK still opens the window before the
  // transmitter is free, so the ACKs come one per Td after the first.
  const Link& link = kLinks[4];
  ASSERT_GE(link.window * link.settings.dataTime(),
            link.settings.textbookPeriod() + 2);
  const Acks acks = runOn(link);
  ASSERT_GT(acks.size(), 50u);
  for (size_t k = 0; k < acks.size(); ++k) {
    const double form = closedForm(link, static_cast<int>(k));
    EXPECT_LE(form, acks[k].second) << k;
    EXPECT_LT(acks[k].second, form + 2) << k;
  }
}

TEST(SlidingWindowTest, EveryRunStartsAfreshWhateverEarlierRunsLeft) {
  const Link& link = kLinks[0];
  TestVariables variables;
  variables.set("LINKSIM_WINDOW", std::to_string(link.window).c_str());
  Simulator first;
  configure(first, link.settings);
  const Acks expected = runForAcks(first);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(runForAcks(first), expected) << "second run of one simulator";
  {
    Simulator beside;
    configure(beside, link.settings);
    EXPECT_EQ(runForAcks(beside), expected) << "a simulator beside the first";
  }
  EXPECT_EQ(runForAcks(first), expected)
      << "the first again, after another's run";
}

}  // namespace
