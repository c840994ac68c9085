#ifndef LINKSIM_CHECKER_TRACE_CHECK_H_
#define LINKSIM_CHECKER_TRACE_CHECK_H_

// Checks a protocol's trace, streamed, against what every reliable protocol
// promises, whatever the protocol.
//
// A trace is CSV: the header "clock,node,event,frame,sequence,packet", then
// one row per event in the order they happened. `clock` is a decimal number
// as "%f" writes it (digits, then a point and digits, which "%f" always
// writes but a trace need not); `node` is "source" or "sink";
// `event` one of send, resend, receive, lost (any node), deliver, discard,
// buffer (the sink's) and acknowledged, timeout (the source's); `frame` a
// frame kind, a lowercase word ("data", "ack", or any other a protocol
// declares, at most kMaxFrameKinds of them: a lowercase letter, then
// lowercase letters, digits, '-' or '_'); `sequence` an int; `packet` a
// non-negative 64-bit count of the packet in the run. A line may end in
// "\r\n"; the last may lack its newline.
//
// The promises, checked row by row:
//   - the clock never goes back;
//   - every receive or lost row matches a send or resend by the other node,
//     earlier and not yet matched, of the same frame kind, sequence number
//     and packet: nothing arrives that was not sent;
//   - deliver rows hand up packets 0, 1, 2, ... once each, in order, each
//     after a receive at the sink of a data frame holding it;
//   - acknowledged rows are 0, 1, 2, ... once each, each after the deliver
//     row of its packet.
// The first row that breaks one ends the check with kTraceBroken; the first
// line that is not a trace's with kNotATrace. Either way message() says why
// and line() where. Frames still in flight at the end, and packets never
// delivered or acknowledged, break nothing: a run ends when its time is up.
//
// State is O(frames in flight + packets received ahead of delivery), at the
// most the trace ever had, in tables that grow by doubling: no allocation
// per row.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace checker {

/// Results, which are also linksim-check's exit statuses.
constexpr int kTraceKept = 0;    ///< every promise held (so far)
constexpr int kTraceBroken = 1;  ///< a row broke a promise
constexpr int kNotATrace = 2;    ///< the input is not a trace

/// The longest line a trace may hold; a longer one is not a trace's (and
/// would otherwise be held whole in memory).
constexpr std::size_t kMaxLine = 4096;
/// The most frame kinds a trace may use.
constexpr std::size_t kMaxFrameKinds = 64;
/// How far past the start of a row the fast reader may read: a row it reads
/// takes at most 128 bytes.
constexpr std::size_t kWindow = 256;
/// Bytes checkFile reads at a time: large enough for few system calls, small
/// enough to stay in the cache while the rows in it are checked.
constexpr std::size_t kBlock = 1 << 16;

/// The rows of each event, in the order the OK line gives them.
enum Event : int {
  kSend,
  kResend,
  kReceive,
  kLost,
  kDeliver,
  kAcknowledged,
  kTimeout,
  kDiscard,
  kBuffer,
  kEnd,  ///< the run's last row; not in the OK line's counts
  kEventCount
};

class TraceChecker {
 public:
  TraceChecker();

  /// Checks the next piece of the input, cut anywhere; returns result().
  int feed(const char* data, std::size_t size);
  /// Checks the next line, without its newline; returns result().
  int feedLine(std::string_view line);
  /// Ends the input, checking a last line that lacked its newline; returns
  /// result(). An input without even a header is not a trace.
  int finish();

  /// kTraceKept until a line breaks a promise or is not a trace's; then
  /// that result for good.
  int result() const { return result_; }
  /// Why the check failed: "not a trace: ..." for kNotATrace; empty while
  /// every promise holds.
  const std::string& message() const { return message_; }
  /// The line the failure is on, 1 being the header; else the lines read.
  std::uint64_t line() const { return line_; }
  /// The rows of `event` so far.
  std::uint64_t count(Event event) const { return counts_[event]; }
  /// The counts as the OK line gives them: "N rows, send N, resend N, ...".
  std::string summary() const;

