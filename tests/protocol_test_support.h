#ifndef LINKSIM_TESTS_PROTOCOL_TEST_SUPPORT_H_
#define LINKSIM_TESTS_PROTOCOL_TEST_SUPPORT_H_

// Helpers shared by the tests of the example protocols: a link's settings,
// a run that reads back the acknowledgements the protocol wrote, and the
// variables (filled in the kit's lookup, not the environment) and trace of
// the kit's protocols.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "kit/variables.h"
#include "simulator/Node.h"
#include "simulator/Simulator.h"

/// The eight settings of a link, in clock units.
struct LinkSettings {
  double processingDelay, propagationDelay, bitRate, dataSize, overhead,
      ackSize, duration, packetRate;

  double dataTime() const { return (dataSize + overhead) / bitRate; }
  double ackTime() const { return ackSize / bitRate; }
  /// The textbook's round trip, Td + Ta + 2A + 2P.
  double textbookPeriod() const {
    return dataTime() + ackTime() + 2 * (processingDelay + propagationDelay);
  }
};

inline void configure(Simulator& simulator, const LinkSettings& l) {
  simulator.propagationDelay = l.propagationDelay;
  simulator.bitRate = l.bitRate;
  simulator.duration = l.duration;
  Node::setProcessingDelay(l.processingDelay);
  Node::setDataPacketSize(l.dataSize);
  Node::setDataOverhead(l.overhead);
  Node::setACKSize(l.ackSize);
  Node::setPacketRate(l.packetRate);
}

using Acks = std::vector<std::pair<int, double>>;  // (sequence, clock)

/// Runs `simulator` and returns the acknowledgements it wrote; any other
/// line but the summary's fails the test.
inline Acks runForAcks(Simulator& simulator) {
  ::testing::internal::CaptureStdout();
  simulator.simulate();
  std::istringstream lines(::testing::internal::GetCapturedStdout());
  Acks acks;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("summary: ", 0) == 0) continue;
    std::pair<int, double> ack;
    char rest = 0;
    EXPECT_EQ(2, std::sscanf(line.c_str(), "acknowledged packet %d at %lf%c",
                             &ack.first, &ack.second, &rest))
        << line;
    acks.push_back(ack);
  }
  return acks;
}

/// The kit's variables while it lives, in place of the environment's, at
/// first the environment's (LINKSIM_ARQ, say); the hooks' protocol started
/// with them as the first one is made, as a program's entry would start it.
class TestVariables {
 public:
  TestVariables() {
    for (const std::string& name : kit::variables().names()) {
      values[name] = kit::variables().get(name.c_str());
    }
    kit::variables().fill(&values);
    static const bool started = [] {
      std::string error;
      EXPECT_TRUE(Node::startProtocol(&error)) << error;
      return true;
    }();
    (void)started;
  }
  ~TestVariables() { kit::variables().fill(nullptr); }

  /// Sets `name` to `value`, or unsets it for null.
  void set(const std::string& name, const char* value) {
    if (value != nullptr) {
      values[name] = value;
    } else {
      values.erase(name);
    }
  }

 private:
  kit::Lookup::Map values;
};

/// One row of a trace: clock,node,event,frame,sequence,packet.
struct TraceRow {
  double clock;
  std::string node, event, frame;
  int sequence;
  long long packet;
};

/// The rows of the trace in `path`; a bad header or row fails the test.
inline std::vector<TraceRow> readTrace(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "clock,node,event,frame,sequence,packet") << path;
  std::vector<TraceRow> rows;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    TraceRow row;
    std::string clock;
    std::string sequence;
    std::string packet;
    std::getline(fields, clock, ',');
    std::getline(fields, row.node, ',');
    std::getline(fields, row.event, ',');
    std::getline(fields, row.frame, ',');
    std::getline(fields, sequence, ',');
    std::getline(fields, packet);
    row.clock = std::stod(clock);
    row.sequence = std::stoi(sequence);
    row.packet = std::stoll(packet);
    rows.push_back(row);
  }
  return rows;
}

/// The last row of the stats file `path`, by column name; a bad file fails
/// the test.
inline std::map<std::string, std::string> lastStats(const std::string& path) {
  std::ifstream in(path);
  std::string header;
  std::string last;
  std::getline(in, header);
  for (std::string line; std::getline(in, line);) last = line;
  std::map<std::string, std::string> row;
  std::istringstream names(header);
  std::istringstream values(last);
  for (std::string name, value; std::getline(names, name, ',');) {
    std::getline(values, value, ',');
    row[name] = value;
  }
  EXPECT_FALSE(last.empty()) << path;
  return row;
}

#endif  // LINKSIM_TESTS_PROTOCOL_TEST_SUPPORT_H_
