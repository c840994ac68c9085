// The ARQ protocols, run through linksim-arq's hooks, the one LINKSIM_ARQ
// names chosen as the test program starts (a test runs in a process of its
// own, so each protocol has its tests, PROTOCOL.ArqTest.*), held to what
// they promise whatever the channel loses, as their traces tell: every
// packet delivered once and in order, acknowledged once and in order after
// its delivery, nothing delivered from a frame the channel lost, a lost
// frame never waited on for longer than a timeout, and without loss no
// loss at all; the stats row agreeing with the trace and counting the
// packets that arrived; and their utilization over long runs to the figure
// each protocol's opening comment derives. ARQ_SEEDS is the number of seeds
// each lossy case runs with: fewer in the shorter sweeps and the slower
// trees.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "protocol_test_support.h"
#include "simulator/Simulator.h"
#include "test_support.h"

namespace {

/// The protocol under test: what linksim-arq's hooks chose at start.
std::string protocol() {
  const char* name = std::getenv("LINKSIM_ARQ");
  return name == nullptr ? "stop-and-wait" : name;
}

/// Stop-and-wait has a window of one frame; the others a window of any size.
std::vector<int> windows() {
  if (protocol() == "stop-and-wait") return {1};
  return {1, 4, 16};
}

struct Link {
  const char* name;
  LinkSettings settings;
};

const Link kLinks[] = {
    {"whole stages", {1, 4, 100, 400, 100, 200, 3000, 2}},  // Td 5, Ta 2
    {"examples/link.txt", {1, 5, 100, 800, 64, 128, 3000, 2}},
    {"binary fractions", {0.5, 2.25, 8, 21, 4, 3, 3000, 1}},  // Td 3.125
    // Td 0.52: several frames leave, and arrive, within one tick.
    {"frames shorter than a tick", {0.1, 0.2, 100, 48, 4, 10, 1000, 5}},
};

class ArqTest : public ::testing::Test {
 protected:
  ~ArqTest() override {
    for (const char* name : {"LINKSIM_LOSS", "LINKSIM_SEED", "LINKSIM_WINDOW",
                             "LINKSIM_TRACE", "LINKSIM_STATS"}) {
      setVariable(name, nullptr);
    }
  }

  /// Runs `link` with the variables given and keeps what the run wrote: its
  /// acknowledgements, and its trace and stats row unless `traced` is false
  /// (a long run whose acknowledgements are all a test needs).
  void run(const LinkSettings& link, const std::string& loss, int window,
           int seed, bool traced = true) {
    setVariable("LINKSIM_LOSS", loss.c_str());
    setVariable("LINKSIM_WINDOW", std::to_string(window).c_str());
    setVariable("LINKSIM_SEED", std::to_string(seed).c_str());
    setVariable("LINKSIM_TRACE", traced ? tracePath.c_str() : nullptr);
    setVariable("LINKSIM_STATS", traced ? statsPath.c_str() : nullptr);
    Simulator simulator;
    configure(simulator, link);
    acks = runForAcks(simulator);
    trace = traced ? readTrace(tracePath) : std::vector<TraceRow>();
    stats =
        traced ? lastStats(statsPath) : std::map<std::string, std::string>();
  }

  /// True when the stats row counts what the trace shows.
  ::testing::AssertionResult statsAgreeWithTrace(
      const LinkSettings& link) const;

  /// The first promise the run's trace breaks, if any.
  ::testing::AssertionResult keptItsPromises(const LinkSettings& link,
                                             bool lossFree) const;

