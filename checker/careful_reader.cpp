// The careful reader: any row, field by field, and what a row's clock and a
// message need besides.

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "kit/trace_format.h"
#include "rows.h"

namespace checker {

namespace {

constexpr int kFields = 6;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

/// Digits, optionally followed by a point and digits.
bool isClock(std::string_view text) {
  const std::size_t point = text.find('.');
  if (point == std::string_view::npos) return isDigits(text);
  return isDigits(text.substr(0, point)) && isDigits(text.substr(point + 1));
}

/// True if `text` is all of a number of type T, as from_chars reads it.
template <typename T>
bool readWhole(std::string_view text, T* value) {
  const char* const end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && last == end && !text.empty();
}

/// The fraction of a clock, its places `text`, as the number it is held as.
std::uint64_t fractionKey(std::string_view text) {
  assert(text.size() <= kFractionDigits);
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < kFractionDigits; ++i) {
    key =
        key << 8 | static_cast<unsigned char>(i < text.size() ? text[i] : '0');
  }
  return key;
}

/// Reads clock `text` (isClock) as two integers; false if it has too many
/// digits for them.
bool clockValue(std::string_view text, std::uint64_t* whole,
                std::uint64_t* fraction) {
  const std::size_t point = std::min(text.find('.'), text.size());
  std::string_view wholeText = text.substr(0, point);
  while (wholeText.size() > 1 && wholeText.front() == '0') {
    wholeText.remove_prefix(1);
  }
  const std::string_view fractionText =
      text.substr(std::min(point + 1, text.size()));
  if (wholeText.size() > kWholeDigits ||
      fractionText.size() > kFractionDigits || !readWhole(wholeText, whole)) {
    return false;
  }
  *fraction = fractionKey(fractionText);
  return true;
}

/// The event named `name`, or kit::kTraceEventCount.
int eventNamed(std::string_view name) {
  int event = 0;
  while (event < kit::kTraceEventCount &&
         kit::kTraceEvents[event].name != name) {
    ++event;
  }
  return event;
}

}  // namespace

void say(Message* out, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(out->text, sizeof out->text, format, arguments);
  va_end(arguments);
}

FrameKinds::FrameKinds()
    : names_{kit::kDataName, kit::kAckName},
      sizes_{std::strlen(kit::kDataName), std::strlen(kit::kAckName)} {
  static_assert(kit::kDataKind == 0 && kit::kAckKind == 1,
                "the kit's kinds come first, data then ack");
}

FrameKinds::~FrameKinds() {
  for (int kind = 2; kind < count_; ++kind) {
    std::free(const_cast<char*>(names_[kind]));
  }
}

int FrameKinds::numberOf(std::string_view name, Message* why) {
  for (int kind = 0; kind < count_; ++kind) {
    if (std::string_view(names_[kind], sizes_[kind]) == name) return kind;
  }
  if (!kit::isFrameName(name.data(), name.size())) {
    say(why, "not a trace: the frame kind \"%s\" is not a lowercase word",
        shown(name).text);
    return kNotAKind;
  }
  if (count_ == kit::kMaxFrameKinds) {
    say(why, "not a trace: more than %d frame kinds", kit::kMaxFrameKinds);
    return kNotAKind;
  }
  auto* const copy = static_cast<char*>(std::malloc(name.size() + 1));
  if (copy == nullptr) {
    say(why, "out of memory, holding %d frame kinds", count_);
    return kNoMemory;
  }
  std::memcpy(copy, name.data(), name.size());
  copy[name.size()] = '\0';
  names_[count_] = copy;
  sizes_[count_] = name.size();
  return count_++;
}

