#ifndef LINKSIM_CHECKER_ROWS_H_
#define LINKSIM_CHECKER_ROWS_H_

// A trace's row, and the two readers that read one: the fast reader, for a
// row as the kit writes it (a "data" or "ack" frame, numbers as "%f" and
// "%d" write them), and the careful reader, for any row, which names the
// first field that is not a row's. Both take the format from
// kit/trace_format.h. Also what the checker's messages share: the clock as
// text, and text fit to quote.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kit/trace_format.h"

namespace checker {

/// How far past the start of a row the fast reader may read: a row it reads
/// takes at most 128 bytes.
constexpr std::size_t kWindow = 256;

/// A message: a verdict's why, or a failure's. Fixed in size, so that saying
/// what went wrong, out of memory too, needs no memory.
struct Message {
  char text[512] = "";
};
/// Writes printf's `format` with its arguments to `*out`, cut to fit.
void say(Message* out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

/// A row's fields, read.
struct Row {
  std::string_view clock;  // its text
  bool longClock;          // too many digits for the two below
  std::uint64_t whole;     // the clock's whole part
  std::uint64_t fraction;  // and its fraction, held as below
  int node;                // a kit::TraceNode
  int event;               // a kit::TraceEvent
  int kind;                // a FrameKinds number
  int sequence;
  std::uint64_t packet;
};

/// The frame kinds a trace names, numbered as they first appear, after
/// kit::kDataKind and kit::kAckKind, which every trace has: at most
/// kit::kMaxFrameKinds.
class FrameKinds {
 public:
  FrameKinds();
  ~FrameKinds();
  FrameKinds(const FrameKinds&) = delete;
  FrameKinds& operator=(const FrameKinds&) = delete;

  /// numberOf's failures.
  static constexpr int kNotAKind = -1;
  static constexpr int kNoMemory = -2;
  /// The number of `name`, added when new; kNotAKind, with `*why` said, when
  /// it is not a frame kind's name or one too many; kNoMemory when there is
  /// no memory to keep it.
  int numberOf(std::string_view name, Message* why);
  /// The name of kind `kind`, NUL-terminated.
  const char* name(int kind) const { return names_[kind]; }

 private:
  const char* names_[kit::kMaxFrameKinds];  // the kit's two, then malloc's
  std::size_t sizes_[kit::kMaxFrameKinds];
  int count_ = 2;
};

/// Reads a row at `p` as the kit writes it, with data and ack frames only,
/// fast, and returns where its fields end; null for anything else, which
/// may still be a row. It may read kWindow bytes from `p`, whatever they
/// hold.
const char* readFast(const char* p, Row* row);

/// Reads any row of `kinds`, adding a kind it names for the first time; or
/// fails, false, naming in `*why` the first field that is not a row's.
bool readCarefully(std::string_view line, FrameKinds* kinds, Row* row,
                   Message* why);

/// A clock's fraction as it is held: up to kFractionDigits places, padded
/// with '0', their characters read as a big-endian number, which orders
/// fractions as their values do. A clock with more places, or a whole part
/// of more than kWholeDigits digits, is a long clock, held as text.
constexpr std::size_t kWholeDigits = 19;
constexpr std::size_t kFractionDigits = 8;
constexpr std::uint64_t kNoFraction = 0x3030303030303030u;  // "00000000"

/// Less than, equal to or greater than 0 as clock `a` is before, at or after
/// clock `b`, exactly, however many digits they have.
int compareClocks(std::string_view a, std::string_view b);

/// Text to quote in a message, NUL-terminated, fixed in size like Message.
struct Quoted {
  char text[48];
};

/// A clock held as two integers, as "%f" writes it, with more places only
/// where it has them.
Quoted clockText(std::uint64_t whole, std::uint64_t fraction);

/// `text` fit to quote in a message: at most 40 bytes, each byte that is not
/// printable ASCII shown as '?', so that a binary file cannot upset a
/// terminal.
Quoted shown(std::string_view text);

}  // namespace checker

#endif  // LINKSIM_CHECKER_ROWS_H_