  ScopedTempDir dir;
  const std::string tracePath = dir.path() + "/trace.csv";
  const std::string statsPath = dir.path() + "/stats.csv";
  Acks acks;
  std::vector<TraceRow> trace;
  std::map<std::string, std::string> stats;
};

::testing::AssertionResult ArqTest::statsAgreeWithTrace(
    const LinkSettings& link) const {
  // Each column, and the events of the trace it counts: node, event, frame.
  const struct {
    const char* column;
    const char* node;
    const char* event;
    const char* frame;
  } kCounted[] = {
      {"data_sent", "source", "send", "data"},
      {"data_resent", "source", "resend", "data"},
      {"data_lost", "sink", "lost", "data"},
      {"acks_sent", "sink", "send", "ack"},
      {"acks_lost", "source", "lost", "ack"},
      {"timeouts", "source", "timeout", "data"},
      {"delivered", "sink", "deliver", "data"},
      {"acknowledged", "source", "acknowledged", "data"},
  };
  double delayMax = 0;
  double delaySum = 0;
  for (const auto& counted : kCounted) {
    long long count = 0;
    for (const TraceRow& row : trace) {
      if (row.node == counted.node && row.event == counted.event &&
          row.frame == counted.frame) {
        ++count;
      }
    }
    if (stats.at(counted.column) != std::to_string(count)) {
      return ::testing::AssertionFailure()
             << counted.column << " is " << stats.at(counted.column)
             << ", the trace counts " << count;
    }
  }
  // Periodic arrivals: packet k at k / rate, those before the duration.
  const auto arrived =
      static_cast<long long>(std::ceil(link.duration * link.packetRate));
  if (stats.at("arrived") != std::to_string(arrived) ||
      std::stoll(stats.at("waiting")) !=
          arrived - std::stoll(stats.at("acknowledged"))) {
    return ::testing::AssertionFailure()
           << stats.at("arrived") << " arrived and " << stats.at("waiting")
           << " waiting, not " << arrived << " less those acknowledged";
  }
  long long delivered = 0;
  for (const TraceRow& row : trace) {
    if (row.event != "deliver") continue;
    const double delay =
        row.clock - static_cast<double>(row.packet) / link.packetRate;
    delaySum += delay;
    delayMax = std::max(delayMax, delay);
    ++delivered;
  }
  if (delivered > 0 && (std::fabs(std::stod(stats.at("delay_mean")) -
                                  delaySum / delivered) > 1e-6 ||
                        std::stod(stats.at("delay_max")) != delayMax)) {
    return ::testing::AssertionFailure()
           << "delay " << stats.at("delay_mean") << "/" << stats.at("delay_max")
           << ", the trace's " << delaySum / delivered << "/" << delayMax;
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ArqTest::keptItsPromises(const LinkSettings& link,
                                                    bool lossFree) const {
  auto broken = [](const TraceRow& row, const char* what) {
    return ::testing::AssertionFailure()
           << what << ": " << row.node << " " << row.event << " " << row.frame
           << " " << row.sequence << " at " << row.clock;
  };
  // The run ended: one end row, the last, counting the rows before it.
  if (trace.empty() || trace.back().event != "end" ||
      trace.back().packet != static_cast<long long>(trace.size()) - 1 ||
      std::count_if(trace.begin(), trace.end(), [](const TraceRow& row) {
        return row.event == "end";
      }) != 1) {
    return ::testing::AssertionFailure() << "no one end row closes the trace";
  }
  int delivered = 0;
  int firstSends = 0;
  std::set<int> received;  // data packets that reached the sink
  std::vector<const TraceRow*> timeouts;
  // Frames sent and frames seen, data and ACK: on a link that delivers in
  // the order frames start, the n-th seen is the n-th sent.
  std::vector<const TraceRow*> sent[2];
  std::vector<const TraceRow*> seen[2];
  Acks written;
  for (const TraceRow& row : trace) {
    const int kind = row.frame == "ack" ? 1 : 0;
    if (row.event == "send" || row.event == "resend") {
      if (kind == 0 && row.event == "send" && row.sequence != firstSends++) {
        return broken(row, "first sent out of order");
      }
      if (kind == 0 && row.event == "resend" && row.sequence >= firstSends) {
        return broken(row, "sent again before it was sent");
      }
      sent[kind].push_back(&row);
    } else if (row.event == "lost" || row.event == "receive") {
      if (seen[kind].size() == sent[kind].size()) {
        return broken(row, "seen but never sent");
      }
      if (sent[kind][seen[kind].size()]->sequence != row.sequence) {
        return broken(row, "not the frame sent");
      }
      if (kind == 0 && row.event == "receive") received.insert(row.sequence);
      seen[kind].push_back(&row);
    } else if (row.event == "deliver") {
      if (row.sequence != delivered++) return broken(row, "out of order");
      if (received.count(row.sequence) == 0) {
        return broken(row, "delivered, never received");
      }
    } else if (row.event == "acknowledged") {
      if (row.sequence != static_cast<int>(written.size())) {
        return broken(row, "acknowledged out of order");
      }
      if (row.sequence >= delivered) return broken(row, "not delivered yet");
      written.emplace_back(row.sequence, row.clock);
    } else if (row.event == "timeout") {
      timeouts.push_back(&row);
    }
    if (lossFree && (row.event == "lost" || row.event == "resend" ||
                     row.event == "timeout")) {
      return broken(row, "on a link without loss");
    }
  }
  if (written != acks) {
    return ::testing::AssertionFailure()
           << "the trace acknowledges " << written.size()
           << " packets, the output " << acks.size();
  }
  // A data frame lost before its packet ever arrived leaves the sink
  // waiting; the timer of the oldest frame, at most T + 2 after that frame
  // started (kit::derivedTimeout), is what ends the wait.
  std::set<int> got;
  const double wait = link.textbookPeriod() + 3;
  for (size_t n = 0; n < seen[0].size(); ++n) {
    const TraceRow& frame = *seen[0][n];
    const double start = sent[0][n]->clock;
    if (frame.event == "lost" && got.count(frame.sequence) == 0 &&
        start + wait < link.duration - 1 &&
        std::none_of(timeouts.begin(), timeouts.end(), [&](const TraceRow* t) {
          return t->clock >= start && t->clock <= start + wait;
        })) {
      return broken(frame, "lost, and no timer fired");
    }
    if (frame.event == "receive") got.insert(frame.sequence);
  }
  return ::testing::AssertionSuccess();
}

TEST_F(ArqTest, DeliversEveryPacketOnceAndInOrderWhateverIsLost) {
  for (const Link& link : kLinks) {
    for (const char* loss : {"0", "0.05", "0.3", "0.8"}) {
      for (const int window : windows()) {
        for (int seed = 1; seed <= ARQ_SEEDS; ++seed) {
          run(link.settings, loss, window, seed);
          const bool lossFree = std::string(loss) == "0";
          ASSERT_TRUE(keptItsPromises(link.settings, lossFree))
              << link.name << ", loss " << loss << ", window " << window
              << ", seed " << seed;
          ASSERT_TRUE(statsAgreeWithTrace(link.settings))
              << link.name << ", loss " << loss << ", window " << window
              << ", seed " << seed;
          if (lossFree) break;  // no seed changes a run without loss
        }
      }
    }
  }
}

TEST_F(ArqTest, KeepsTheLinkAsBusyAsItsOpeningCommentDerives) {
  // The study's link, every stage whole: Td 10, Ta 1, P 1, A 40, so
  // T = 93 and K = T / Td = 9.3; a packet a tick keeps the backlog full.
  const LinkSettings link{1, 40, 100, 960, 40, 100, 100000, 1};
  const double td = link.dataTime();
  const double t = link.textbookPeriod();
  const double k = t / td;
  const double start = 1 - t / link.duration;
  const int kRuns = 8;
  for (const double p : {0.05, 0.2, 0.4}) {
    const double q = (1 - p) * (1 - p);
    int window = 0;
    double low = 0;
    double high = 0;
    if (protocol() == "stop-and-wait") {
      // Binomial: q of the attempts that end within the run, each T long.
      window = 1;
      low = q * td * (std::ceil(link.duration / t) - 1) / link.duration;
      high = low;
    } else if (protocol() == "go-back-n") {
      // The textbook's band: every lost ACK costing a go-back, or none.
      window = 16;
      low = start * q / (1 + (k - 1) * (1 - q));
      high = (1 - p) / (1 + (k - 1) * p);
    } else {
      // q of the frames sent, less the first round trip; a window this
      // wide all but never stalls.
      window = 64;
      low = start * q;
      high = q;
    }
    std::vector<double> measured;
    for (int seed = 1; seed <= kRuns; ++seed) {
      run(link, std::to_string(p), window, seed, false);
      measured.push_back(static_cast<double>(acks.size()) * td / link.duration);
    }
    // The mean of the runs, within five standard errors of the derived
    // figure: a chance of a few in a thousand for a protocol that is right.
    double mean = 0;
    for (const double u : measured) mean += u / kRuns;
    double squares = 0;
    for (const double u : measured) squares += (u - mean) * (u - mean);
    const double margin = 5 * std::sqrt(squares / (kRuns - 1) / kRuns);
    EXPECT_GE(mean + margin, low) << "loss " << p;
    EXPECT_LE(mean - margin, high) << "loss " << p;
  }
}

}  // namespace
