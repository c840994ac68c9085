#include "random.h"

#include <cstddef>
#include <cstdint>

namespace kit {

namespace {

// mt19937_64's parameters: the words between those a step mixes, the bits
// of a word's upper part, and the twist's matrix.
constexpr std::size_t kShift = 156;
constexpr std::uint64_t kUpper = ~std::uint64_t{0} << 31;
constexpr std::uint64_t kMatrix = 0xb5026f5aa96619e9U;

/// The next word from `upper`'s top bits and `lower`'s others, mixed with
/// `far`.
std::uint64_t twist(std::uint64_t upper, std::uint64_t lower,
                    std::uint64_t far) {
  const std::uint64_t y = (upper & kUpper) | (lower & ~kUpper);
  return far ^ (y >> 1) ^ ((y & 1) != 0 ? kMatrix : 0);
}

}  // namespace

void Random::seed(std::uint64_t value) {
  state[0] = value;
  for (std::size_t i = 1; i < kStateSize; ++i) {
    const std::uint64_t before = state[i - 1];
    state[i] = 6364136223846793005U * (before ^ (before >> 62)) + i;
  }
  next = kStateSize;
}

void Random::refill() {
  // Word k mixes with words k + 1 and k + 156, both wrapping past the end:
  // three loops, so that no index needs a remainder.
  std::size_t k = 0;
  for (; k < kStateSize - kShift; ++k) {
    state[k] = twist(state[k], state[k + 1], state[k + kShift]);
  }
  for (; k < kStateSize - 1; ++k) {
    state[k] = twist(state[k], state[k + 1], state[k + kShift - kStateSize]);
  }
  state[k] = twist(state[k], state[0], state[kShift - 1]);
  next = 0;
}

}  // namespace kit
