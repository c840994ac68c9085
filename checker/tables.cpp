#include "tables.h"

#include <cstdlib>
#include <cstring>

namespace checker {

namespace {

// Small, so that the few frames or packets a protocol has at once stay in
// the fastest cache.
constexpr int kFirstBits = 6;

}  // namespace

void* Memory::resize(void* block, std::size_t from, std::size_t to) {
  assert(used_ >= from);
  if (to > from && to - from > limit_ - used_) return nullptr;
  void* const resized = std::realloc(block, to);
  if (resized != nullptr) used_ = used_ - from + to;
  return resized;
}

void Memory::release(void* block, std::size_t size) {
  assert(used_ >= size);
  std::free(block);
  used_ -= size;
}

FrameFifo::~FrameFifo() {
  memory_->release(frames_, capacity_ * sizeof(Frame));
}

bool FrameFifo::grow() {
  const std::size_t capacity =
      capacity_ == 0 ? std::size_t{1} << kFirstBits : capacity_ * 2;
  if (capacity > SIZE_MAX / sizeof(Frame)) return false;
  void* const grown = memory_->resize(frames_, capacity_ * sizeof(Frame),
                                      capacity * sizeof(Frame));
  if (grown == nullptr) return false;
  frames_ = static_cast<Frame*>(grown);
  // The frames that wrapped to the start follow the others instead.
  if (head_ + size_ > capacity_) {
    std::memcpy(frames_ + capacity_, frames_,
                (head_ + size_ - capacity_) * sizeof(Frame));
  }
  capacity_ = capacity;
  return true;
}

PacketSet::~PacketSet() { memory_->release(slots_, capacity_ * sizeof(Slot)); }

std::size_t PacketSet::home(std::uint64_t packet) const {
  std::uint64_t h = packet * 0x9E3779B97F4A7C15u;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9u;
  return static_cast<std::size_t>(h >> (64 - bits_));
}

std::size_t PacketSet::find(std::uint64_t packet) const {
  std::size_t i = home(packet);
  while (slots_[i].full != 0 && slots_[i].packet != packet) {
    i = (i + 1) & (capacity_ - 1);
  }
  return i;
}

bool PacketSet::insert(std::uint64_t packet) {
  // At most half full, so that probes stay short.
  if ((size_ + 1) * 2 > capacity_ && !grow()) return false;
  Slot& slot = slots_[find(packet)];
  if (slot.full == 0) {
    slot = Slot{packet, 1};
    ++size_;
  }
  return true;
}

bool PacketSet::erase(std::uint64_t packet) {
  if (size_ == 0) return false;
  std::size_t hole = find(packet);
  if (slots_[hole].full == 0) return false;
  // Backward-shift deletion: each packet after the hole that may move back
  // toward its home does, so that no probe ever stops short of its packet.
  slots_[hole].full = 0;
  const std::size_t mask = capacity_ - 1;
  for (std::size_t i = (hole + 1) & mask; slots_[i].full != 0;
       i = (i + 1) & mask) {
    const std::size_t from = home(slots_[i].packet);
    if (((i - from) & mask) >= ((i - hole) & mask)) {
      slots_[hole] = slots_[i];
      slots_[i].full = 0;
      hole = i;
    }
  }
  --size_;
  return true;
}

bool PacketSet::grow() {
  const int bits = capacity_ == 0 ? kFirstBits : bits_ + 1;
  const std::size_t capacity = std::size_t{1} << bits;
  if (bits >= 63 || capacity > SIZE_MAX / sizeof(Slot)) return false;
  void* const block = memory_->resize(nullptr, 0, capacity * sizeof(Slot));
  if (block == nullptr) return false;
  Slot* const old = slots_;
  const std::size_t oldCapacity = capacity_;
  slots_ = static_cast<Slot*>(block);
  std::memset(slots_, 0, capacity * sizeof(Slot));
  capacity_ = capacity;
  bits_ = bits;
  for (std::size_t i = 0; i < oldCapacity; ++i) {
    if (old[i].full != 0) slots_[find(old[i].packet)] = old[i];
  }
  memory_->release(old, oldCapacity * sizeof(Slot));
  return true;
}

}  // namespace checker
