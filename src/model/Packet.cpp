#include "model/Packet.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

/// Copies `count` packet pointers into a freshly allocated array in one bulk
/// move. The arrays never overlap: every resize allocates a new one.
void copyPointers(Packet** to, Packet* const* from, int count) {
  if (count > 0) {
    // The pointers themselves are copied, so the size is a pointer's.
    // NOLINTNEXTLINE(bugprone-sizeof-expression)
    std::memcpy(to, from, static_cast<std::size_t>(count) * sizeof(Packet*));
  }
}

}  // namespace

void PacketQueue::takeAsLeast(int index, const Packet& packet, int key) {
  leastIndex = index;
  leastSize = packet.getSize();
  keyTime(packet, key, &leastTime);
}

void PacketQueue::enqueuePacket(Packet* packet, int key) {
  assert(packet != nullptr);
  if (length <= 0) {
    packets = std::make_unique<Packet*[]>(1);
    packets[0] = packet;
    takeAsLeast(0, *packet, key);
    length = 1;
    return;
  }
  std::unique_ptr<Packet*[]> grown(new Packet*[length + 1]);
  copyPointers(grown.get(), packets.get(), length);
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
  copyPointers(shrunk.get(), packets.get(), index);
  copyPointers(shrunk.get() + index, packets.get() + index + 1,
               length - index - 1);
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
