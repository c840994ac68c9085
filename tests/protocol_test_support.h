#ifndef LINKSIM_TESTS_PROTOCOL_TEST_SUPPORT_H_
#define LINKSIM_TESTS_PROTOCOL_TEST_SUPPORT_H_

// Helpers shared by the tests of the example protocols: a link's settings,
// and a run that reads back the acknowledgements the protocol wrote.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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
/// line fails the test.
inline Acks runForAcks(Simulator& simulator) {
  ::testing::internal::CaptureStdout();
  simulator.simulate();
  std::istringstream lines(::testing::internal::GetCapturedStdout());
  Acks acks;
  for (std::string line; std::getline(lines, line);) {
    std::pair<int, double> ack;
    char rest = 0;
    EXPECT_EQ(2, std::sscanf(line.c_str(), "acknowledged packet %d at %lf%c",
                             &ack.first, &ack.second, &rest))
        << line;
    acks.push_back(ack);
  }
  return acks;
}

#endif  // LINKSIM_TESTS_PROTOCOL_TEST_SUPPORT_H_
