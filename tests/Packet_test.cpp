#include "model/Packet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

const double kNaN = std::nan("");

class PacketQueueTest : public ::testing::Test {
 protected:
  /// Makes a packet with the given ready-to-send time and size, kept alive
  /// by the fixture as a queue never owns its packets.
  Packet* packet(double readyToSendTime, double size = 1.0,
                 double creationTime = 0.0) {
    packets_.emplace_back(new Packet);
    Packet* p = packets_.back().get();
    p->setReadyToSendTime(readyToSendTime);
    p->setSize(size);
    p->setCreationTime(creationTime);
    return p;
  }

  void enqueueTimes(std::initializer_list<double> times) {
    for (double t : times) queue_.enqueuePacket(packet(t, t * 10), 2);
  }

  PacketQueue queue_;
  std::vector<std::unique_ptr<Packet>> packets_;
};

TEST(PacketTest, NewPacketIsAllZero) {
  const Packet p;
  EXPECT_EQ(0, p.getType());
  EXPECT_EQ(0, p.getSource());
  EXPECT_EQ(0, p.getDestination());
  EXPECT_EQ(0, p.getSequenceNumber());
  EXPECT_EQ(0.0, p.getSize());
  EXPECT_EQ(0.0, p.getOverhead());
  EXPECT_EQ(0.0, p.getCreationTime());
  EXPECT_EQ(0.0, p.getReadyToSendTime());
}

TEST_F(PacketQueueTest, NewQueueIsEmptyWithZeroCache) {
  EXPECT_EQ(0, queue_.getLength());
  EXPECT_EQ(0, queue_.getLeastIndex());
  EXPECT_EQ(0.0, queue_.getLeastTime());
  EXPECT_EQ(0.0, queue_.getLeastSize());
}

TEST_F(PacketQueueTest, FirstInsertionBecomesLeast) {
  queue_.enqueuePacket(packet(7.0, 30.0), 2);
  EXPECT_EQ(1, queue_.getLength());
  EXPECT_EQ(0, queue_.getLeastIndex());
  EXPECT_EQ(7.0, queue_.getLeastTime());
  EXPECT_EQ(30.0, queue_.getLeastSize());
}

TEST_F(PacketQueueTest, EqualKeysKeepTheEarliestInserted) {
  enqueueTimes({5, 3, 3});
  EXPECT_EQ(1, queue_.getLeastIndex());
  EXPECT_EQ(3.0, queue_.getLeastTime());
  EXPECT_EQ(30.0, queue_.getLeastSize());
}

TEST_F(PacketQueueTest, RemovalClosesTheGapAndRescans) {
  enqueueTimes({5, 3, 3});
  Packet* second = packets_[1].get();
  EXPECT_EQ(second, queue_.dequeuePacket(1, 2));
  EXPECT_EQ(2, queue_.getLength());
  EXPECT_EQ(1, queue_.getLeastIndex());  // 5, 3
  EXPECT_EQ(packets_[2].get(), queue_.dequeuePacket(1, 2));
  EXPECT_EQ(packets_[0].get(), queue_.dequeuePacket(0, 2));
}

TEST_F(PacketQueueTest, RemovingTheFirstOfEqualsLeavesLeastAtZero) {
  enqueueTimes({5, 3, 3});
  EXPECT_EQ(packets_[0].get(), queue_.dequeuePacket(0, 2));
  EXPECT_EQ(2, queue_.getLength());
  EXPECT_EQ(0, queue_.getLeastIndex());
  EXPECT_EQ(3.0, queue_.getLeastTime());
}

TEST_F(PacketQueueTest, RemovingTheLastPacketKeepsTheCache) {
  queue_.enqueuePacket(packet(4.0, 40.0), 2);
  EXPECT_EQ(packets_[0].get(), queue_.dequeuePacket(0, 2));
  EXPECT_EQ(0, queue_.getLength());
  EXPECT_EQ(4.0, queue_.getLeastTime());
  EXPECT_EQ(40.0, queue_.getLeastSize());
  // The next insertion starts afresh, even with a larger time.
  queue_.enqueuePacket(packet(9.0, 90.0), 2);
  EXPECT_EQ(9.0, queue_.getLeastTime());
  EXPECT_EQ(90.0, queue_.getLeastSize());
}

TEST_F(PacketQueueTest, KeyOneOrdersByCreationTime) {
  queue_.enqueuePacket(packet(1.0, 1.0, 8.0), 1);
  queue_.enqueuePacket(packet(2.0, 2.0, 6.0), 1);
  EXPECT_EQ(1, queue_.getLeastIndex());
  EXPECT_EQ(6.0, queue_.getLeastTime());
}

