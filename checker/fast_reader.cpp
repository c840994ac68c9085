// The fast reader: a row as the kit writes it, eight bytes at a time.
//
// It reads words of eight bytes, taking the first byte as the lowest, so it
// runs only where the compiler says that is the machine's order; elsewhere
// every row is read carefully, to the same effect.

#include <cstdint>
#include <cstring>
#include <string_view>

#include "kit/trace_format.h"
#include "rows.h"

namespace checker {

namespace {

#if defined(__GNUC__) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kFast = true;
int lowestSetByte(std::uint64_t word) { return __builtin_ctzll(word) / 8; }
std::uint64_t bigEndian(std::uint64_t word) { return __builtin_bswap64(word); }
#else
constexpr bool kFast = false;
int lowestSetByte(std::uint64_t) { return 0; }
std::uint64_t bigEndian(std::uint64_t word) { return word; }
#endif

constexpr std::uint64_t kPowersOf10[] = {
    1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u, 10000000u, 100000000u};

std::uint64_t load(const char* p) {
  std::uint64_t bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  return bytes;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

/// A field, up to 15 bytes, and the comma after it, as two words and the
/// bits of them it fills.
struct Word {
  std::uint64_t bytes[2];
  std::uint64_t masks[2];
  std::size_t size;  // with the comma
};

constexpr Word fieldWord(std::string_view field) {
  Word w = {{0, 0}, {0, 0}, field.size() + 1};
  for (std::size_t i = 0; i < w.size; ++i) {
    const int shift = static_cast<int>(8 * (i % 8));
    const char c = i < field.size() ? field[i] : ',';
    w.bytes[i / 8] |= std::uint64_t{static_cast<unsigned char>(c)} << shift;
    w.masks[i / 8] |= std::uint64_t{0xFF} << shift;
  }
  return w;
}

/// True if the text at `p` starts with `w`.
bool matches(const char* p, const Word& w) {
  return (load(p) & w.masks[0]) == w.bytes[0] &&
         (w.size <= 8 || (load(p + 8) & w.masks[1]) == w.bytes[1]);
}

constexpr Word kSourceWord = fieldWord(kit::kTraceNodes[kit::kAtSource]);
constexpr Word kSinkWord = fieldWord(kit::kTraceNodes[kit::kAtSink]);
constexpr Word kDataWord = fieldWord(kit::kDataName);
constexpr Word kAckWord = fieldWord(kit::kAckName);

/// Each event's fieldWord, indexed by kit::TraceEvent.
struct EventWords {
  Word words[kit::kTraceEventCount];
};
constexpr EventWords eventWords() {
  EventWords all = {};
  for (int event = 0; event < kit::kTraceEventCount; ++event) {
    all.words[event] = fieldWord(kit::kTraceEvents[event].name);
  }
  return all;
}
constexpr EventWords kEventWords = eventWords();
static_assert(kSourceWord.size <= 16 && kSinkWord.size <= 16 &&
                  kDataWord.size <= 16 && kAckWord.size <= 16,
              "a name the fast reader compares is longer than two words");

/// How many of the bytes of `word` are digits before the first that is not.
int leadingDigits(std::uint64_t word) {
  // Each byte less '0': a byte below '0' sets its top bit here, one above
  // '9' in `more`. A carry or borrow crosses only from a byte that is not a
  // digit, into the bytes after it.
  const std::uint64_t less = word - 0x3030303030303030u;
  const std::uint64_t more = word + 0x4646464646464646u;
  const std::uint64_t other = (less | more) & 0x8080808080808080u;
  return other == 0 ? 8 : lowestSetByte(other);
}

/// A number from an event name's first and third letters, different for
/// each event (every name has three letters at least, or this would not
/// compile).
constexpr int eventLetters(const char* name) {
  return (static_cast<unsigned char>(name[0]) +
          7 * static_cast<unsigned char>(name[2])) &
         31;
}

/// The event whose eventLetters are the index, or kit::kTraceEventCount.
struct EventTable {
  int events[32];
};
constexpr EventTable eventTable() {
  EventTable table = {};
  for (int& event : table.events) event = kit::kTraceEventCount;
  for (int event = 0; event < kit::kTraceEventCount; ++event) {
    table.events[eventLetters(kit::kTraceEvents[event].name)] = event;
  }
  return table;
}
constexpr EventTable kEventTable = eventTable();
constexpr bool eachEventHasItsLetters() {
  for (int event = 0; event < kit::kTraceEventCount; ++event) {
    const char* const name = kit::kTraceEvents[event].name;
    if (kEventTable.events[eventLetters(name)] != event ||
        std::string_view(name).size() > 15) {
      return false;
    }
  }
  return true;
}
static_assert(eachEventHasItsLetters(),
              "two events share their letters, or one is longer than two "
              "words");

/// Reads the digits at `*at` into `*value` and returns how many there were,
/// or more than `most` if there were more: then `*value` is no number.
/// Reads at most `most` + 16 bytes.
[[gnu::always_inline]] inline std::size_t readDigits(const char** at,
                                                     std::size_t most,
                                                     std::uint64_t* value) {
  const char* p = *at;
  std::uint64_t v = 0;
  std::size_t count = 0;
  for (;;) {
    const std::uint64_t w = load(p);
    const int digits = leadingDigits(w);
    if (digits == 0) break;
    // The digits to the top of the word, zeros before them, then summed in
    // pairs, fours and eights.
    std::uint64_t d = (w - 0x3030303030303030u) << (8 * (8 - digits));
    d = d * 10 + (d >> 8);
    d = ((d & 0x000000FF000000FFu) * 0x000F424000000064u +
         ((d >> 16) & 0x000000FF000000FFu) * 0x0000271000000001u) >>
        32;
    v = v * kPowersOf10[digits] + (d & 0xFFFFFFFFu);  // wraps past 19 digits
    p += digits;
    count += static_cast<std::size_t>(digits);
    if (digits < 8 || count > most) break;
  }
  *at = p;
  *value = v;
  return count;
}

}  // namespace

const char* readFast(const char* p, Row* row) {
  if (!kFast) return nullptr;
  // The clock: digits, a point, digits, each part short enough to read as
  // an integer.
  const char* const start = p;
  if (const std::size_t digits = readDigits(&p, kWholeDigits, &row->whole);
      digits == 0 || digits > kWholeDigits) {
    return nullptr;
  }
  row->fraction = kNoFraction;
  if (*p == '.') {
    const std::uint64_t w = load(++p);
    const int places = leadingDigits(w);
    if (places == 0 || (places == 8 && isDigit(p[8]))) return nullptr;
    const std::uint64_t mask =
        places == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << 8 * places) - 1;
    row->fraction = bigEndian((w & mask) | (kNoFraction & ~mask));
    p += places;
  }
  if (*p++ != ',') return nullptr;
  row->clock = std::string_view(start, p - 1 - start);
  row->longClock = false;

