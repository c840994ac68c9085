// The run loop with hooks that act. The unit-test binary links these
// definitions of the node hooks in place of the empty ones; with no callback
// set they do nothing, as the shipped hooks do. An optimised build inlines
// them into the loop, so the tests check that the clock a hook reads, the
// packets it queues and a clock it moves are all honoured, whatever the
// optimiser made of the loop.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "model/Time.h"
#include "simulator/Simulator.h"

namespace {

std::function<void(Node&)> onGenerate;
std::function<void(Node&)> onSend;
std::function<void()> onRunEnd;

void runEnded() {
  if (onRunEnd) onRunEnd();
}
const bool runEndAsked = Simulator::atRunEnd(&runEnded);

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
    onRunEnd = nullptr;
  }

  Simulator simulator;
};

TEST_F(RunLoopTest, HooksRunInOrderAndSeeTheClockOfEachTick) {
  std::vector<std::pair<char, double>> calls;  // (hook and node, clock)
  onGenerate = [&](Node& node) {
    EXPECT_EQ(Simulator::running(), &simulator);
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
  EXPECT_EQ(Simulator::running(), nullptr);
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

TEST_F(RunLoopTest, TheEndOfARunIsCalledOnceAfterItsLastDeliveries) {
  // A packet due at 2.5 moves in the last tick (clock 2) of a run of 3; the
  // end of the run sees it waiting, at the clock the run ended on. Asking
  // twice for one call changes nothing; a run of no tick ends too.
  ASSERT_TRUE(runEndAsked && Simulator::atRunEnd(&runEnded));
  Packet packet;
  packet.setReadyToSendTime(0.5);
  packet.setSize(100.0);
  simulator.source.outgoingQueue.enqueuePacket(&packet, kByReadyToSendTime);
  std::vector<std::pair<double, int>> ends;  // (clock, packets at the sink)
  onRunEnd = [&] {
    EXPECT_EQ(Simulator::running(), &simulator);
    ends.emplace_back(Time::getTime(),
                      simulator.sink.incomingQueue.getLength());
  };
  simulator.duration = 3.0;
  simulator.simulate();
  simulator.duration = std::nan("");
  simulator.simulate();
  EXPECT_EQ(ends, (std::vector<std::pair<double, int>>{{3.0, 1}, {0.0, 1}}));
  EXPECT_EQ(Simulator::running(), nullptr);
  simulator.sink.incomingQueue.dequeuePacket(0, kByReadyToSendTime);
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

// --- Hooks that say when they are idle -------------------------------------

TEST_F(RunLoopTest, AnIdleHookIsCalledAtItsClockOrTheTickAfterAnArrival) {
  // The sink sleeps for 6.5 after each call: from 0 it would next be called
  // at 7, but a packet the source sends at clock 1 (due at 2.5, so moved in
  // the tick of 2) wakes it at 3, and then it is called every 7 ticks.
  // Sleeping for good, generatePackets is called at 0 only: nothing arrives
  // at the source.
  Packet packet;
  packet.setReadyToSendTime(1.5);
  packet.setSize(0.0);
  std::vector<std::pair<char, double>> calls;
  onGenerate = [&](Node& node) {
    calls.emplace_back('g', Time::getTime());
    node.idleUntil(kForever);
  };
  onSend = [&](Node& node) {
    if (node.getType() == kSourceType) {
      calls.emplace_back('s', Time::getTime());
      if (Time::getTime() == 0.0) {
        node.idleUntil(1.0);
      } else {
        node.outgoingQueue.enqueuePacket(&packet, kByReadyToSendTime);
        node.idleUntil(kForever);
      }
    } else {
      calls.emplace_back('S', Time::getTime());
      node.idleUntil(Time::getTime() + 9.0);
      node.idleUntil(Time::getTime() + 6.5);  // the earliest counts
      node.idleUntil(std::nan(""));           // says nothing
    }
  };
  simulator.propagationDelay = 1.0;
  simulator.duration = 100.0;
  simulator.simulate();
  const std::vector<std::pair<char, double>> expected = {
      {'g', 0.0}, {'s', 0.0},  {'S', 0.0},  {'s', 1.0},
      {'S', 3.0}, {'S', 10.0}, {'S', 17.0}, {'S', 24.0}};
  calls.resize(std::min(calls.size(), expected.size()));
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(Time::getTime(), 100.0);
}

TEST_F(RunLoopTest, NoPromiseOutlivesItsRunOrCountsOutsideOne) {
  std::vector<double> clocks;
  onGenerate = [&](Node& node) {
    clocks.push_back(Time::getTime());
    node.idleUntil(kForever);
    simulator.sink.idleUntil(kForever);  // of another node: no effect
  };
  simulator.source.generatePackets();  // outside a run
  clocks.clear();
  simulator.duration = 3.0;
  simulator.simulate();
  simulator.simulate();
  EXPECT_EQ(clocks, (std::vector<double>{0.0, 0.0}));
  EXPECT_EQ(Time::getTime(), 3.0);
}

// The differential test: a seeded random protocol, run once saying when it is
// idle and once never saying so, must leave the same trace.

/// A link, and where the first tick moves the clock to (NaN: nowhere).
struct DiffCase {
  double propagationDelay, bitRate, duration, jumpTo;
};

/// Hooks that act at random clocks and whenever a packet has arrived,
/// recording every acting call. The random numbers are drawn only in acting
/// calls, so the run is the same whichever calls the loop skips.
class RandomProtocol {
 public:
  RandomProtocol(Simulator& simulator, uint64_t seed, bool saysIdle,
                 double jumpTo)
      : simulator_(simulator),
        random_(seed),
        saysIdle_(saysIdle),
        jumpTo_(jumpTo) {}

  /// 0: the source's generatePackets, 1: its sendPackets, 2: the sink's.
  void call(int hook, Node& node) {
    ++calls;
    // Every run starts with every hook awake, so this happens in both.
    if (!std::isnan(jumpTo_) && hook == 0 && Time::getTime() == 0.0) {
      Time::nanoseconds = jumpTo_;
    }
    const double now = Time::getTime();
    const int arrived = arrivals(node);
    if (arrived > seen_[hook] || !(now < next_[hook])) act(hook, node, now);
    seen_[hook] = arrived;
    if (saysIdle_) say(node, next_[hook], style_[hook]);
  }

  std::string trace;
  long calls = 0;

 private:
  /// Packets that reached `node`: what the other node sent, less what is
  /// still in its outgoing queue.
  int arrivals(const Node& node) const {
    const Node& from =
        &node == &simulator_.source ? simulator_.sink : simulator_.source;
    return sent_[&from == &simulator_.source ? 0 : 1] -
           from.outgoingQueue.getLength();
  }

  double pick(std::initializer_list<double> choices) {
    std::uniform_int_distribution<size_t> index(0, choices.size() - 1);
    return choices.begin()[index(random_)];
  }

  int upTo(int n) { return std::uniform_int_distribution<int>(0, n)(random_); }

  void act(int hook, Node& node, double now) {
    PacketQueue& in = node.incomingQueue;
    trace += std::to_string(hook) + "@" + std::to_string(now) + " in " +
             std::to_string(in.getLength()) + " arrived " +
             std::to_string(arrivals(node)) + " out " +
             std::to_string(node.outgoingQueue.getLength()) + ":";
    for (int n = upTo(in.getLength()); n > 0; --n) {
      Packet* p = in.dequeuePacket(upTo(in.getLength() - 1), 2);
      trace += " " + std::to_string(p->getSequenceNumber());
    }
    for (int n = upTo(hook == 0 ? 3 : 2); n > 0; --n) {
      Packet& p = packets_.emplace_back();
      p.setSequenceNumber(static_cast<int>(packets_.size()));
      p.setReadyToSendTime(now + pick({0, 0, 1, 2.5, 7, 40, -3, kNaN, kInf}));
      p.setSize(pick({0, 0, 100, 250, 33.3, 1e6, kInf}));
      node.outgoingQueue.enqueuePacket(&p, 2);
      ++sent_[&node == &simulator_.source ? 0 : 1];
    }
    trace += "\n";
    next_[hook] =
        now + pick({1, 1, 2, 3, 0.5, 4.25, 30, 200, 0, -1, kInf, kNaN});
    style_[hook] = upTo(3);
  }

  /// Says the hook is idle until `clock`, in one of the ways that must mean
  /// the same.
  void say(Node& node, double clock, int style) {
    switch (style) {
      case 0:
        node.idleUntil(clock + 10);
        node.idleUntil(clock);
        break;
      case 1:
        node.idleUntil(kNaN);
        node.idleUntil(clock);
        break;
      case 2:
        (&node == &simulator_.sink ? simulator_.source : simulator_.sink)
            .idleUntil(-kInf);
        node.idleUntil(clock);
        break;
      default:
        node.idleUntil(clock);
    }
  }

  static constexpr double kInf = std::numeric_limits<double>::infinity();
  static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

  Simulator& simulator_;
  std::mt19937_64 random_;
  bool saysIdle_;
  double jumpTo_;
  double next_[3] = {0, 0, 0};
  int seen_[3] = {0, 0, 0};
  int style_[3] = {0, 0, 0};
  int sent_[2] = {0, 0};
  std::deque<Packet> packets_;  // stable addresses; the queues point at them
};

class RunLoopDifferentialTest : public RunLoopTest {
 protected:
  /// The trace of two runs in a row of the random protocol on `link`.
  std::string trace(const DiffCase& link, uint64_t seed, bool saysIdle,
                    long* calls) {
    Simulator sim;
    sim.propagationDelay = link.propagationDelay;
    sim.bitRate = link.bitRate;
    sim.duration = link.duration;
    RandomProtocol protocol(sim, seed, saysIdle, link.jumpTo);
    onGenerate = [&](Node& node) { protocol.call(0, node); };
    onSend = [&](Node& node) {
      protocol.call(node.getType() == kSourceType ? 1 : 2, node);
    };
    for (int run = 0; run < 2; ++run) {  // the second finds packets left
      sim.simulate();
      protocol.trace += "end " + std::to_string(Time::getTime()) + "\n";
    }
    *calls = protocol.calls;
    return protocol.trace;
  }
};

TEST_F(RunLoopDifferentialTest, SayingWhenIdleChangesNothingButTheCalls) {
  const double k2p53 = kMaxDuration;
  const DiffCase links[] = {
      {1, 100, 300, std::nan("")},
      {0.5, 8, 500, std::nan("")},
      {3, 0.1, 400, std::nan("")},
      {0, 1e300, 200, std::nan("")},
      {2.25, std::numeric_limits<double>::infinity(), 300, std::nan("")},
      {1, 100, 300, 0.5},  // from a clock that is no whole number
      {5, 100, k2p53, k2p53 - 400},
      {1, 4, k2p53 - 3.5, k2p53 - 300},
  };
  long idleCalls = 0;
  long busyCalls = 0;
  for (const DiffCase& link : links) {
    for (uint64_t seed = 1; seed <= 40; ++seed) {
      long idle = 0;
      long busy = 0;
      const std::string withIdle = trace(link, seed, true, &idle);
      const std::string without = trace(link, seed, false, &busy);
      ASSERT_EQ(withIdle, without)
          << "seed " << seed << ", delay " << link.propagationDelay
          << ", bit rate " << link.bitRate << ", duration " << link.duration;
      idleCalls += idle;
      busyCalls += busy;
    }
  }
  EXPECT_LT(idleCalls * 3, busyCalls);  // the loop did skip
}

}  // namespace
