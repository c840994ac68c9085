#ifndef LINKSIM_EXAMPLES_PROTOCOLS_KIT_ENVIRONMENT_H_
#define LINKSIM_EXAMPLES_PROTOCOLS_KIT_ENVIRONMENT_H_

// What the environment tells a protocol built on the kit, read the same way
// by every one of them:
//   LINKSIM_WINDOW   frames in flight, a whole number from 1 to 65536 (8)
//   LINKSIM_LOSS     each frame lost with this probability, 0 <= p < 1 (0)
//   LINKSIM_BER      instead, a bit error rate, 0 <= b < 1
//   LINKSIM_SEED     the loss generator's seed, 0 to 2^64 - 1 (1)
//   LINKSIM_TIMEOUT  the retransmission timeout, a finite number above 0
//                    (unset: the protocol derives one from the link)
//   LINKSIM_TRACE    a file each run writes its events to (unset: none),
//                    not standard output, and read by some process if it
//                    is a FIFO
// A value a protocol cannot use ends the program where it starts, before it
// writes a line: one line on standard error naming the variable and what it
// accepts, and exit status 2. A guess would run a different experiment than
// the one asked for.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kit {

constexpr long kMaxWindow = 65536;

/// What the variables ask for.
struct Settings {
  int window = 8;
  double loss = 0.0;          // per frame, when ber is not set
  double ber = std::nan("");  // per bit; NaN when not set
  std::uint64_t seed = 1;
  double timeout = std::nan("");  // NaN: derive one from the link
  std::string trace;              // empty: no trace
};

/// True when `text` is all decimal digits, and some.
inline bool allDigits(const char* text) {
  if (*text == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

/// The window `text` names: a whole number from 1 to kMaxWindow, digits
/// only (strtol alone would take a sign, spaces or a trailing word); 0 for
/// anything else.
inline int readWindow(const char* text) {
  if (!allDigits(text)) return 0;
  errno = 0;
  const long window = std::strtol(text, nullptr, 10);
  if (errno != 0 || window < 1 || window > kMaxWindow) return 0;
  return static_cast<int>(window);
}

/// What LINKSIM_WINDOW must hold, as the refusal says it.
inline std::string windowRule() {
  return "LINKSIM_WINDOW must be a whole number from 1 to " +
         std::to_string(kMaxWindow);
}

/// Reads `text` whole as a decimal number such as 0.05, .5 or 1e-3 into
/// `*value`; false for anything else: spaces, hexadecimal, inf, nan,
/// trailing text, or a value too large to hold.
inline bool readDecimal(const char* text, double* value) {
  if (*text == '\0' || text[std::strspn(text, "0123456789.eE+-")] != '\0') {
    return false;
  }
  char* end = nullptr;
  const double read = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(read)) return false;
  *value = read;
  return true;
}

/// Why `path` can be no trace, or an empty string: it must be a file that
/// can be written, and opening it creates a missing one but empties none.
/// The open does not wait: a FIFO that no process reads would hold it for
/// ever. Standard output cannot be the trace: the rows would cut into its
/// lines, and their writes overwrite each other.
inline std::string traceProblem(const char* path) {
  const std::string rule = "LINKSIM_TRACE must name a file that can be written";
  if (*path == '\0') return rule;
  const int fd = open(
      path, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
      0666);
  if (fd < 0) {
    const int error = errno;
    struct stat file {};
    const bool unread =
        error == ENXIO && stat(path, &file) == 0 && S_ISFIFO(file.st_mode);
    return rule + " (" + path + ": " +
           (unread ? "no process reads it" : std::strerror(error)) + ")";
  }
  struct stat trace {};
  struct stat output {};
  const bool known = fstat(fd, &trace) == 0;
  const bool same = known && fstat(STDOUT_FILENO, &output) == 0 &&
                    trace.st_dev == output.st_dev &&
                    trace.st_ino == output.st_ino;
  if (known && S_ISFIFO(trace.st_mode) && !same) {
    // Held open for as long as the program runs: a reader sees the end of
    // its input once no writer is left, and would end before the first run
    // opens the FIFO, or between two runs.
    static int held = -1;
    if (held >= 0) close(held);
    held = fd;
    return std::string();
  }
  close(fd);
  if (same) {
    return "LINKSIM_TRACE must not name standard output (" + std::string(path) +
           ")";
  }
  return std::string();
}

/// Reads the variables into `*settings`, `windowed` saying whether
/// LINKSIM_WINDOW counts. Returns an empty string, or the message for the
/// first variable that holds no value the protocol can use, leaving
/// `*settings` as it was.
inline std::string readSettings(bool windowed, Settings* settings) {
  Settings read;
  read.window = settings->window;
  const char* text = std::getenv("LINKSIM_WINDOW");
  if (windowed && text != nullptr) {
    read.window = readWindow(text);
    if (read.window == 0) return windowRule();
  }
  const struct {
    const char* name;
    double* value;
  } rates[] = {{"LINKSIM_LOSS", &read.loss}, {"LINKSIM_BER", &read.ber}};
  if (std::getenv(rates[0].name) != nullptr &&
      std::getenv(rates[1].name) != nullptr) {
    return "LINKSIM_LOSS and LINKSIM_BER cannot both be set";
  }
  for (const auto& rate : rates) {
    text = std::getenv(rate.name);
    if (text != nullptr && !(readDecimal(text, rate.value) &&
                             *rate.value >= 0.0 && *rate.value < 1.0)) {
      return std::string(rate.name) +
             " must be a decimal number from 0 up to but not including 1";
    }
  }
  text = std::getenv("LINKSIM_SEED");
  if (text != nullptr) {
    errno = 0;
    if (!allDigits(text)) errno = EINVAL;
    if (errno == 0) read.seed = std::strtoull(text, nullptr, 10);
    if (errno != 0) {
      return "LINKSIM_SEED must be a whole number from 0 to "
             "18446744073709551615";
    }
  }
  text = std::getenv("LINKSIM_TIMEOUT");
  if (text != nullptr &&
      !(readDecimal(text, &read.timeout) && read.timeout > 0.0)) {
    return "LINKSIM_TIMEOUT must be a finite number above 0";
  }
  text = std::getenv("LINKSIM_TRACE");
  if (text != nullptr) {
    const std::string problem = traceProblem(text);
    if (!problem.empty()) return problem;
    read.trace = text;
  }
  *settings = read;
  return std::string();
}

/// The settings when the program starts: a variable that holds no value the
/// protocol can use ends it there, before it writes a line.
inline Settings settingsOrExit(bool windowed) {
  Settings settings;
  const std::string message = readSettings(windowed, &settings);
  if (!message.empty()) {
    std::fprintf(stderr, "linksim: %s\n", message.c_str());
    std::exit(2);
  }
  return settings;
}

}  // namespace kit

#endif  // LINKSIM_EXAMPLES_PROTOCOLS_KIT_ENVIRONMENT_H_
