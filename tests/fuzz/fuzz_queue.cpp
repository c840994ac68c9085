// Packet queue: an arbitrary sequence of insertions and removals, checked
// after every step against a plain reference model of the queue.
//
// Input layout: pairs of bytes (operation, argument). The operation picks
// insert or remove and the ordering key (1, 2, or rarely an unknown key);
// the argument picks the packet's times (from a small set with repeats, NaN,
// -0.0 and infinity) or the position to remove. Invalid positions end the
// process by design, so only valid positions are removed.
//
// Checked after every step: the length, the cached least index, time and
// size (they keep their last values when the queue empties; an unknown key
// leaves the least time alone), and the packet each removal returns. At the
// end the queue is drained from the front, which checks the order of every
// remaining packet. Where every step used one key and no time is NaN, the
// least is also checked against its definition: the lowest position holding
// the least time.

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "model/Packet.h"

namespace {

bool keyTime(const Packet& packet, int key, double* time) {
  if (key == 1) {
    *time = packet.getCreationTime();
    return true;
  }
  if (key == 2) {
    *time = packet.getReadyToSendTime();
    return true;
  }
  return false;
}

/// The queue as its rules state them, on a vector.
struct ModelQueue {
  std::vector<Packet*> packets;
  double leastTime = 0.0;
  int leastIndex = 0;
  double leastSize = 0.0;

  void take(int index, int key) {
    leastIndex = index;
    leastSize = packets[index]->getSize();
    keyTime(*packets[index], key, &leastTime);
  }

  void enqueue(Packet* packet, int key) {
    packets.push_back(packet);
    const int last = static_cast<int>(packets.size()) - 1;
    double time = 0.0;
    if (last == 0) {
      take(0, key);
    } else if (keyTime(*packet, key, &time) && time < leastTime) {
      take(last, key);
    }
  }

  Packet* dequeue(int index, int key) {
    Packet* removed = packets[index];
    packets.erase(packets.begin() + index);
    if (packets.empty()) return removed;
    take(0, key);
    double time = 0.0;
    for (int i = 1; i < static_cast<int>(packets.size()); ++i) {
      if (keyTime(*packets[i], key, &time) && time < leastTime) take(i, key);
    }
    return removed;
  }
};

const double kTimes[] = {0.0,
                         1.0,
                         2.0,
                         3.0,
                         3.0,
                         -0.0,
                         -1.0,
                         std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN()};
constexpr int kTimeCount = sizeof kTimes / sizeof kTimes[0];

int keyOf(uint8_t operation) {
  const int choice = (operation >> 1) % 9;
  if (choice == 8) return (operation & 0x80) != 0 ? 3 : 0;  // unknown keys
  return 1 + choice % 2;
}

void checkSame(const PacketQueue& queue, const ModelQueue& model) {
  FUZZ_CHECK(queue.getLength() == static_cast<int>(model.packets.size()));
  FUZZ_CHECK(queue.getLeastIndex() == model.leastIndex);
  FUZZ_CHECK(sameValue(queue.getLeastTime(), model.leastTime));
  FUZZ_CHECK(sameValue(queue.getLeastSize(), model.leastSize));
}

/// The least by definition, for a queue used with `key` alone and no NaN.
void checkDefinition(const ModelQueue& model, int key) {
  if (model.packets.empty()) return;
  int lowest = 0;
  double least = 0.0;
  keyTime(*model.packets[0], key, &least);
  for (int i = 0; i < static_cast<int>(model.packets.size()); ++i) {
    double time = 0.0;
    keyTime(*model.packets[i], key, &time);
    if (std::isnan(time)) return;
    if (time < least) {
      least = time;
      lowest = i;
    }
  }
  FUZZ_CHECK(model.leastIndex == lowest);
  FUZZ_CHECK(sameValue(model.leastTime, least));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::unique_ptr<Packet>> pool;  // outlives the queue
  PacketQueue queue;
  ModelQueue model;
  int onlyKey = -1;  // the one key used so far, 0 once keys were mixed

  checkSame(queue, model);
  for (size_t i = 0; i + 1 < size; i += 2) {
    const uint8_t operation = data[i];
    const uint8_t argument = data[i + 1];
    const int key = keyOf(operation);
    onlyKey = onlyKey == -1 || onlyKey == key ? key : 0;
    if (operation % 2 == 0 || model.packets.empty()) {
      pool.push_back(std::make_unique<Packet>());
      Packet* packet = pool.back().get();
      packet->setCreationTime(kTimes[argument % kTimeCount]);
      packet->setReadyToSendTime(kTimes[(argument / kTimeCount) % kTimeCount]);
      packet->setSize(static_cast<double>(pool.size()));  // tells them apart
      queue.enqueuePacket(packet, key);
      model.enqueue(packet, key);
    } else {
      const int index = argument % static_cast<int>(model.packets.size());
      Packet* removed = queue.dequeuePacket(index, key);
      FUZZ_CHECK(removed == model.dequeue(index, key));
    }
    checkSame(queue, model);
    if (onlyKey == 1 || onlyKey == 2) checkDefinition(model, onlyKey);
  }
  while (!model.packets.empty()) {
    FUZZ_CHECK(queue.dequeuePacket(0, 2) == model.dequeue(0, 2));
    checkSame(queue, model);
  }
  return 0;
}
