// The run loop with hooks that act. The unit-test binary links these
// definitions of the node hooks in place of the empty ones; with no callback
// set they do nothing, as the shipped hooks do. An optimised build inlines
// them into the loop, so the tests check that the clock a hook reads, the
// packets it queues and a clock it moves are all honoured, whatever the
// optimiser made of the loop.

#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

#include "model/Time.h"
#include "simulator/Simulator.h"

namespace {

std::function<void(Node&)> onGenerate;
std::function<void(Node&)> onSend;

}  // namespace

int Node::generatePackets() {
  if (onGenerate) onGenerate(*this);
  return 1;
}

int Node::sendPackets() {
  if (onSend) onSend(*this);
  return 1;
}

namespace {

class RunLoopTest : public ::testing::Test {
 protected:
  RunLoopTest() {
    simulator.propagationDelay = 1.0;
    simulator.bitRate = 100.0;
  }
  ~RunLoopTest() override {
    onGenerate = nullptr;
    onSend = nullptr;
  }

  Simulator simulator;
};

TEST_F(RunLoopTest, HooksRunInOrderAndSeeTheClockOfEachTick) {
  std::vector<std::pair<char, double>> calls;  // (hook and node, clock)
  onGenerate = [&](Node& node) {
    calls.emplace_back(node.getType() == kSourceType ? 'g' : '?',
                       Time::getTime());
  };
  onSend = [&](Node& node) {
    calls.emplace_back(node.getType() == kSourceType ? 's' : 'S',
                       Time::getTime());
  };
  simulator.duration = 2.5;
  EXPECT_EQ(simulator.simulate(), 1);

  const std::vector<std::pair<char, double>> expected = {
      {'g', 0.0}, {'s', 0.0}, {'S', 0.0}, {'g', 1.0}, {'s', 1.0},
      {'S', 1.0}, {'g', 2.0}, {'s', 2.0}, {'S', 2.0}};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(Time::getTime(), 3.0);  // kept after the run
}

TEST_F(RunLoopTest, PacketsQueuedByHooksMoveInTheTickTheyAreDue) {
  // Each node queues one packet at clock 0: ready at 0, size 100, so due at
  // 2, which is within the tick of clock 1. The hooks also record what each
  // incoming queue holds at the start of every tick.
  Packet fromSource;
  Packet fromSink;
  for (Packet* packet : {&fromSource, &fromSink}) {
    packet->setReadyToSendTime(0.0);
    packet->setSize(100.0);
  }
  std::vector<std::pair<int, int>> incoming;  // (sink, source) per tick
  onGenerate = [&](Node& node) {
    incoming.emplace_back(simulator.sink.incomingQueue.getLength(),
                          simulator.source.incomingQueue.getLength());
    if (Time::getTime() == 0.0) {
      node.outgoingQueue.enqueuePacket(&fromSource, kByReadyToSendTime);
    }
  };
  onSend = [&](Node& node) {
    if (node.getType() == kSinkType && Time::getTime() == 0.0) {
      node.outgoingQueue.enqueuePacket(&fromSink, kByReadyToSendTime);
    }
  };
  simulator.duration = 4.0;
  simulator.simulate();

  const std::vector<std::pair<int, int>> expected = {
      {0, 0}, {0, 0}, {1, 1}, {1, 1}};
  EXPECT_EQ(incoming, expected);
  ASSERT_EQ(simulator.sink.incomingQueue.getLength(), 1);
  ASSERT_EQ(simulator.source.incomingQueue.getLength(), 1);
  EXPECT_EQ(simulator.sink.incomingQueue.dequeuePacket(0, 2), &fromSource);
  EXPECT_EQ(simulator.source.incomingQueue.dequeuePacket(0, 2), &fromSink);
  EXPECT_EQ(simulator.source.outgoingQueue.getLength(), 0);
  EXPECT_EQ(simulator.sink.outgoingQueue.getLength(), 0);
}

TEST_F(RunLoopTest, AClockMovedByAHookIsWhatTheRestOfTheTickUses) {
  // At clock 1 the source's generatePackets moves the clock on by one: the
  // hooks after it see 2, the delivery judges the packet by 2 (due at 3, so
  // it moves in this tick although at clock 1 it would wait), and the next
  // tick is 3.
  Packet packet;
  packet.setReadyToSendTime(0.0);
  packet.setSize(200.0);  // due at 0 + 1 + 2
  simulator.source.outgoingQueue.enqueuePacket(&packet, kByReadyToSendTime);
  std::vector<double> generateClocks;
  std::vector<double> sendClocks;
  std::vector<int> delivered;
  onGenerate = [&](Node&) {
    generateClocks.push_back(Time::getTime());
    delivered.push_back(simulator.sink.incomingQueue.getLength());
    if (Time::getTime() == 1.0) Time::increase();
  };
  onSend = [&](Node& node) {
    if (node.getType() == kSourceType) sendClocks.push_back(Time::getTime());
  };
  simulator.duration = 5.0;
  simulator.simulate();

  EXPECT_EQ(generateClocks, (std::vector<double>{0.0, 1.0, 3.0, 4.0}));
  EXPECT_EQ(sendClocks, (std::vector<double>{0.0, 2.0, 3.0, 4.0}));
  EXPECT_EQ(delivered, (std::vector<int>{0, 0, 1, 1}));
  EXPECT_EQ(Time::getTime(), 5.0);
}

TEST_F(RunLoopTest, ARestartedClockRunsTheLoopAgainFromZero) {
  // A hook that starts the clock again at clock 2, once, makes the loop
  // repeat ticks 0 to 2: the loop must not cache the clock across the hooks.
  std::vector<double> clocks;
  bool restarted = false;
  onGenerate = [&](Node&) {
    clocks.push_back(Time::getTime());
    if (Time::getTime() == 2.0 && !restarted) {
      restarted = true;
      Time::start();
    }
  };
  simulator.duration = 3.0;
  simulator.simulate();
  EXPECT_EQ(clocks, (std::vector<double>{0.0, 1.0, 2.0, 1.0, 2.0}));
  EXPECT_EQ(Time::getTime(), 3.0);
}

}  // namespace