 private:
  /// A multiset of frames or packets, each named by two numbers: a
  /// linear-probing hash table of them and their counts, which never
  /// shrinks.
  class Table {
   public:
    Table();
    void add(std::uint64_t packet, std::uint64_t frame);
    /// Takes one away; false if there is none.
    bool removeOne(std::uint64_t packet, std::uint64_t frame);
    /// Takes every one away; false if there is none.
    bool removeAll(std::uint64_t packet, std::uint64_t frame);

   private:
    struct Slot {
      std::uint64_t packet;
      std::uint64_t frame;   // sender, kind and sequence number; 0 for none
      std::uint64_t count;   // 0: empty
      std::uint64_t unused;  // a power of two in size, for quick indexing
    };
    std::size_t home(std::uint64_t packet, std::uint64_t frame) const;
    /// The slot of the pair, or the empty one it would take.
    std::size_t find(std::uint64_t packet, std::uint64_t frame) const;
    void erase(std::size_t slot);
    void grow();
    std::vector<Slot> slots_;
    std::size_t mask_;  // slots_.size() - 1
    std::size_t used_ = 0;
    int bits_;
  };

  /// A row's fields, read.
  struct Row {
    std::string_view clock;
    bool longClock;          // too many digits for the two below
    std::uint64_t whole;     // the clock's whole part
    std::uint64_t fraction;  // and its fraction, as trace_check.cpp has it
    int node;
    int event;
    int kind;
    int sequence;
    std::uint64_t packet;
  };

  void checkLine(std::string_view line);
  void checkHeader(std::string_view line);
  /// Reads a row at `p` as the kit writes it, with data and ack frames only,
  /// fast, and returns where its fields end; null for anything else, which
  /// may still be a row. It may read kWindow bytes from `p`, whatever they
  /// hold.
  static const char* readFast(const char* p, Row* row);
  /// Reads any row, or fails naming the first field that is not a row's.
  bool readCarefully(std::string_view line, Row* row);
  void checkRow(const Row& row);
  /// False, having failed, if `row`'s clock is before the last row's.
  bool checkClock(const Row& row);
  /// checkClock where either clock is too long for two integers.
  bool checkLongClock(const Row& row);
  /// The number of `kind`, added when new; -1, having failed, when it is not
  /// a word or one too many.
  int frameKind(std::string_view kind);
  /// True if `packet` is `next`, the next packet to be `done` ("delivered",
  /// "acknowledged"); false, having failed, if it is one done already or
  /// one that skips ahead.
  bool isNext(std::uint64_t packet, std::uint64_t next, const char* done);
  void fail(int result, const char* format, ...)
      __attribute__((format(printf, 3, 4)));

  int result_ = kTraceKept;
  std::string message_;
  std::uint64_t line_ = 0;
  std::uint64_t counts_[kEventCount] = {};
  std::string partial_;       // a line cut by the end of a piece
  std::vector<char> padded_;  // a line, then room for readFast to read
  // The last row's clock: two integers, or text when too long for them.
  bool lastLong_ = false;
  std::uint64_t lastWhole_ = 0;
  std::uint64_t lastFraction_ = 0;
  std::string lastLongClock_;
  std::vector<std::string> kinds_;
  Table inFlight_;  // frames sent and not yet arrived
  Table received_;  // data packets at the sink, not yet delivered
  std::uint64_t nextDelivery_ = 0;
  std::uint64_t nextAcknowledgement_ = 0;
};

/// Feeds `checker` all that `file` holds, in blocks of kBlock bytes read
/// straight from the file (it is made unbuffered: call this before reading
/// it), and finishes it; stops at the first line that fails. Returns 0, or
/// errno's value for a read that failed, the verdict then unfinished.
int checkFile(std::FILE* file, TraceChecker* checker);

}  // namespace checker

#endif  // LINKSIM_CHECKER_TRACE_CHECK_H_
