#ifndef LINKSIM_PROTOCOLS_KIT_RANDOM_H_
#define LINKSIM_PROTOCOLS_KIT_RANDOM_H_

// Numbers drawn from a seed, the same on every compiler and machine: the
// standard fixes mt19937_64's sequence but not its distributions', so the
// kit makes its own from the generator's bits.

#include <cmath>
#include <random>

namespace kit {

/// Uniform on [0, 1): the top 53 bits of the next number.
inline double uniform(std::mt19937_64& random) {
  return static_cast<double>(random() >> 11) * 0x1.0p-53;
}

/// Exponential with mean `mean`: -mean log(1 - u) for u uniform on [0, 1),
/// finite since 1 - u is above 0.
inline double exponential(std::mt19937_64& random, double mean) {
  return -mean * std::log1p(-uniform(random));
}

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_RANDOM_H_
