#ifndef LINKSIM_PROTOCOLS_KIT_ENVIRONMENT_H_
#define LINKSIM_PROTOCOLS_KIT_ENVIRONMENT_H_

// What the environment tells a protocol built on the kit, read the same way
// by every one of them:
//   LINKSIM_WINDOW   frames in flight, a whole number from 1 to 65536 (8)
//   LINKSIM_LOSS     each frame lost with this probability, 0 <= p < 1 (0)
//   LINKSIM_BER      instead, a bit error rate, 0 <= b < 1
//   LINKSIM_SEED     the loss generator's seed, 0 to 2^64 - 1 (1)
//   LINKSIM_TIMEOUT  the retransmission timeout, a finite number above 0
//                    (unset: the protocol derives one from the link)
//   LINKSIM_TRACE    a file each run writes its events to (unset: none)
//   LINKSIM_STATS    a file each run appends a row of its figures to
//                    (unset: none)
//   Neither file may be standard output, and a FIFO must have a reader.
//   LINKSIM_SEQUENCE_BITS  k: frames carry their packet's number modulo
//                    2^k, a whole number from 1 to 31 (31)
//   LINKSIM_BURST    the mean length of a run of lost frames, from 1 up,
//                    with LINKSIM_LOSS the long-run loss (unset: each frame
//                    lost on its own)
//   LINKSIM_ARRIVALS periodic (packet k arrives at k / rate) or poisson
//                    (exponential gaps of mean 1 / rate) (periodic)
// A value a protocol cannot use ends the program where it starts, before it
// writes a line: one line on standard error naming the variable and what it
// accepts, and exit status 2. A guess would run a different experiment than
// the one asked for. A protocol reads only the variables that mean
// something to it; any other LINKSIM_ variable draws a warning at start,
// since a misspelled one would otherwise run the experiment without it.

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
#include <utility>

// POSIX: the process's variables, NAME=value; with C linkage, as <unistd.h>
// declares it, so that a protocol may include both.
extern "C" char** environ;

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
  std::string stats;              // empty: no stats
  int sequenceBits = 31;          // sequence numbers modulo 2^sequenceBits
  double burst = std::nan("");    // mean run of lost frames; NaN: no bursts
  bool poisson = false;           // arrivals: Poisson, else periodic
};

/// Which variables a protocol reads, beside LINKSIM_TRACE and LINKSIM_STATS,
/// which every one does: a set of these bits.
constexpr unsigned kReadsWindow = 1;   // LINKSIM_WINDOW
constexpr unsigned kReadsLoss = 2;     // LINKSIM_LOSS, _BER and _SEED
constexpr unsigned kReadsTimeout = 4;  // LINKSIM_TIMEOUT
// LINKSIM_SEQUENCE_BITS: only a protocol whose receivers decide by the
// numbers the kit gives (Arq::numbers) may claim it.
constexpr unsigned kReadsSequence = 8;
constexpr unsigned kReadsArrivals = 16;  // LINKSIM_ARRIVALS
constexpr unsigned kReadsArq =
    kReadsWindow | kReadsLoss | kReadsTimeout | kReadsArrivals;
/// Not a protocol's to claim: set while Poisson arrivals draw from the
/// seed, which a protocol that reads no loss then reads all the same.
constexpr unsigned kDrawsArrivals = 32;

/// The variables the kit knows, and the bits that read each; 0 for those
/// read whatever the protocol. One more, the program's own (linksim-arq's
/// LINKSIM_ARQ), is programVariable.
constexpr struct {
  const char* name;
  unsigned readBy;
} kVariables[] = {
    {"LINKSIM_WINDOW", kReadsWindow},
    {"LINKSIM_LOSS", kReadsLoss},
    {"LINKSIM_BER", kReadsLoss},
    {"LINKSIM_SEED", kReadsLoss | kDrawsArrivals},
    {"LINKSIM_TIMEOUT", kReadsTimeout},
    {"LINKSIM_TRACE", 0},
    {"LINKSIM_STATS", 0},
    {"LINKSIM_SEQUENCE_BITS", kReadsSequence},
    {"LINKSIM_BURST", kReadsLoss},
    {"LINKSIM_ARRIVALS", kReadsArrivals},
};

