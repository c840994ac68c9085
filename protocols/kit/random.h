#ifndef LINKSIM_PROTOCOLS_KIT_RANDOM_H_
#define LINKSIM_PROTOCOLS_KIT_RANDOM_H_

// Numbers drawn from a seed, the same on every compiler and machine: the
// standard fixes mt19937_64's sequence but not its distributions', so the
// kit makes its own from the generator's bits. The generator is the kit's
// own too, mt19937_64 to the bit (the standard defines its every output),
// so that a protocol does not parse <random>, the largest header it would
// otherwise include.

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace kit {

/// The 64-bit Mersenne Twister: the numbers std::mt19937_64 draws from the
/// same seed. A draw is inline; the state is refilled out of line, once
/// every 312 draws.
class Random {
 public:
  /// Seeded as std::mt19937_64's default is.
  Random() { seed(5489); }
  explicit Random(std::uint64_t value) { seed(value); }

  /// Starts the sequence of `value` afresh.
  void seed(std::uint64_t value);

  /// The next number, any 64 bits.
  std::uint64_t operator()() {
    if (next == kStateSize) refill();
    std::uint64_t z = state[next++];
    z ^= (z >> 29) & 0x5555555555555555U;
    z ^= (z << 17) & 0x71d67fffeda60000U;
    z ^= (z << 37) & 0xfff7eee000000000U;
    z ^= z >> 43;
    return z;
  }

 private:
  static constexpr std::size_t kStateSize = 312;

  /// Twists the whole state into the next 312 numbers' worth.
  void refill();

  std::uint64_t state[kStateSize];
  std::size_t next = kStateSize;  // the state's next word to draw
};

/// Uniform on [0, 1): the top 53 bits of the next number.
template <typename Generator>
inline double uniform(Generator& random) {
  return static_cast<double>(random() >> 11) * 0x1.0p-53;
}

/// Exponential with mean `mean`: -mean log(1 - u) for u uniform on [0, 1),
/// finite since 1 - u is above 0.
template <typename Generator>
inline double exponential(Generator& random, double mean) {
  return -mean * std::log1p(-uniform(random));
}

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_RANDOM_H_
