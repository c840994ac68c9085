#ifndef LINKSIM_EXERCISE_TEXT_H_
#define LINKSIM_EXERCISE_TEXT_H_

// Small text helpers the exercise's readers and writers share.

#include <string>
#include <vector>

namespace exercise {

/// True when `text` is all decimal digits, and some.
bool allDigits(const std::string& text);

/// Reads `text` whole as a decimal number such as 0.05, -3, .5 or 1e-3; false
/// for anything else: spaces, hexadecimal, inf, nan, trailing text, or a
/// value too large to hold.
bool readDecimal(const std::string& text, double* value);

/// Reads `text` as readDecimal does, where it names a whole number of at
/// most 9e15 in size (so that a double holds it exactly); false otherwise.
bool readWhole(const std::string& text, long long* value);

/// `text` cut to its first 40 characters, with "..." where it was cut,
/// for a message that quotes it.
std::string shortened(const std::string& text);

/// The words of `text` apart by spaces or tabs, a {...} held whole.
std::vector<std::string> splitWords(const std::string& text);

/// Runs of spaces and tabs as one space, none at the ends.
std::string collapsedSpaces(const std::string& text);

/// A summary figure's name as compared: spaces collapsed, in lowercase.
std::string normalizedFigure(const std::string& text);

/// True for the same letters, whatever their case (ASCII).
bool equalsIgnoringCase(const std::string& a, const std::string& b);

/// The first line of `text`, or `otherwise` where that is empty.
std::string firstLine(const std::string& text, const char* otherwise);

/// `text` as one CSV field: quoted, its quotes doubled, where it holds a
/// comma, a quote or a line break, or starts or ends with a space.
std::string csvField(const std::string& text);

}  // namespace exercise

#endif  // LINKSIM_EXERCISE_TEXT_H_
