#include "simulator/Node.h"

#include <gtest/gtest.h>

#include "simulator/Simulator.h"

TEST(NodeTest, SimulatorTypesItsNodesAndStartsWithoutSettings) {
  const Simulator simulator;
  EXPECT_EQ('1', simulator.source.getType());
  EXPECT_EQ('2', simulator.sink.getType());
  EXPECT_STREQ("", simulator.settingsFile);
  EXPECT_EQ(0.0, simulator.propagationDelay);
  EXPECT_EQ(0.0, simulator.bitRate);
  EXPECT_EQ(0.0, simulator.duration);
}

TEST(NodeTest, LinkParametersAreSharedWithoutANode) {
  Node::setPacketRate(2.5);
  EXPECT_EQ(2.5, Node::getPacketRate());
  const Node a;
  const Node b;
  EXPECT_EQ(a.getPacketRate(), b.getPacketRate());
}
