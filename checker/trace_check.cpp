#include "trace_check.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

namespace checker {

namespace {

constexpr std::string_view kHeader = "clock,node,event,frame,sequence,packet";
constexpr int kFields = 6;

constexpr int kSource = 0;
constexpr int kSink = 1;
constexpr int kAnyNode = -1;
constexpr const char* kNodeNames[] = {"source", "sink"};

struct EventName {
  std::string_view name;
  int node;  // the only node it happens at, or kAnyNode
};
/// Indexed by Event.
constexpr EventName kEvents[kEventCount] = {
    {"send", kAnyNode},   {"resend", kAnyNode}, {"receive", kAnyNode},
    {"lost", kAnyNode},   {"deliver", kSink},   {"acknowledged", kSource},
    {"timeout", kSource}, {"discard", kSink},   {"buffer", kSink},
    {"end", kSource},
};

/// The kinds every protocol has, numbered so from the start.
constexpr int kDataKind = 0;
constexpr int kAckKind = 1;
constexpr std::string_view kDataName = "data";
constexpr std::string_view kAckName = "ack";

/// A clock's whole part is held as an integer up to this many digits, and
/// its fraction, up to kFractionDigits, as its places' characters padded
/// with '0' and read as a big-endian number, which orders fractions as
/// their values do. A longer clock is compared as text.
constexpr std::size_t kWholeDigits = 19;
constexpr std::size_t kFractionDigits = 8;
constexpr std::uint64_t kNoFraction = 0x3030303030303030u;  // "00000000"
constexpr std::uint64_t kPowersOf10[] = {
    1u, 10u, 100u, 1000u, 10000u, 100000u, 1000000u, 10000000u, 100000000u};

/// What tells frames of one packet apart in flight: who sent it, its kind
/// and its sequence number.
std::uint64_t frameKey(int sender, int kind, int sequence) {
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(sequence))
             << 32 |
         static_cast<std::uint64_t>(kind) << 1 |
         static_cast<std::uint64_t>(sender);
}

// --- The fast reader: eight bytes at a time --------------------------------
// It reads words of eight bytes, taking the first byte as the lowest, so it
// runs only where the compiler says that is the machine's order; elsewhere
// every row is read carefully, to the same effect.

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

std::uint64_t load(const char* p) {
  std::uint64_t bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  return bytes;
}

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

constexpr Word kSourceWord = fieldWord("source");
constexpr Word kSinkWord = fieldWord("sink");
constexpr Word kDataWord = fieldWord(kDataName);
constexpr Word kAckWord = fieldWord(kAckName);

/// Each event's fieldWord, indexed by Event.
struct EventWords {
  Word words[kEventCount];
};
constexpr EventWords eventWords() {
  EventWords all = {};
  for (int event = 0; event < kEventCount; ++event) {
    all.words[event] = fieldWord(kEvents[event].name);
  }
  return all;
}
constexpr EventWords kEventWords = eventWords();

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
/// each event.
constexpr int eventLetters(const char* name) {
  return (static_cast<unsigned char>(name[0]) +
          7 * static_cast<unsigned char>(name[2])) &
         31;
}

/// The event whose eventLetters are the index, or kEventCount.
struct EventTable {
  int events[32];
};
constexpr EventTable eventTable() {
  EventTable table = {};
  for (int& event : table.events) event = kEventCount;
  for (int event = 0; event < kEventCount; ++event) {
    table.events[eventLetters(kEvents[event].name.data())] = event;
  }
  return table;
}
constexpr EventTable kEventTable = eventTable();
constexpr bool eachEventHasItsLetters() {
  for (int event = 0; event < kEventCount; ++event) {
    if (kEventTable.events[eventLetters(kEvents[event].name.data())] != event) {
      return false;
    }
  }
  return true;
}
static_assert(eachEventHasItsLetters(), "two events share their letters");

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

// --- The careful reader ----------------------------------------------------

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

/// Less than, equal to or greater than 0 as clock `a` is before, at or after
/// clock `b`, exactly, however many digits they have.
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

/// A clock held as two integers, as "%f" writes it, with more places only
/// where it has them.
std::string clockText(std::uint64_t whole, std::uint64_t fraction) {
  std::string text = std::to_string(whole) + '.';
  for (int shift = 56; shift >= 0; shift -= 8) {
    text += static_cast<char>(fraction >> shift & 0xFF);
  }
  while (text.size() > text.find('.') + 7 && text.back() == '0') {
    text.pop_back();
  }
  return text;
}

/// The event named `name`, or kEventCount.
int eventNamed(std::string_view name) {
  int event = 0;
  while (event < kEventCount && kEvents[event].name != name) ++event;
  return event;
}

/// `text` fit to quote in a message: at most 40 bytes, each byte that is
/// not printable ASCII shown as '?', so that a binary file cannot upset a
/// terminal.
std::string shown(std::string_view text) {
  constexpr std::size_t kLongest = 40;
  std::string out(text.substr(0, kLongest));
  for (char& c : out) {
    if (c < ' ' || c > '~') c = '?';
  }
  if (text.size() > kLongest) out += "...";
  return out;
}

}  // namespace

