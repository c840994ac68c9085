#ifndef LINKSIM_CHECKER_TABLES_H_
#define LINKSIM_CHECKER_TABLES_H_

// What the promises hold while a trace is read: a queue of the frames in
// flight in each direction, and sets of packets. Each starts empty, grows
// by doubling and never shrinks, so that a row costs no allocation. Growing
// asks a Memory, shared by every table of a check, which may refuse, as may
// the system: then the table stays as it was and says so (false), and the
// check ends saying it ran out of memory, where an allocation would have
// thrown.

#include <cassert>
#include <cstddef>
#include <cstdint>

namespace checker {

/// The bytes a check's tables may hold between them, and hold now.
class Memory {
 public:
  explicit Memory(std::size_t limit) : limit_(limit) {}
  /// realloc's contract, `from` and `to` the sizes in bytes: null, the block
  /// unchanged, where the limit or the system refuses.
  void* resize(void* block, std::size_t from, std::size_t to);
  /// Frees `block`, of `size` bytes.
  void release(void* block, std::size_t size);

 private:
  std::size_t limit_;
  std::size_t used_ = 0;
};

/// A frame on the link.
struct Frame {
  std::uint64_t packet;
  std::int32_t sequence;
  std::int32_t kind;
};

/// Frames in the order they were put on one direction of the link: a ring
/// of a power of two in size.
class FrameFifo {
 public:
  explicit FrameFifo(Memory* memory) : memory_(memory) {}
  ~FrameFifo();
  FrameFifo(const FrameFifo&) = delete;
  FrameFifo& operator=(const FrameFifo&) = delete;

  /// Adds `frame` at the back; false when there is no memory for it.
  bool push(const Frame& frame) {
    if (size_ == capacity_ && !grow()) return false;
    frames_[(head_ + size_++) & (capacity_ - 1)] = frame;
    return true;
  }
  bool empty() const { return size_ == 0; }
  std::size_t size() const { return size_; }
  /// The `i`th from the front, i < size().
  const Frame& operator[](std::size_t i) const {
    assert(i < size_);
    return frames_[(head_ + i) & (capacity_ - 1)];
  }
  /// Takes the front away.
  void pop() {
    assert(size_ > 0);
    head_ = (head_ + 1) & (capacity_ - 1);
    --size_;
  }

 private:
  bool grow();
  Memory* memory_;
  Frame* frames_ = nullptr;
  std::size_t capacity_ = 0;  // 0 or a power of two
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

/// A set of packets: a linear-probing hash table.
class PacketSet {
 public:
  explicit PacketSet(Memory* memory) : memory_(memory) {}
  ~PacketSet();
  PacketSet(const PacketSet&) = delete;
  PacketSet& operator=(const PacketSet&) = delete;

  /// Adds `packet` if it is not there; false when there is no memory for it.
  bool insert(std::uint64_t packet);
  /// True if `packet` is there.
  bool contains(std::uint64_t packet) const {
    return size_ != 0 && slots_[find(packet)].full;
  }
  /// Takes `packet` away; false if it was not there.
  bool erase(std::uint64_t packet);
  std::size_t size() const { return size_; }

 private:
  struct Slot {
    std::uint64_t packet;
    std::uint64_t full;  // 0: empty
  };
  std::size_t home(std::uint64_t packet) const;
  /// The slot of `packet`, or the empty one it would take.
  std::size_t find(std::uint64_t packet) const;
  bool grow();
  Memory* memory_;
  Slot* slots_ = nullptr;
  std::size_t capacity_ = 0;  // 0 or a power of two
  int bits_ = 0;              // capacity_ is 2^bits_
  std::size_t size_ = 0;
};

}  // namespace checker

#endif  // LINKSIM_CHECKER_TABLES_H_
