// Packet queue: an arbitrary sequence of insertions and removals, checked
// after every step against what the queue must hold, not against a second
// copy of its algorithm (which would share its faults).
//
// Input layout: pairs of bytes (operation, argument). The operation picks
// insert or remove and the ordering key (1, 2, or rarely an unknown key);
// the argument picks the packet's times (from a small set with repeats, NaN,
// -0.0 and infinity) or the position to remove. Invalid positions end the
// process by design, so only valid positions are removed.
//
// Checked after every step: the length and the packets in insertion order,
// and the packet each removal returns. Where the cached least is defined (the
// queue was filled, or last rescanned, with one of the two keys, and every
// insertion since used that key, and no held time is NaN), it must be the
// lowest position holding the least time, with that packet's time and size.
// Removing the last packet leaves the three cached fields as they were.

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "model/Packet.h"

namespace {

double keyTime(const Packet& packet, int key) {
  return key == 1 ? packet.getCreationTime() : packet.getReadyToSendTime();
}

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

/// The least by its definition: the lowest position holding the least time.
void checkLeast(const PacketQueue& queue, const std::vector<Packet*>& held,
                int key) {
  int lowest = 0;
  for (int i = 0; i < static_cast<int>(held.size()); ++i) {
    if (std::isnan(keyTime(*held[i], key))) return;  // no least is defined
    if (keyTime(*held[i], key) < keyTime(*held[lowest], key)) lowest = i;
  }
  FUZZ_CHECK(queue.getLeastIndex() == lowest);
  FUZZ_CHECK(sameValue(queue.getLeastTime(), keyTime(*held[lowest], key)));
  FUZZ_CHECK(sameValue(queue.getLeastSize(), held[lowest]->getSize()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::unique_ptr<Packet>> pool;  // outlives the queue
  PacketQueue queue;
  std::vector<Packet*> held;  // what the queue must hold, in order
  int leastKey = 0;           // the key the cached least follows, 0 for none

  for (size_t i = 0; i + 1 < size; i += 2) {
    const uint8_t operation = data[i];
    const uint8_t argument = data[i + 1];
    const int key = keyOf(operation);
    const bool knownKey = key == 1 || key == 2;
    if (operation % 2 == 0 || held.empty()) {
      pool.push_back(std::make_unique<Packet>());
      Packet* packet = pool.back().get();
      packet->setCreationTime(kTimes[argument % kTimeCount]);
      packet->setReadyToSendTime(kTimes[(argument / kTimeCount) % kTimeCount]);
      packet->setSize(static_cast<double>(pool.size()));  // tells them apart
      if (held.empty()) leastKey = knownKey ? key : 0;
      if (key != leastKey) leastKey = 0;
      queue.enqueuePacket(packet, key);
      held.push_back(packet);
    } else {
      const int index = argument % static_cast<int>(held.size());
      const double time = queue.getLeastTime();
      const int lowest = queue.getLeastIndex();
      const double leastSize = queue.getLeastSize();
      FUZZ_CHECK(queue.dequeuePacket(index, key) == held[index]);
      held.erase(held.begin() + index);
      if (held.empty()) {
        FUZZ_CHECK(sameValue(queue.getLeastTime(), time));
        FUZZ_CHECK(queue.getLeastIndex() == lowest);
        FUZZ_CHECK(sameValue(queue.getLeastSize(), leastSize));
      }
      leastKey = knownKey ? key : 0;  // the removal rescanned with `key`
    }
    FUZZ_CHECK(queue.getLength() == static_cast<int>(held.size()));
    if (leastKey != 0 && !held.empty()) checkLeast(queue, held, leastKey);
  }
  for (Packet* packet : held) FUZZ_CHECK(queue.dequeuePacket(0, 2) == packet);
  FUZZ_CHECK(queue.getLength() == 0);
  return 0;
}