bool readCarefully(std::string_view line, FrameKinds* kinds, Row* row,
                   Message* why) {
  std::string_view field[kFields];
  std::size_t fields = 1;
  for (std::size_t start = 0, comma = 0;; start = comma + 1) {
    comma = line.find(',', start);
    if (fields <= kFields) {
      field[fields - 1] = line.substr(start, comma - start);
    }
    if (comma == std::string_view::npos) break;
    ++fields;
  }
  if (fields != kFields) {
    say(why, "not a trace: %zu fields, where a row has %d", fields, kFields);
    return false;
  }
  // The fields one by one: the first that is not a trace's is named.
  row->clock = field[0];
  if (!isClock(row->clock)) {
    say(why, "not a trace: the clock \"%s\" is not a decimal number",
        shown(row->clock).text);
    return false;
  }
  row->longClock = !clockValue(row->clock, &row->whole, &row->fraction);
  if (field[1] == kit::kTraceNodes[kit::kAtSource]) {
    row->node = kit::kAtSource;
  } else if (field[1] == kit::kTraceNodes[kit::kAtSink]) {
    row->node = kit::kAtSink;
  } else {
    say(why, "not a trace: unknown node \"%s\"", shown(field[1]).text);
    return false;
  }
  row->event = eventNamed(field[2]);
  if (row->event == kit::kTraceEventCount) {
    say(why, "not a trace: unknown event \"%s\"", shown(field[2]).text);
    return false;
  }
  const int node = kit::kTraceEvents[row->event].node;
  if (node != kit::kAtEither && node != row->node) {
    say(why, "not a trace: %s at the %s, an event of the %s only",
        shown(field[2]).text, kit::kTraceNodes[row->node],
        kit::kTraceNodes[node]);
    return false;
  }
  row->kind = kinds->numberOf(field[3], why);
  if (row->kind < 0) return false;
  if (!readWhole(field[4], &row->sequence)) {
    say(why, "not a trace: the sequence number \"%s\" is not an int",
        shown(field[4]).text);
    return false;
  }
  if (!readWhole(field[5], &row->packet)) {
    say(why,
        "not a trace: the packet \"%s\" is not a non-negative 64-bit integer",
        shown(field[5]).text);
    return false;
  }
  return true;
}

int compareClocks(std::string_view a, std::string_view b) {
  const std::size_t aPoint = std::min(a.find('.'), a.size());
  const std::size_t bPoint = std::min(b.find('.'), b.size());
  std::string_view aWhole = a.substr(0, aPoint);
  std::string_view bWhole = b.substr(0, bPoint);
  while (aWhole.size() > 1 && aWhole.front() == '0') aWhole.remove_prefix(1);
  while (bWhole.size() > 1 && bWhole.front() == '0') bWhole.remove_prefix(1);
  if (aWhole.size() != bWhole.size()) {
    return aWhole.size() < bWhole.size() ? -1 : 1;
  }
  if (const int whole = aWhole.compare(bWhole); whole != 0) return whole;
  const std::string_view aFraction = a.substr(std::min(aPoint + 1, a.size()));
  const std::string_view bFraction = b.substr(std::min(bPoint + 1, b.size()));
  for (std::size_t i = 0; i < aFraction.size() || i < bFraction.size(); ++i) {
    const char aDigit = i < aFraction.size() ? aFraction[i] : '0';
    const char bDigit = i < bFraction.size() ? bFraction[i] : '0';
    if (aDigit != bDigit) return aDigit < bDigit ? -1 : 1;
  }
  return 0;
}

Quoted clockText(std::uint64_t whole, std::uint64_t fraction) {
  Quoted out;
  const auto [point, error] =
      std::to_chars(out.text, out.text + sizeof out.text, whole);
  assert(error == std::errc());
  char* end = point;
  *end++ = '.';
  for (int shift = 56; shift >= 0; shift -= 8) {
    *end++ = static_cast<char>(fraction >> shift & 0xFF);
  }
  while (end > point + 7 && end[-1] == '0') --end;
  *end = '\0';
  return out;
}

Quoted shown(std::string_view text) {
  constexpr std::size_t kLongest = 40;
  static_assert(kLongest + 4 <= sizeof Quoted::text, "room for the dots");
  Quoted out;
  const std::size_t size = std::min(text.size(), kLongest);
  for (std::size_t i = 0; i < size; ++i) {
    const char c = text[i];
    out.text[i] = c < ' ' || c > '~' ? '?' : c;
  }
  std::strcpy(out.text + size, text.size() > kLongest ? "..." : "");
  return out;
}

}  // namespace checker