TraceChecker::TraceChecker() : padded_(kMaxLine + kWindow) {
  kinds_.emplace_back(kDataName);
  kinds_.emplace_back(kAckName);
  partial_.reserve(kMaxLine + 1);
}

int TraceChecker::feed(const char* data, std::size_t size) {
  const char* at = data;
  const char* const end = data + size;
  if (!partial_.empty() && result_ == kTraceKept) {
    const auto* newline = static_cast<const char*>(std::memchr(at, '\n', size));
    const std::size_t length = newline == nullptr ? size : newline - at;
    partial_.append(at, std::min(length, kMaxLine + 1));
    if (newline == nullptr) {
      if (partial_.size() > kMaxLine) checkLine(partial_);  // fails
      return result_;
    }
    checkLine(partial_);
    partial_.clear();
    at = newline + 1;
  }
  while (at < end && result_ == kTraceKept) {
    // A row as the kit writes it is read in one pass that finds its end;
    // any other line, and the last rows of the piece, the long way.
    if (line_ > 0 && end - at >= static_cast<std::ptrdiff_t>(kWindow)) {
      Row row;
      const char* const last = readFast(at, &row);
      if (last != nullptr && *last == '\n') {
        ++line_;
        checkRow(row);
        at = last + 1;
        continue;
      }
    }
    const auto* newline =
        static_cast<const char*>(std::memchr(at, '\n', end - at));
    if (newline == nullptr) {
      partial_.assign(at, std::min<std::size_t>(end - at, kMaxLine + 1));
      if (partial_.size() > kMaxLine) checkLine(partial_);  // fails
      break;
    }
    checkLine(std::string_view(at, newline - at));
    at = newline + 1;
  }
  return result_;
}

int TraceChecker::feedLine(std::string_view line) {
  assert(partial_.empty());
  if (result_ == kTraceKept) checkLine(line);
  return result_;
}

int TraceChecker::finish() {
  if (result_ != kTraceKept) return result_;
  if (!partial_.empty()) {
    checkLine(partial_);
    partial_.clear();
  }
  if (line_ == 0) {
    line_ = 1;
    fail(kNotATrace, "not a trace: the input is empty, with no header");
  }
  return result_;
}

std::string TraceChecker::summary() const {
  std::uint64_t rows = 0;
  for (int event = 0; event < kEnd; ++event) rows += counts_[event];
  std::string text = std::to_string(rows) + " rows";
  for (int event = 0; event < kEnd; ++event) {
    text += ", ";
    text += kEvents[event].name;
    text += ' ';
    text += std::to_string(counts_[event]);
  }
  return text;
}

void TraceChecker::checkLine(std::string_view line) {
  ++line_;
  if (line.size() > kMaxLine) {
    fail(kNotATrace, "not a trace: a line longer than %zu bytes", kMaxLine);
    return;
  }
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line_ == 1) {
    checkHeader(line);
    return;
  }
  // Copied where the fast reader may read past its end; the NUL after it
  // matches nothing that reader looks for.
  std::memcpy(padded_.data(), line.data(), line.size());
  padded_[line.size()] = '\0';
  Row row;
  if (readFast(padded_.data(), &row) == padded_.data() + line.size()) {
    row.clock = line.substr(0, row.clock.size());  // the row's own text
    checkRow(row);
  } else if (readCarefully(line, &row)) {
    checkRow(row);
  }
}

void TraceChecker::checkHeader(std::string_view line) {
  if (line != kHeader) {
    fail(kNotATrace, "not a trace: the header is \"%s\", not \"%s\"",
         shown(line).c_str(), std::string(kHeader).c_str());
  }
}