  // Node, event and frame kind chosen without branches, which the mix of
  // rows would mispredict, then checked.
  const bool source = matches(p, kSourceWord);
  const bool sink = matches(p, kSinkWord);
  if (!source && !sink) return nullptr;
  row->node = sink ? kit::kAtSink : kit::kAtSource;
  p += sink ? kSinkWord.size : kSourceWord.size;
  row->event = kEventTable.events[eventLetters(p)];
  if (row->event == kit::kTraceEventCount) return nullptr;
  const Word& event = kEventWords.words[row->event];
  if (!matches(p, event)) return nullptr;
  p += event.size;
  const int node = kit::kTraceEvents[row->event].node;
  if (node != kit::kAtEither && node != row->node) return nullptr;
  const bool data = matches(p, kDataWord);
  const bool ack = matches(p, kAckWord);
  if (!data && !ack) return nullptr;
  row->kind = ack ? kit::kAckKind : kit::kDataKind;
  p += ack ? kAckWord.size : kDataWord.size;
  // The sequence number: an int of at most 9 digits, which cannot overflow;
  // most often one or two digits.
  if (isDigit(p[0]) && p[1] == ',') {
    row->sequence = p[0] - '0';
    p += 2;
  } else if (isDigit(p[0]) && isDigit(p[1]) && p[2] == ',') {
    row->sequence = (p[0] - '0') * 10 + (p[1] - '0');
    p += 3;
  } else {
    const bool negative = *p == '-';
    p += negative ? 1 : 0;
    std::uint64_t magnitude = 0;
    if (const std::size_t digits = readDigits(&p, 9, &magnitude);
        digits == 0 || digits > 9 || *p++ != ',') {
      return nullptr;
    }
    row->sequence = static_cast<int>(magnitude) * (negative ? -1 : 1);
  }
  // The packet: at most 19 digits, which cannot overflow 64 bits.
  if (const std::size_t digits = readDigits(&p, 19, &row->packet);
      digits == 0 || digits > 19) {
    return nullptr;
  }
  return p;
}

}  // namespace checker