/// The kReads bits of the variables a protocol that reads `reads` takes
/// with `settings`: the seed too where Poisson arrivals draw from it.
inline unsigned readsWith(unsigned reads, const Settings& settings) {
  const bool draws = (reads & kReadsArrivals) != 0 && settings.poisson;
  return reads | (draws ? kDrawsArrivals : 0);
}

/// A variable the program reads beside the kit's; null for none.
inline const char*& programVariable() {
  static const char* name = nullptr;
  return name;
}

/// True when `text` is all decimal digits, and some.
inline bool allDigits(const char* text) {
  if (*text == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

/// The whole number from 1 to `most` that `text` names, digits only
/// (strtol alone would take a sign, spaces or a trailing word); 0 for
/// anything else.
inline int readCount(const char* text, long most) {
  if (!allDigits(text)) return 0;
  errno = 0;
  const long count = std::strtol(text, nullptr, 10);
  if (errno != 0 || count < 1 || count > most) return 0;
  return static_cast<int>(count);
}

/// The window `text` names: a whole number from 1 to kMaxWindow; 0 for
/// anything else.
inline int readWindow(const char* text) { return readCount(text, kMaxWindow); }

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

/// Why `path`, the value of `variable` (LINKSIM_TRACE or LINKSIM_STATS),
/// can be no file for a run's rows, or an empty string: it must be a file
/// that can be written, and opening it creates a missing one but empties
/// none. The open does not wait: a FIFO that no process reads would hold it
/// for ever. Standard output cannot be one: the rows would cut into its
/// lines, and their writes overwrite each other. `*held` keeps a FIFO open.
inline std::string fileProblem(const char* variable, const char* path,
                               int* held) {
  const std::string rule =
      std::string(variable) + " must name a file that can be written";
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
    if (*held >= 0) close(*held);
    *held = fd;
    return std::string();
  }
  close(fd);
  if (same) {
    return std::string(variable) + " must not name standard output (" + path +
           ")";
  }
  return std::string();
}

/// Reads LINKSIM_BURST into `read`, whose loss is read already, where the
/// protocol reads loss (`lossy`): an empty string, or what is wrong. A
/// chain that stays bad with probability 1 - 1/b loses frames in runs of
/// mean b; to lose p of them in the long run it must turn bad with
/// probability p / (b (1 - p)), which must be at most 1 (give or take the
/// rounding of b = p / (1 - p) itself). Bursts are of whole frames, so a
/// bit error rate has none.
inline std::string readBurst(bool lossy, Settings* read) {
  const char* text = std::getenv("LINKSIM_BURST");
  if (!lossy || text == nullptr) return std::string();
  if (!readDecimal(text, &read->burst) || !(read->burst >= 1.0)) {
    return "LINKSIM_BURST must be a decimal number from 1 up";
  }
  if (std::getenv("LINKSIM_BER") != nullptr) {
    return "LINKSIM_BURST cannot be set with LINKSIM_BER: bursts are of "
           "whole frames";
  }
  if (std::getenv("LINKSIM_LOSS") == nullptr) {
    return "LINKSIM_BURST needs LINKSIM_LOSS, the long-run frame loss";
  }
  const double p = read->loss;
  if (p / (read->burst * (1.0 - p)) > 1.0 + 1e-12) {
    char least[32];
    std::snprintf(least, sizeof least, "%g", p / (1.0 - p));
    return std::string(
               "LINKSIM_BURST must be at least LINKSIM_LOSS / (1 - "
               "LINKSIM_LOSS) = ") +
           least + ": shorter bursts cannot lose that much";
  }
  return std::string();
}

/// Reads the variables in `reads` (kReads bits), LINKSIM_TRACE and
/// LINKSIM_STATS into `*settings`. Returns an empty string, or the message
/// for the first variable that holds no value the protocol can use, leaving
/// `*settings` as it was.
inline std::string readSettings(unsigned reads, Settings* settings) {
  Settings read;
  read.window = settings->window;
  const char* text = std::getenv("LINKSIM_WINDOW");
  if ((reads & kReadsWindow) != 0 && text != nullptr) {
    read.window = readWindow(text);
    if (read.window == 0) return windowRule();
  }
  const struct {
    const char* name;
    double* value;
  } rates[] = {{"LINKSIM_LOSS", &read.loss}, {"LINKSIM_BER", &read.ber}};
  const bool lossy = (reads & kReadsLoss) != 0;
  if (lossy && std::getenv(rates[0].name) != nullptr &&
      std::getenv(rates[1].name) != nullptr) {
    return "LINKSIM_LOSS and LINKSIM_BER cannot both be set";
  }
  for (const auto& rate : rates) {
    if (!lossy) break;
    text = std::getenv(rate.name);
    if (text != nullptr && !(readDecimal(text, rate.value) &&
                             *rate.value >= 0.0 && *rate.value < 1.0)) {
      return std::string(rate.name) +
             " must be a decimal number from 0 up to but not including 1";
    }
  }
  text = std::getenv("LINKSIM_ARRIVALS");
  if ((reads & kReadsArrivals) != 0 && text != nullptr) {
    read.poisson = std::strcmp(text, "poisson") == 0;
    if (!read.poisson && std::strcmp(text, "periodic") != 0) {
      return "LINKSIM_ARRIVALS must be periodic or poisson";
    }
  }
  text = std::getenv("LINKSIM_SEED");
  if ((readsWith(reads, read) & (kReadsLoss | kDrawsArrivals)) != 0 &&
      text != nullptr) {
    errno = 0;
    if (!allDigits(text)) errno = EINVAL;
    if (errno == 0) read.seed = std::strtoull(text, nullptr, 10);
    if (errno != 0) {
      return "LINKSIM_SEED must be a whole number from 0 to "
             "18446744073709551615";
    }
  }
  text = std::getenv("LINKSIM_TIMEOUT");
  if ((reads & kReadsTimeout) != 0 && text != nullptr &&
      !(readDecimal(text, &read.timeout) && read.timeout > 0.0)) {
    return "LINKSIM_TIMEOUT must be a finite number above 0";
  }
  text = std::getenv("LINKSIM_SEQUENCE_BITS");
  if ((reads & kReadsSequence) != 0 && text != nullptr) {
    read.sequenceBits = readCount(text, 31);
    if (read.sequenceBits == 0) {
      return "LINKSIM_SEQUENCE_BITS must be a whole number from 1 to 31";
    }
  }
  const std::string burst = readBurst(lossy, &read);
  if (!burst.empty()) return burst;
  static int held[] = {-1, -1};  // a FIFO each, open while the program runs
  const std::pair<const char*, std::string*> files[] = {
      {"LINKSIM_TRACE", &read.trace}, {"LINKSIM_STATS", &read.stats}};
  for (size_t i = 0; i < 2; ++i) {
    text = std::getenv(files[i].first);
    if (text == nullptr) continue;
    const std::string problem = fileProblem(files[i].first, text, &held[i]);
    if (!problem.empty()) return problem;
    *files[i].second = text;
  }
  *settings = read;
  return std::string();
}

/// Says on standard error, one line each, which LINKSIM_ variables the
/// protocol `name` does not read (those outside `reads`, as `settings`
/// make use of them) and which no part of the program reads at all: the
/// run goes on without them.
inline void warnUnread(const char* name, unsigned reads,
                       const Settings& settings) {
  reads = readsWith(reads, settings);
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const char* entry = *variable;
    if (std::strncmp(entry, "LINKSIM_", 8) != 0) continue;
    const std::string key(entry, std::strcspn(entry, "="));
    const char* own = programVariable();
    if (own != nullptr && key == own) continue;
    bool known = false;
    bool used = false;
    for (const auto& known_variable : kVariables) {
      if (key != known_variable.name) continue;
      known = true;
      used = known_variable.readBy == 0 || (known_variable.readBy & reads) != 0;
    }
    if (!known) {
      std::fprintf(stderr,
                   "linksim: warning: %s is ignored: no protocol reads it\n",
                   key.c_str());
    } else if (!used) {
      std::fprintf(stderr,
                   "linksim: warning: %s is ignored: %s does not read it\n",
                   key.c_str(), name);
    }
  }
}

/// The settings when the program starts, for the protocol `name`, which
/// reads the variables in `reads`: a variable that holds no value it can
/// use ends the program there, before it writes a line; one it does not
/// read is warned of.
inline Settings settingsOrExit(const char* name, unsigned reads) {
  Settings settings;
  const std::string message = readSettings(reads, &settings);
  if (!message.empty()) {
    std::fprintf(stderr, "linksim: %s\n", message.c_str());
    std::exit(2);
  }
  warnUnread(name, reads, settings);
  return settings;
}

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_ENVIRONMENT_H_
