#include "model/Packet.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

/// Stores the packet's time under `key` in `*time`; false for an unknown key.
bool keyTime(const Packet& packet, int key, double* time) {
  if (key == kByCreationTime) {
    *time = packet.getCreationTime();
    return true;
  }
  if (key == kByReadyToSendTime) {
    *time = packet.getReadyToSendTime();
    return true;
  }
  return false;
}

}  // namespace

void PacketQueue::takeAsLeast(int index, const Packet& packet, int key) {
  leastIndex = index;
  leastSize = packet.getSize();
  keyTime(packet, key, &leastTime);
}

void PacketQueue::enqueuePacket(Packet* packet, int key) {
  if (length <= 0) {
    packets = std::make_unique<Packet*[]>(1);
    packets[0] = packet;
    takeAsLeast(0, *packet, key);
    length = 1;
    return;
  }
  std::unique_ptr<Packet*[]> grown(new Packet*[length + 1]);
  std::copy_n(packets.get(), length, grown.get());
  grown[length] = packet;
  packets = std::move(grown);
  // Strictly less, so among equal keys the earliest inserted stays least and
  // a NaN key never takes over.
  double time = 0.0;
  if (keyTime(*packet, key, &time) && time < leastTime) {
    takeAsLeast(length, *packet, key);
  }
  ++length;
}

Packet* PacketQueue::dequeuePacket(int index, int key) {
  if (index < 0 || index >= length) {
    std::puts("Invalid packet index to dequeue");
    std::exit(EXIT_FAILURE);
  }
  Packet* removed = packets[index];
  if (length == 1) {
    // The cached fields deliberately keep the removed packet's values.
    packets.reset();
    length = 0;
    return removed;
  }
  std::unique_ptr<Packet*[]> shrunk(new Packet*[length - 1]);
  std::copy_n(packets.get(), index, shrunk.get());
  std::copy(packets.get() + index + 1, packets.get() + length,
            shrunk.get() + index);
  packets = std::move(shrunk);
  --length;

  takeAsLeast(0, *packets[0], key);
  double time = 0.0;
  for (int i = 1; i < length; ++i) {
    if (keyTime(*packets[i], key, &time) && time < leastTime) {
      takeAsLeast(i, *packets[i], key);
    }
  }
  return removed;
}