const char* TraceChecker::readFast(const char* p, Row* row) {
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
  row->node = sink ? kSink : kSource;
  p += sink ? kSinkWord.size : kSourceWord.size;
  row->event = kEventTable.events[eventLetters(p)];
  if (row->event == kEventCount) return nullptr;
  const Word& event = kEventWords.words[row->event];
  if (!matches(p, event)) return nullptr;
  p += event.size;
  const int node = kEvents[row->event].node;
  if (node != kAnyNode && node != row->node) return nullptr;
  const bool data = matches(p, kDataWord);
  const bool ack = matches(p, kAckWord);
  if (!data && !ack) return nullptr;
  row->kind = ack ? kAckKind : kDataKind;
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

bool TraceChecker::readCarefully(std::string_view line, Row* row) {
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
    fail(kNotATrace, "not a trace: %zu fields, where a row has %d", fields,
         kFields);
    return false;
  }
  // The fields one by one: the first that is not a trace's is named.
  row->clock = field[0];
  if (!isClock(row->clock)) {
    fail(kNotATrace, "not a trace: the clock \"%s\" is not a decimal number",
         shown(row->clock).c_str());
    return false;
  }
  row->longClock = !clockValue(row->clock, &row->whole, &row->fraction);
  if (field[1] == kNodeNames[kSource]) {
    row->node = kSource;
  } else if (field[1] == kNodeNames[kSink]) {
    row->node = kSink;
  } else {
    fail(kNotATrace, "not a trace: unknown node \"%s\"",
         shown(field[1]).c_str());
    return false;
  }
  row->event = eventNamed(field[2]);
  if (row->event == kEventCount) {
    fail(kNotATrace, "not a trace: unknown event \"%s\"",
         shown(field[2]).c_str());
    return false;
  }
  const int node = kEvents[row->event].node;
  if (node != kAnyNode && node != row->node) {
    fail(kNotATrace, "not a trace: %s at the %s, an event of the %s only",
         shown(field[2]).c_str(), kNodeNames[row->node], kNodeNames[node]);
    return false;
  }
  row->kind = frameKind(field[3]);
  if (row->kind < 0) return false;
  if (!readWhole(field[4], &row->sequence)) {
    fail(kNotATrace, "not a trace: the sequence number \"%s\" is not an int",
         shown(field[4]).c_str());
    return false;
  }
  if (!readWhole(field[5], &row->packet)) {
    fail(kNotATrace,
         "not a trace: the packet \"%s\" is not a non-negative 64-bit integer",
         shown(field[5]).c_str());
    return false;
  }
  return true;
}

bool TraceChecker::checkClock(const Row& row) {
  if (row.longClock || lastLong_) return checkLongClock(row);
  if (row.whole < lastWhole_ ||
      (row.whole == lastWhole_ && row.fraction < lastFraction_)) {
    fail(kTraceBroken, "the clock goes back, from %s to %s",
         clockText(lastWhole_, lastFraction_).c_str(),
         shown(row.clock).c_str());
    return false;
  }
  lastWhole_ = row.whole;
  lastFraction_ = row.fraction;
  return true;
}

bool TraceChecker::checkLongClock(const Row& row) {
  // Compared as text, exactly.
  const std::string last =
      lastLong_ ? lastLongClock_ : clockText(lastWhole_, lastFraction_);
  if (compareClocks(row.clock, last) < 0) {
    fail(kTraceBroken, "the clock goes back, from %s to %s",
         shown(last).c_str(), shown(row.clock).c_str());
    return false;
  }
  lastLong_ = row.longClock;
  lastWhole_ = row.whole;
  lastFraction_ = row.fraction;
  if (lastLong_) lastLongClock_.assign(row.clock);
  return true;
}

void TraceChecker::checkRow(const Row& row) {
  if (!checkClock(row)) return;
  ++counts_[row.event];
  const std::uint64_t packet = row.packet;
  switch (row.event) {
    case kSend:
    case kResend:
      inFlight_.add(packet, frameKey(row.node, row.kind, row.sequence));
      break;
    case kReceive:
    case kLost: {
      const int sender = 1 - row.node;
      if (!inFlight_.removeOne(packet,
                               frameKey(sender, row.kind, row.sequence))) {
        fail(kTraceBroken,
             "%s frame %d holding packet %" PRIu64
             " arrives at the %s (%s) more often than the %s sent it",
             kinds_[row.kind].c_str(), row.sequence, packet,
             kNodeNames[row.node], kEvents[row.event].name.data(),
             kNodeNames[sender]);
        return;
      }
      if (row.event == kReceive && row.node == kSink && row.kind == kDataKind &&
          packet >= nextDelivery_) {
        received_.add(packet, 0);
      }
      break;
    }
    case kDeliver:
      if (!isNext(packet, nextDelivery_, "delivered")) break;
      if (!received_.removeAll(packet, 0)) {
        fail(kTraceBroken,
             "packet %" PRIu64
             " delivered, but the sink received no data frame holding it",
             packet);
        break;
      }
      ++nextDelivery_;
      break;
    case kAcknowledged:
      if (!isNext(packet, nextAcknowledgement_, "acknowledged")) break;
      if (packet >= nextDelivery_) {
        fail(kTraceBroken,
             "packet %" PRIu64 " acknowledged before the sink delivered it",
             packet);
        break;
      }
      ++nextAcknowledgement_;
      break;
    default:  // timeout, discard, buffer: counted only
      break;
  }
}

