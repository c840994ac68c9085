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
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kit/hooks.h"
#include "kit/recorder.h"
#include "kit/variables.h"
#include "protocol_test_support.h"
#include "shipped_protocols.h"
#include "simulator/Simulator.h"
#include "test_support.h"

namespace {

/// The protocol under test: what linksim-arq's hooks choose at start.
std::string protocol() {
  const char* name = std::getenv("LINKSIM_ARQ");
  return name == nullptr ? protocols::kShipped[0]->name : name;
}

/// True when the protocol under test reads the variables of `bits`.
bool readsAny(unsigned bits) {
  for (const kit::Protocol* entry : protocols::kShipped) {
    if (entry->name == protocol()) return (entry->reads & bits) != 0;
  }
  ADD_FAILURE() << "no protocol " << protocol();
  return false;
}

/// True when the protocol under test reads the channel's losses: the
/// others lose nothing.
bool lossy() { return readsAny(kit::kReadsLoss); }

/// A protocol without a window has one frame in flight; the others a
/// window of any size.
std::vector<int> windows() {
  if (!readsAny(kit::kReadsWindow)) return {1};
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
  /// Runs `link` with the variables given (an empty `loss` unsets
  /// LINKSIM_LOSS) and keeps what the run wrote: its
  /// acknowledgements, and its trace and stats row unless `traced` is false
  /// (a long run whose acknowledgements are all a test needs).
  void run(const LinkSettings& link, const std::string& loss, int window,
           int seed, bool traced = true) {
    variables.set("LINKSIM_LOSS", loss.empty() ? nullptr : loss.c_str());
    variables.set("LINKSIM_WINDOW", std::to_string(window).c_str());
    variables.set("LINKSIM_SEED", std::to_string(seed).c_str());
    variables.set("LINKSIM_TRACE", traced ? tracePath.c_str() : nullptr);
    variables.set("LINKSIM_STATS", traced ? statsPath.c_str() : nullptr);
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

  /// The places, from 1, of the frames of kind `frame` that arrived lost,
  /// among those of that kind that arrived.
  std::vector<long long> lostPlaces(const std::string& frame) const {
    std::vector<long long> places;
    long long arrived = 0;
    for (const TraceRow& row : trace) {
      if (row.frame != frame ||
          (row.event != "receive" && row.event != "lost")) {
        continue;
      }
      ++arrived;
      if (row.event == "lost") places.push_back(arrived);
    }
    return places;
  }

  TestVariables variables;
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
          const bool lossFree = std::string(loss) == "0" || !lossy();
          ASSERT_TRUE(keptItsPromises(link.settings, lossFree))
              << link.name << ", loss " << loss << ", window " << window
              << ", seed " << seed;
          ASSERT_TRUE(statsAgreeWithTrace(link.settings))
              << link.name << ", loss " << loss << ", window " << window
              << ", seed " << seed;
          if (lossFree || !lossy()) break;  // no seed changes such a run
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
  for (const double p :
       lossy() ? std::vector<double>{0.05, 0.2, 0.4} : std::vector<double>{0}) {
    const double q = (1 - p) * (1 - p);
    int window = 0;
    double low = 0;
    double high = 0;
    if (!lossy()) {
      // A window that covers the round trip keeps the link busy from the
      // first ACK on.
      window = 16;
      low = start;
      high = 1;
    } else if (protocol() == "stop-and-wait") {
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

// LINKSIM_DROP loses the frames it names by their place on the link, and
// none other, whatever the seed; a protocol that loses nothing ignores it.
TEST_F(ArqTest, LosesExactlyTheFramesLinksimDropNames) {
  const struct {
    const char* drop;
    std::vector<long long> data, acks;
    const char* column;  // the stats', with no comma
  } kCases[] = {
      {"data:3", {3}, {}, "data:3"},
      {"data:1,2,3 ack:2", {1, 2, 3}, {2}, "data:1 data:2 data:3 ack:2"},
      {"ack:1,5", {}, {1, 5}, "ack:1 ack:5"},
      {"  data:9 ack:4  data:2,9", {2, 9}, {4}, "data:2 data:9 ack:4"},
  };
  for (const auto& c : kCases) {
    for (int seed = 1; seed <= 2; ++seed) {
      variables.set("LINKSIM_DROP", c.drop);
      run(kLinks[0].settings, "0", windows().back(), seed);
      const std::vector<long long> none;
      EXPECT_EQ(lostPlaces("data"), lossy() ? c.data : none) << c.drop;
      EXPECT_EQ(lostPlaces("ack"), lossy() ? c.acks : none) << c.drop;
      EXPECT_EQ(stats.at("drop"), lossy() ? c.column : "") << c.drop;
      EXPECT_TRUE(keptItsPromises(kLinks[0].settings, !lossy())) << c.drop;
      EXPECT_TRUE(statsAgreeWithTrace(kLinks[0].settings)) << c.drop;
    }
  }
}

// LINKSIM_ACK_LOSS is the ACK direction's loss, beside the data's by the
// frame, by the bit or in bursts; 0 loses no ACK.
TEST_F(ArqTest, LosesAcksByLinksimAckLossApartFromTheData) {
  const struct {
    const char* loss;  // "": unset
    const char* ackLoss;
    const char *name, *value;  // another variable
    bool dataLost, acksLost;
  } kCases[] = {
      {"0.3", "0", "LINKSIM_SEED", "1", true, false},
      {"0", "0.3", "LINKSIM_SEED", "1", false, true},
      {"", "0", "LINKSIM_BER", "0.0005", true, false},
      {"0.3", "0", "LINKSIM_BURST", "3", true, false},
      {"0.3", "0.5", "LINKSIM_BURST", "3", true, true},
  };
  for (const auto& c : kCases) {
    variables.set("LINKSIM_ACK_LOSS", c.ackLoss);
    variables.set(c.name, c.value);
    run(kLinks[0].settings, c.loss, 4, 1);
    variables.set(c.name, nullptr);
    const bool lost[] = {!lostPlaces("data").empty(),
                         !lostPlaces("ack").empty()};
    EXPECT_EQ(lost[0], lossy() && c.dataLost) << c.ackLoss << " " << c.name;
    EXPECT_EQ(lost[1], lossy() && c.acksLost) << c.ackLoss << " " << c.name;
    EXPECT_EQ(stats.at("ack_loss"), lossy() ? c.ackLoss : "") << c.name;
    EXPECT_TRUE(keptItsPromises(kLinks[0].settings, !lossy())) << c.name;
  }
}

// A value gone bad between runs (a test's lookup can change; the
// environment cannot) is said, and the run keeps the values it had.
TEST_F(ArqTest, SaysAVariableGoneBadSinceTheRunBeforeAndKeepsItsValues) {
  const bool windowed = readsAny(kit::kReadsWindow);
  const char* name = windowed ? "LINKSIM_WINDOW" : "LINKSIM_LOSS";
  run(kLinks[0].settings, "0.1", 4, 3);
  const Acks before = acks;
  variables.set(name, windowed ? "0" : "2");
  ::testing::internal::CaptureStderr();
  Simulator simulator;
  configure(simulator, kLinks[0].settings);
  EXPECT_EQ(runForAcks(simulator), before);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "linksim: warning: " + kit::refusal(*kit::findVariable(name)) +
                ": this run keeps the values of the run before\n");
}

// The table of variables is what linksim-arq(1) lists, what the lab's page
// reads as JSON and what the stats row's columns name; the protocols are
// named by their files in the one list.
TEST(VariablesTest, TheManualPageListsEveryVariableAsTheTableHasIt) {
  std::ifstream manual(LINKSIM_MANUAL);
  std::vector<std::pair<std::string, std::string>> entries;  // name, text
  std::string last;
  for (std::string line; std::getline(manual, line); last = line) {
    if (line == ".SH ENVIRONMENT") entries.emplace_back();
    if (entries.empty() || line == ".PP" || line.compare(0, 4, ".SH ") == 0) {
      if (entries.size() > 1 && line != ".SH ENVIRONMENT") break;
      continue;
    }
    if (last == ".TP" && line.compare(0, 11, ".B LINKSIM_") == 0) {
      entries.emplace_back(line.substr(3), "");
      continue;
    }
    // The text as it reads: no macro name, font escape or hyphen's escape.
    if (line[0] == '.') line.erase(0, line.find(' ') + 1);
    for (const char* escape : {"\\fB", "\\fI", "\\fR", "\\fP", "\\-", "\""}) {
      for (size_t at; (at = line.find(escape)) != std::string::npos;) {
        line.erase(at, std::strlen(escape) - (escape[1] == '-' ? 1 : 0));
      }
    }
    entries.back().second += line + " ";
  }
  ASSERT_EQ(entries.size(), kit::kVariableCount + 1);
  for (size_t i = 0; i < kit::kVariableCount; ++i) {
    const kit::Variable& variable = kit::kVariables[i];
    const std::string& text = entries[i + 1].second;
    EXPECT_EQ(entries[i + 1].first, variable.name);
    EXPECT_NE(text.find(std::string("Default: ") + variable.fallback),
              std::string::npos)
        << text;
    for (const kit::Protocol* entry : protocols::kShipped) {
      const bool read = variable.readBy == kit::kChoosesProtocol ||
                        kit::reads(variable, entry->reads);
      const size_t by = text.find("ead by ");
      EXPECT_EQ(by != std::string::npos &&
                    text.find(entry->name, by) != std::string::npos,
                !read)
          << variable.name << " " << entry->name << ": " << text;
    }
  }
}

extern "C" const char* linksim_variables_json();

TEST(VariablesTest, GivesItsTableAsJsonAndItsColumnsAndNamesTheProtocols) {
  const std::string json = linksim_variables_json();
  for (const char* part :
       {"[{\"name\":\"LINKSIM_ARQ\",\"readers\":[\"stop-and-wait\",\"go-back-"
        "n\","
        "\"selective-repeat\",\"sliding-window\"],\"type\":\"choice\",",
        "{\"name\":\"LINKSIM_WINDOW\",\"readers\":[\"go-back-n\",\"selective-"
        "repeat\",\"sliding-window\"],\"type\":\"whole\",\"range\":\"1 to "
        "65536\",\"default\":\"8\",\"help\":\"frames in flight: the window\"}",
        "\"choices\":[\"periodic\",\"poisson\"],\"default\":\"periodic\""}) {
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  }
  const std::string header = std::string(",") + kit::kStatsHeader + ",";
  for (const kit::Variable& variable : kit::kVariables) {
    EXPECT_TRUE(variable.column == nullptr ||
                header.find(std::string(",") + variable.column + ",") !=
                    std::string::npos)
        << variable.name;
  }
  ASSERT_EQ(kit::protocolNames().size(), std::size(protocols::kShipped));
  for (size_t i = 0; i < std::size(protocols::kShipped); ++i) {
    EXPECT_EQ(kit::protocolNames()[i], protocols::kShipped[i]->name);
  }
}

}  // namespace