TEST_F(PacketQueueTest, RemovalWithKeyOneRescansByCreationTime) {
  // Filled by ready-to-send time: least is position 0.
  queue_.enqueuePacket(packet(1.0, 10.0, 9.0), 2);
  queue_.enqueuePacket(packet(2.0, 20.0, 7.0), 2);
  queue_.enqueuePacket(packet(3.0, 30.0, 8.0), 2);
  ASSERT_EQ(0, queue_.getLeastIndex());
  queue_.dequeuePacket(0, 1);
  EXPECT_EQ(0, queue_.getLeastIndex());
  EXPECT_EQ(7.0, queue_.getLeastTime());
  EXPECT_EQ(20.0, queue_.getLeastSize());
}

TEST_F(PacketQueueTest, NaNNeverWinsAComparison) {
  enqueueTimes({4, kNaN});
  EXPECT_EQ(0, queue_.getLeastIndex());
  EXPECT_EQ(4.0, queue_.getLeastTime());
}

TEST_F(PacketQueueTest, NaNLeastIsNeverReplacedByInsertion) {
  enqueueTimes({kNaN, 1, 0});
  EXPECT_EQ(0, queue_.getLeastIndex());
  EXPECT_TRUE(std::isnan(queue_.getLeastTime()));
  // A rescan starting at the NaN packet stays there too.
  enqueueTimes({kNaN});
  queue_.dequeuePacket(1, 2);
  EXPECT_EQ(0, queue_.getLeastIndex());
}

TEST_F(PacketQueueTest, UnknownKeyLeavesLeastTimeAlone) {
  queue_.enqueuePacket(packet(5.0, 50.0), 2);
  queue_.enqueuePacket(packet(1.0, 10.0), 7);
  EXPECT_EQ(2, queue_.getLength());
  EXPECT_EQ(0, queue_.getLeastIndex());
  EXPECT_EQ(5.0, queue_.getLeastTime());

  PacketQueue fresh;
  fresh.enqueuePacket(packet(3.0, 30.0), 0);
  EXPECT_EQ(0, fresh.getLeastIndex());
  EXPECT_EQ(30.0, fresh.getLeastSize());
  EXPECT_EQ(0.0, fresh.getLeastTime());
}

// Up to 300 packets and down to 1, twice, through the array's growth, its
// moves back to the start and its shrinking, against the definitions: the
// packets in insertion order, the least the lowest position of the least
// time. Times in order (the rescan reads the first alone), out of order, and
// in order but for one; removals from the front, the middle and elsewhere.
TEST_F(PacketQueueTest, KeepsOrderAndLeastThroughGrowthAndShrinking) {
  const struct {
    double (*time)(int i);
    int (*removal)(int length, int step);
  } kCases[] = {
      {[](int i) { return i / 3.0; }, [](int, int) { return 0; }},
      {[](int i) { return i / 3.0; }, [](int n, int) { return n / 2; }},
      {[](int i) { return (i * 37) % 101 * 1.0; },
       [](int n, int step) { return step % 2 ? 1 : n - 2; }},
      {[](int i) { return i == 40 ? -1.0 : i; },
       [](int n, int step) { return step * 7 % n; }},
  };
  for (size_t c = 0; c < std::size(kCases); ++c) {
    PacketQueue queue;
    std::vector<Packet*> held;
    for (int step = 0; step < 1200; ++step) {
      if ((step / 300) % 2 == 0 || held.size() <= 1) {
        held.push_back(packet(kCases[c].time(step), step));
        queue.enqueuePacket(held.back(), 2);
      } else {
        const int index =
            kCases[c].removal(static_cast<int>(held.size()), step);
        ASSERT_EQ(held[index], queue.dequeuePacket(index, 2)) << c;
        held.erase(held.begin() + index);
        const auto least = std::min_element(
            held.begin(), held.end(), [](const Packet* a, const Packet* b) {
              return a->getReadyToSendTime() < b->getReadyToSendTime();
            });
        ASSERT_EQ(least - held.begin(), queue.getLeastIndex()) << c << step;
      }
      ASSERT_EQ(static_cast<int>(held.size()), queue.getLength()) << c;
    }
    for (Packet* p : held) ASSERT_EQ(p, queue.dequeuePacket(0, 2)) << c;
  }
}

// An invalid position means the caller's bookkeeping is broken: the process
// ends with a failure status rather than reporting success.
TEST_F(PacketQueueTest, InvalidDequeueEndsTheProcessWithFailure) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  enqueueTimes({1, 2});
  for (int index : {2, -1}) {
    EXPECT_EXIT(
        {
          dup2(2, 1);  // the message goes to standard output
          queue_.dequeuePacket(index, 2);
        },
        ::testing::ExitedWithCode(EXIT_FAILURE),
        "Invalid packet index to dequeue\n$")
        << index;
  }
  PacketQueue empty;
  EXPECT_EXIT(
      {
        dup2(2, 1);
        empty.dequeuePacket(0, 2);
      },
      ::testing::ExitedWithCode(EXIT_FAILURE), "Invalid packet index");
}

}  // namespace