bool TraceChecker::isNext(std::uint64_t packet, std::uint64_t next,
                          const char* done) {
  if (packet < next) {
    fail(kTraceBroken, "packet %" PRIu64 " %s again", packet, done);
  } else if (packet > next) {
    fail(kTraceBroken, "packet %" PRIu64 " %s before packet %" PRIu64, packet,
         done, next);
  }
  return packet == next;
}

int TraceChecker::frameKind(std::string_view kind) {
  for (std::size_t i = 0; i < kinds_.size(); ++i) {
    if (kinds_[i] == kind) return static_cast<int>(i);
  }
  bool word = !kind.empty() && kind.front() >= 'a' && kind.front() <= 'z';
  for (const char c : kind) {
    word = word && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '_' || c == '-');
  }
  if (!word) {
    fail(kNotATrace,
         "not a trace: the frame kind \"%s\" is not a lowercase "
         "word",
         shown(kind).c_str());
    return -1;
  }
  if (kinds_.size() == kMaxFrameKinds) {
    fail(kNotATrace, "not a trace: more than %zu frame kinds", kMaxFrameKinds);
    return -1;
  }
  kinds_.emplace_back(kind);
  return static_cast<int>(kinds_.size() - 1);
}

void TraceChecker::fail(int result, const char* format, ...) {
  assert(result != kTraceKept);
  char text[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  result_ = result;
  message_ = text;
}

// --- Table ---------------------------------------------------------------

// Small, so that the few frames a protocol has in flight stay in the
// fastest cache.
TraceChecker::Table::Table()
    : slots_(std::size_t{1} << 6), mask_(slots_.size() - 1), bits_(6) {}

std::size_t TraceChecker::Table::home(std::uint64_t packet,
                                      std::uint64_t frame) const {
  std::uint64_t h = packet * 0x9E3779B97F4A7C15u ^ frame;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9u;
  return static_cast<std::size_t>(h >> (64 - bits_));
}

std::size_t TraceChecker::Table::find(std::uint64_t packet,
                                      std::uint64_t frame) const {
  std::size_t i = home(packet, frame);
  while (slots_[i].count != 0 &&
         (slots_[i].packet != packet || slots_[i].frame != frame)) {
    i = (i + 1) & mask_;
  }
  return i;
}

void TraceChecker::Table::add(std::uint64_t packet, std::uint64_t frame) {
  Slot& slot = slots_[find(packet, frame)];
  if (slot.count != 0) {
    ++slot.count;
    return;
  }
  slot.packet = packet;
  slot.frame = frame;
  slot.count = 1;
  // At most half full, so that probes stay short.
  if (++used_ * 2 > slots_.size()) grow();
}

bool TraceChecker::Table::removeOne(std::uint64_t packet, std::uint64_t frame) {
  const std::size_t slot = find(packet, frame);
  if (slots_[slot].count == 0) return false;
  if (--slots_[slot].count == 0) erase(slot);
  return true;
}

bool TraceChecker::Table::removeAll(std::uint64_t packet, std::uint64_t frame) {
  const std::size_t slot = find(packet, frame);
  if (slots_[slot].count == 0) return false;
  erase(slot);
  return true;
}

void TraceChecker::Table::erase(std::size_t slot) {
  // Backward-shift deletion: each pair after the hole that may move back
  // toward its home does, so that no probe ever stops short of its pair.
  std::size_t hole = slot;
  slots_[hole].count = 0;
  for (std::size_t i = (hole + 1) & mask_; slots_[i].count != 0;
       i = (i + 1) & mask_) {
    const std::size_t from = home(slots_[i].packet, slots_[i].frame);
    if (((i - from) & mask_) >= ((i - hole) & mask_)) {
      slots_[hole] = slots_[i];
      slots_[i].count = 0;
      hole = i;
    }
  }
  --used_;
}

void TraceChecker::Table::grow() {
  std::vector<Slot> old(std::size_t{1} << (bits_ + 1));
  old.swap(slots_);
  mask_ = slots_.size() - 1;
  ++bits_;
  for (const Slot& slot : old) {
    if (slot.count != 0) slots_[find(slot.packet, slot.frame)] = slot;
  }
}

int checkFile(std::FILE* file, TraceChecker* checker) {
  std::setvbuf(file, nullptr, _IONBF, 0);  // no copy through a stdio buffer
  const std::unique_ptr<char[]> block(new char[kBlock]);
  while (checker->result() == kTraceKept) {
    const std::size_t got = std::fread(block.get(), 1, kBlock, file);
    if (got > 0) checker->feed(block.get(), got);
    if (got < kBlock) {
      if (std::ferror(file) != 0) return errno != 0 ? errno : EIO;
      break;  // the end of the input
    }
  }
  checker->finish();
  return 0;
}

}  // namespace checker
