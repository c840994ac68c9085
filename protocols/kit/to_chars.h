#ifndef LINKSIM_PROTOCOLS_KIT_TO_CHARS_H_
#define LINKSIM_PROTOCOLS_KIT_TO_CHARS_H_

// The two ways the kit writes a double: the fewest digits that read back as
// it (the stats), and six places as printf's "%f" writes them (the clock).
// Both are std::to_chars where the standard library has it for doubles;
// where it has not (the C++ library of the WebAssembly build of the lab's
// page), the same characters come from printf's "%e" and "%f" and strtod,
// which read back each digit string they try: slower, byte for byte the
// same, as the unit tests hold them over many values.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace kit {

namespace fallback {

/// Copies the `size` characters at `text` to [first, last).
inline std::to_chars_result copyOut(char* first, char* last, const char* text,
                                    int size) {
  if (size < 0 || size > last - first) {
    return {last, std::errc::value_too_large};
  }
  std::memcpy(first, text, static_cast<size_t>(size));
  return {first + size, std::errc()};
}

/// `value` as printf's "%.PRECISIONf" writes it, which is what
/// std::to_chars with std::chars_format::fixed writes.
inline std::to_chars_result toCharsFixed(char* first, char* last, double value,
                                         int precision) {
  char text[400];  // the longest double, 309 digits, and its places
  const int size = std::snprintf(text, sizeof text, "%.*f", precision, value);
  return copyOut(first, last, text, size);
}

/// The significant digits of `value` (not 0) into `digits`, `count` of them
/// correctly rounded, or the candidate one unit in the last place from it
/// given by `step`; its decimal exponent into `*exponent`. False where
/// stepping leaves `count` digits, which a shorter string then matched.
inline bool significand(double value, int count, int step, char* digits,
                        int* exponent) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*e", count - 1, std::fabs(value));
  int at = 0;
  for (const char* c = text; *c != 'e'; ++c) {
    if (*c != '.') digits[at++] = *c;
  }
  digits[at] = '\0';
  *exponent = std::atoi(std::strchr(text, 'e') + 1);
  for (int i = count - 1; step != 0 && i >= 0; --i) {
    const char d = static_cast<char>(digits[i] + step);
    if (d >= '0' && d <= '9') {
      digits[i] = d;
      return !(i == 0 && d == '0');
    }
    digits[i] = step > 0 ? '0' : '9';
  }
  return step == 0;
}

/// Reads `digits` (significant, the first before the point) times ten to
/// `exponent` back.
inline double readBack(const char* digits, int exponent) {
  char text[48];
  std::snprintf(text, sizeof text, "%c.%se%d", digits[0], digits + 1, exponent);
  return std::strtod(text, nullptr);
}

/// `value` in the fewest characters that read back as it, "%f"'s form or
/// "%e"'s (the former on a tie), the nearest such on a tie of length:
/// std::to_chars(first, last, value).
inline std::to_chars_result toChars(char* first, char* last, double value) {
  char text[400];
  if (!std::isfinite(value) || value == 0.0) {
    const char* word = std::isnan(value) ? "nan" : value == 0 ? "0" : "inf";
    const int size = std::snprintf(text, sizeof text, "%s%s",
                                   std::signbit(value) ? "-" : "", word);
    return copyOut(first, last, text, size);
  }
  // The fewest significant digits that read back: the correctly rounded
  // ones, or, where the value is a power of two whose lower neighbour is
  // nearer than its upper, a string one unit from them. 17 always do.
  char digits[24];
  int exponent = 0;
  int count = 1;
  for (bool found = false; !found; ++count) {
    double nearest = HUGE_VAL;
    char tried[24];
    int tryExponent = 0;
    for (const int step : {0, -1, 1}) {
      if (!significand(value, count, step, tried, &tryExponent)) continue;
      const double back = readBack(tried, tryExponent);
      if (std::fabs(back) != std::fabs(value)) continue;
      const double off = std::fabs(std::strtod(tried, nullptr) *
                                       std::pow(10.0, tryExponent - count + 1) -
                                   std::fabs(value));
      if (!found || off < nearest) {
        std::memcpy(digits, tried, sizeof tried);
        exponent = tryExponent;
        nearest = off;
      }
      found = true;
      if (step == 0) break;
    }
    if (found) break;
  }
  const char* sign = value < 0 ? "-" : "";
  // "%e"'s form: a point only after a first digit of several, and two
  // digits at least in the exponent.
  char scientific[48];
  const int scientificSize = std::snprintf(
      scientific, sizeof scientific, "%s%c%s%se%c%02d", sign, digits[0],
      count > 1 ? "." : "", digits + 1, exponent < 0 ? '-' : '+',
      exponent < 0 ? -exponent : exponent);
  // "%f"'s form with those digits; a whole number's digits are exact.
  int fixedSize = 0;
  if (exponent >= count - 1) {
    fixedSize = std::snprintf(text, sizeof text, "%.0f", value);
  } else if (exponent >= 0) {
    fixedSize = std::snprintf(text, sizeof text, "%s%.*s.%s", sign,
                              exponent + 1, digits, digits + exponent + 1);
  } else {
    const int zeros = -exponent - 1;  // at most 323: text holds them
    fixedSize = std::snprintf(text, sizeof text, "%s0.", sign);
    std::memset(text + fixedSize, '0', static_cast<size_t>(zeros));
    fixedSize += zeros;
    fixedSize +=
        std::snprintf(text + fixedSize, sizeof text - fixedSize, "%s", digits);
  }
  if (fixedSize <= scientificSize) return copyOut(first, last, text, fixedSize);
  return copyOut(first, last, scientific, scientificSize);
}

}  // namespace fallback

#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
inline std::to_chars_result toChars(char* first, char* last, double value) {
  return std::to_chars(first, last, value);
}
inline std::to_chars_result toCharsFixed(char* first, char* last, double value,
                                         int precision) {
  return std::to_chars(first, last, value, std::chars_format::fixed, precision);
}
#else
using fallback::toChars;
using fallback::toCharsFixed;
#endif

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_TO_CHARS_H_
