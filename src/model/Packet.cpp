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

/// Copies `count` packet pointers in one bulk move; the ranges may overlap.
void movePointers(Packet** to, Packet* const* from, int count) {
  if (count > 0) {
    // The pointers themselves are moved, so the size is a pointer's.
    // NOLINTNEXTLINE(bugprone-sizeof-expression)
    std::memmove(to, from, static_cast<std::size_t>(count) * sizeof(Packet*));
  }
}

/// The fewest places an array holds once it has held a packet.
constexpr int kLeastCapacity = 16;

}  // namespace

void PacketQueue::takeAsLeast(int index, const Packet& packet, int key) {
  leastIndex = index;
  leastSize = packet.getSize();
  keyTime(packet, key, &leastTime);
}

void PacketQueue::reallocate(int room) {
  std::unique_ptr<Packet*[]> moved(new Packet*[static_cast<std::size_t>(room)]);
  if (length > 0) movePointers(moved.get(), place(0), length);
  slots = std::move(moved);
  capacity = room;
  first = 0;
}

void PacketQueue::enqueuePacket(Packet* packet, int key) {
  assert(packet != nullptr);
  if (length == 0) first = 0;
  if (first + length == capacity) {
    // Moved back to the start where at least half the array is free there,
    // else into one twice as large.
    if (first >= capacity / 2 && capacity > 0) {
      movePointers(slots.get(), place(0), length);
      first = 0;
    } else {
      reallocate(capacity == 0 ? kLeastCapacity : 2 * capacity);
    }
  }
  const Packet* last = length > 0 ? *place(length - 1) : nullptr;
  for (int ordering = kByCreationTime; ordering <= kByReadyToSendTime;
       ++ordering) {
    double time = 0.0;
    keyTime(*packet, ordering, &time);
    bool& ordered = inOrder[ordering - 1];
    if (last == nullptr) {
      ordered = time == time;  // not NaN
    } else {
      double before = 0.0;
      keyTime(*last, ordering, &before);
      ordered = ordered && before <= time;
    }
  }
  *place(length) = packet;
  if (length == 0) {
    takeAsLeast(0, *packet, key);
    length = 1;
    return;
  }
  // Strictly less, so among equal keys the earliest inserted stays least and
  // a NaN key never takes over.
  double time = 0.0;
  if (keyTime(*packet, key, &time) && time < leastTime) {
    takeAsLeast(length, *packet, key);
  }
  ++length;
}

void PacketQueue::rescan(int key) {
  takeAsLeast(0, **place(0), key);
  // In order, the first holds the least, and a later one only ties it.
  if ((key != kByCreationTime && key != kByReadyToSendTime) ||
      inOrder[key - 1]) {
    return;
  }
  double time = 0.0;
  for (int i = 1; i < length; ++i) {
    if (keyTime(**place(i), key, &time) && time < leastTime) {
      takeAsLeast(i, **place(i), key);
    }
  }
}

Packet* PacketQueue::dequeuePacket(int index, int key) {
  if (index < 0 || index >= length) {
    std::puts("Invalid packet index to dequeue");
    std::exit(EXIT_FAILURE);
  }
  Packet* removed = *place(index);
  if (length == 1) {
    // The cached fields deliberately keep the removed packet's values.
    length = first = 0;
    inOrder[0] = inOrder[1] = true;
    return removed;
  }
  // The shorter side closes the gap; either keeps the order.
  if (index < length / 2) {
    movePointers(place(1), place(0), index);
    ++first;
  } else {
    movePointers(place(index), place(index + 1), length - index - 1);
  }
  --length;
  if (capacity > kLeastCapacity && length <= capacity / 4) {
    reallocate(capacity / 2);
  }
  rescan(key);
  return removed;
}
