#ifndef LINKSIM_PROTOCOLS_KIT_FIFO_H_
#define LINKSIM_PROTOCOLS_KIT_FIFO_H_

// A first-in first-out queue in one growing ring buffer: pushing at the back,
// popping at the front and reading any element cost the same however many it
// holds, and once it has held its most it allocates no more. The kit keeps
// frames in flight, waiting ACKs, timers and windows in it.

#include <cassert>
#include <cstddef>
#include <memory>
#include <utility>

namespace kit {

template <typename T>
class Fifo {
 public:
  Fifo() = default;
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;

  bool empty() const { return count == 0; }
  size_t size() const { return count; }

  /// The element `i` places from the front; `i` must be below size().
  T& operator[](size_t i) {
    assert(i < count);
    return items[(head + i) & mask];
  }
  const T& operator[](size_t i) const {
    assert(i < count);
    return items[(head + i) & mask];
  }
  T& front() { return (*this)[0]; }
  const T& front() const { return (*this)[0]; }
  T& back() { return (*this)[count - 1]; }

  void push(T item) {
    if (count == capacity()) grow();
    items[(head + count) & mask] = std::move(item);
    ++count;
  }
  T pop() {
    T item = std::move(front());
    head = (head + 1) & mask;
    --count;
    return item;
  }
  /// Empties it, keeping its room.
  void clear() {
    head = 0;
    count = 0;
  }

 private:
  size_t capacity() const { return items == nullptr ? 0 : mask + 1; }

  /// Doubles the room (a power of two, so an index wraps with a mask),
  /// moving the elements to the front of the new buffer.
  void grow() {
    const size_t room = capacity() == 0 ? 16 : 2 * capacity();
    auto grown = std::make_unique<T[]>(room);
    for (size_t i = 0; i < count; ++i) grown[i] = std::move((*this)[i]);
    items = std::move(grown);
    mask = room - 1;
    head = 0;
  }

  std::unique_ptr<T[]> items;
  size_t mask = 0;
  size_t head = 0;
  size_t count = 0;
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_FIFO_H_
