// The kit's stand-in for std::to_chars on doubles (kit/to_chars.h), used
// where the C++ library lacks it, held equal to std::to_chars here, where
// the library has it: the fewest digits that read back, and six places, over
// values of every exponent, the powers of two and their neighbours (where
// the nearest string of the fewest digits may not read back and one beside
// it does), decimals such as the variables and the figures hold, signed
// zeros, infinities and NaN.

#include "kit/to_chars.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<double> values() {
  std::vector<double> all = {0.0,
                             -0.0,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(),
                             0x1p53,
                             0x1p53 + 2,
                             1e22,
                             1e23,
                             123456789012345678.0,
                             0.587520,
                             243.455882,
                             1.0 / 0.9};
  for (int e = -1074; e <= 1023; e += 3) {
    const double power = std::ldexp(1.0, e);
    all.insert(all.end(), {power, std::nextafter(power, 0.0),
                           std::nextafter(power, HUGE_VAL)});
  }
  for (int e = -323; e <= 308; e += 7) all.push_back(std::pow(10.0, e));
  for (int i = 0; i < 1500; ++i) {
    all.insert(all.end(), {i / 1000.0, i * 0.1, -i / 7.0, 1.0 / (i + 1)});
  }
  std::mt19937_64 bits(7);
  for (int i = 0; i < 10000; ++i) {
    const std::uint64_t drawn = bits();
    double value = 0.0;
    std::memcpy(&value, &drawn, sizeof value);
    all.push_back(value);
  }
  return all;
}

std::string text(char* first, std::to_chars_result result) {
  EXPECT_EQ(result.ec, std::errc());
  return std::string(first, result.ptr);
}

TEST(ToCharsTest, StandInWritesWhatTheLibraryWrites) {
  char want[512];
  char got[512];
  for (const double value : values()) {
    if (std::isnan(value)) continue;  // the library's NaN is checked below
    EXPECT_EQ(text(got, kit::fallback::toChars(got, got + sizeof got, value)),
              text(want, std::to_chars(want, want + sizeof want, value)))
        << value;
    if (std::fabs(value) < 1e18) {
      EXPECT_EQ(text(got, kit::fallback::toCharsFixed(got, got + sizeof got,
                                                      value, 6)),
                text(want, std::to_chars(want, want + sizeof want, value,
                                         std::chars_format::fixed, 6)))
          << value;
    }
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(text(got, kit::fallback::toChars(got, got + sizeof got, nan)),
            "nan");
  EXPECT_EQ(text(got, kit::fallback::toChars(got, got + sizeof got, -nan)),
            "-nan");
}

TEST(ToCharsTest, StandInSaysWhatDoesNotFit) {
  // Each a buffer one short of the text.
  const struct {
    double value;
    bool fixed;
    const char* whole;
  } kCases[] = {{0.5875, false, "0.5875"},
                {1e-7, false, "1e-07"},
                {23.0, true, "23.000000"},
                {-0.25, true, "-0.250000"}};
  for (const auto& c : kCases) {
    char out[32];
    const size_t size = std::strlen(c.whole);
    const std::to_chars_result fits =
        c.fixed ? kit::fallback::toCharsFixed(out, out + size, c.value, 6)
                : kit::fallback::toChars(out, out + size, c.value);
    EXPECT_EQ(std::string(out, fits.ptr), c.whole) << c.whole;
    const std::to_chars_result short_ =
        c.fixed ? kit::fallback::toCharsFixed(out, out + size - 1, c.value, 6)
                : kit::fallback::toChars(out, out + size - 1, c.value);
    EXPECT_EQ(short_.ec, std::errc::value_too_large) << c.whole;
    EXPECT_EQ(short_.ptr, out + size - 1) << c.whole;
  }
}

}  // namespace
