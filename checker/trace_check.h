#ifndef LINKSIM_CHECKER_TRACE_CHECK_H_
#define LINKSIM_CHECKER_TRACE_CHECK_H_

// Checks a protocol's trace, streamed, against what every reliable protocol
// built on the kit promises, whatever the protocol.
//
// A trace is as kit/trace_format.h has it: its header, then one row per
// event, and last the end row, which counts the rows before it. Here
// `clock` is any decimal number: digits, then optionally a point and
// digits, which "%f" always writes but a trace need not; `sequence` an int;
// `packet` a non-negative 64-bit count. A line may end in "\r\n".
//
// The promises are promises.h's, checked row by row. The verdict, once the
// input has ended:
//   kTraceKept        every promise held, and the trace is complete;
//   kTraceBroken      the first row that broke one, in a complete trace;
//   kNotATrace        the first line that is not a trace's, or an end row
//                     that is not the last line or counts other rows;
//   kTraceIncomplete  the trace does not end with its end row: its run was
//                     cut short, or its writer was; whatever its rows broke;
//   kOutOfMemory      its tables outgrew the memory allowed them.
// Every line the kit writes ends in a newline, so a last line without one
// is a row cut short, unless it is a whole end row: a trace cut at any byte
// is incomplete, never broken or not a trace. message() says why, line()
// where.
//
// Rows are read fast where the kit wrote them (rows.h). The tables grow by
// doubling (tables.h), so no row costs an allocation but a frame kind's
// first.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "kit/trace_format.h"
#include "promises.h"
#include "rows.h"
#include "tables.h"

namespace checker {

/// Results.
constexpr int kTraceKept = 0;        ///< every promise held (so far)
constexpr int kTraceBroken = 1;      ///< a row broke a promise
constexpr int kNotATrace = 2;        ///< the input is not a trace
constexpr int kTraceIncomplete = 3;  ///< the trace lacks its end
constexpr int kOutOfMemory = 4;      ///< too large to check

/// Bytes checkFile reads at a time: large enough for few system calls, small
/// enough to stay in the cache while the rows in it are checked.
constexpr std::size_t kBlock = 1 << 16;

/// The OK line's counts, fixed in size.
struct Summary {
  char text[384];
};

class TraceChecker {
 public:
  /// Checks with tables of at most `memoryLimit` bytes between them.
  explicit TraceChecker(std::size_t memoryLimit = SIZE_MAX);

  /// Checks the next piece of the input, cut anywhere; returns result().
  int feed(const char* data, std::size_t size);
  /// Checks the next line, which ended with a newline, given without it;
  /// returns result().
  int feedLine(std::string_view line);
  /// Ends the input, checking a last line that lacked its newline; returns
  /// the verdict.
  int finish();

  /// The verdict so far: kTraceKept, or kTraceBroken once a row broke a
  /// promise (the input is read on, to learn whether the trace is
  /// complete), or kNotATrace or kOutOfMemory for good. After finish(), the
  /// verdict.
  int result() const { return result_; }
  /// True once the verdict is known: more input would change nothing.
  bool settled() const { return settled_; }
  /// Why: "not a trace: ..." for kNotATrace, "incomplete: ..." for
  /// kTraceIncomplete, "out of memory, ..." for kOutOfMemory; empty while
  /// every promise holds.
  const char* message() const { return message_.text; }
  /// The line the verdict is on, 1 being the header; else the lines read.
  std::uint64_t line() const {
    return verdictLine_ != 0 ? verdictLine_ : line_;
  }
  /// The rows of `event` so far.
  std::uint64_t count(kit::TraceEvent event) const { return counts_[event]; }
  /// The counts as the OK line gives them: "N rows, send N, resend N, ...",
  /// the end row counted in none.
  Summary summary() const;

 private:
  void checkLine(std::string_view line);
  void checkRow(const Row& row);
  /// The last line, which lacked its newline.
  void checkCutLine(std::string_view line);
  /// True if `line` would be the next line, a whole end row.
  bool isEndRow(std::string_view line);
  /// Ends the check with `result`, `*why` its message, at line `at`.
  void settle(int result, const Message& why, std::uint64_t at);
  void notATrace(const Message& why) { settle(kNotATrace, why, line_); }
  void incomplete(const char* why, std::uint64_t at);

  int result_ = kTraceKept;
  bool settled_ = false;
  Message message_;
  std::uint64_t line_ = 0;
  std::uint64_t verdictLine_ = 0;
  bool ended_ = false;  // the end row has been read
  std::uint64_t counts_[kit::kTraceEventCount] = {};
  char partial_[kMaxLine + 1] = {};  // a line cut by the end of a piece
  std::size_t partialSize_ = 0;
  char padded_[kMaxLine + kWindow] = {};  // a line, then room for readFast
  Memory memory_;
  FrameKinds kinds_;
  Promises promises_;
};

/// Feeds `checker` all that `file` holds, in blocks of kBlock bytes read
/// straight from the file (it is made unbuffered: call this before reading
/// it), and finishes it; stops once the verdict is settled. Returns 0, or
/// errno's value for a read that failed (ENOMEM where no block could be
/// had), the verdict then unfinished.
int checkFile(std::FILE* file, TraceChecker* checker);

}  // namespace checker

#endif  // LINKSIM_CHECKER_TRACE_CHECK_H_
