// linksim-check TRACE: checks a protocol's trace against what every reliable
// protocol promises (see trace_check.h); TRACE "-" is standard input.
//
// The verdict on the trace is the program's output, one line on standard
// output, and its exit status:
//   0  linksim-check: TRACE: ok: N rows, send N, resend N, receive N,
//      lost N, deliver N, acknowledged N, timeout N, discard N, buffer N
//   1  linksim-check: TRACE:LINE: WHAT BROKE (the first broken promise)
//   2  linksim-check: TRACE:LINE: not a trace: WHY
//   2  linksim-check: TRACE:LINE: incomplete: WHY: its run was cut short
// What keeps it from giving one goes to standard error, with status 2: a
// usage error (with the usage), a trace that cannot be read or is too large
// for the memory, or a verdict that cannot be written. --help prints the
// usage on standard output. A reader of standard output that has gone is a
// verdict that cannot be written, not a signal that ends the program.

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "trace_check.h"

namespace {

constexpr int kUsageError = 2;   ///< a bad command line
constexpr int kCannotCheck = 2;  ///< a trace unread, or a verdict unwritten

/// The exit status of each result, indexed by it.
constexpr int kStatusOf[] = {0, 1, 2, 2, 2};
static_assert(sizeof kStatusOf / sizeof kStatusOf[0] ==
                  checker::kOutOfMemory + 1,
              "a status for every result");

constexpr const char* kUsage =
    "usage: linksim-check TRACE\n"
    "Checks a protocol's trace (a CSV file, or - for standard input) for\n"
    "what every reliable protocol built on the kit promises:\n"
    "  - the clock never goes back;\n"
    "  - data frames go from the source alone, ACKs from the sink alone;\n"
    "  - each direction is first in, first out: a receive or lost row is\n"
    "    of the oldest frame the other node sent that has not arrived;\n"
    "  - a packet's data frame is sent once, and resent only after that;\n"
    "  - packets are delivered once each, in order, each after a data\n"
    "    frame holding it was received at the sink;\n"
    "  - packets are acknowledged once each, in order, each after its\n"
    "    delivery and after an ACK holding it or a later packet reached\n"
    "    the source.\n"
    "A trace ends with its end row; one without it is incomplete.\n"
    "Exit status: 0 every promise holds (one line of counts), 1 a promise\n"
    "is broken (the first, and its line), 2 not a trace, an incomplete\n"
    "trace, or one that cannot be read.\n";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

/// Standard output flushed: `status`, or, said on standard error, the
/// failure to write `what` there.
int flushed(const char* what, int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::fprintf(stderr, "linksim-check: cannot write the %s: %s\n", what,
                 std::strerror(errno != 0 ? errno : EIO));
    return kCannotCheck;
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 ||
                    std::strcmp(argv[1], "-h") == 0)) {
    errno = 0;
    std::fputs(kUsage, stdout);
    return flushed("usage", 0);
  }
  // One argument, a file or "-": a name like an option is a mistyped one.
  if (argc != 2 || argv[1][0] == '\0' ||
      (argv[1][0] == '-' && argv[1][1] != '\0')) {
    if (argc == 2 && argv[1][0] == '\0') {
      std::fputs("linksim-check: the trace's name is empty\n", stderr);
    } else if (argc == 2) {
      std::fprintf(stderr, "linksim-check: unknown option %s\n", argv[1]);
    }
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  const bool standardInput = std::strcmp(argv[1], "-") == 0;
  const char* const name = standardInput ? "(standard input)" : argv[1];

  errno = 0;
  std::unique_ptr<std::FILE, FileCloser> opened;
  if (!standardInput) opened.reset(std::fopen(argv[1], "r"));
  std::FILE* const file = standardInput ? stdin : opened.get();
  if (file == nullptr) {
    std::fprintf(stderr, "linksim-check: cannot read %s: %s\n", name,
                 std::strerror(errno));
    return kCannotCheck;
  }
  checker::TraceChecker checker;
  errno = 0;
  if (const int error = checker::checkFile(file, &checker); error != 0) {
    std::fprintf(stderr, "linksim-check: cannot read %s: %s\n", name,
                 std::strerror(error));
    return kCannotCheck;
  }
  if (checker.result() == checker::kOutOfMemory) {
    std::fprintf(stderr, "linksim-check: cannot check %s:%" PRIu64 ": %s\n",
                 name, checker.line(), checker.message());
    return kCannotCheck;
  }

  errno = 0;
  if (checker.result() == checker::kTraceKept) {
    std::printf("linksim-check: %s: ok: %s\n", name, checker.summary().text);
  } else {
    std::printf("linksim-check: %s:%" PRIu64 ": %s\n", name, checker.line(),
                checker.message());
  }
  // A verdict nobody can read must not pass for one.
  return flushed("verdict", kStatusOf[checker.result()]);
}
