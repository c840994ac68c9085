#include "environment.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

// POSIX: the process's variables, NAME=value. POSIX leaves declaring it to
// the program, and glibc's <unistd.h> declares it only for _GNU_SOURCE; the
// same declaration, with C linkage, agrees with it where it does.
// NOLINTNEXTLINE(readability-redundant-declaration)
extern "C" char** environ;

namespace kit {

const char*& programVariable() {
  static const char* name = nullptr;
  return name;
}

bool allDigits(const char* text) {
  if (*text == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

int readCount(const char* text, long most) {
  if (!allDigits(text)) return 0;
  errno = 0;
  const long count = std::strtol(text, nullptr, 10);
  if (errno != 0 || count < 1 || count > most) return 0;
  return static_cast<int>(count);
}

int readWindow(const char* text) { return readCount(text, kMaxWindow); }

std::string windowRule() {
  return "LINKSIM_WINDOW must be a whole number from 1 to " +
         std::to_string(kMaxWindow);
}

bool readDecimal(const char* text, double* value) {
  if (*text == '\0' || text[std::strspn(text, "0123456789.eE+-")] != '\0') {
    return false;
  }
  char* end = nullptr;
  const double read = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(read)) return false;
  *value = read;
  return true;
}

std::pair<std::string, std::string> splitPath(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return {".", path};
  return {std::string(path, slash == path ? 1 : slash - path), slash + 1};
}

std::string fileProblem(const char* variable, const char* path, int* held) {
  std::string rule =
      std::string(variable) + " must name a file that can be written";
  if (*path == '\0') return rule;
  const auto problem = [&](int error) {
    struct stat file {};
    const bool unread =
        error == ENXIO && stat(path, &file) == 0 && S_ISFIFO(file.st_mode);
    return rule + " (" + path + ": " +
           (unread ? "no process reads it" : std::strerror(error)) + ")";
  };
  // Opened without creating it: a program that never runs leaves no file.
  const int fd =
      open(path, O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    // Missing: the run creates it, in its directory, which must take it.
    const std::string directory = splitPath(path).first;
    if (faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
      return problem(errno);
    }
    return std::string();
  }
  if (fd < 0) return problem(errno);
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

bool sameFile(const char* one, const char* other) {
  // A file is its device and inode; one still to be made, its directory's
  // and its own name there. One whose directory is unknown is no other.
  const auto identity = [](const char* path, std::string* id) {
    struct stat file {};
    std::string name;
    if (stat(path, &file) != 0) {
      const auto [directory, last] = splitPath(path);
      if (stat(directory.c_str(), &file) != 0) return false;
      name = "/" + last;
    }
    *id =
        std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino) + name;
    return true;
  };
  std::string oneId;
  std::string otherId;
  return identity(one, &oneId) && identity(other, &otherId) && oneId == otherId;
}

std::string readBurst(bool lossy, Settings* read) {
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

std::string readSettings(unsigned reads, Settings* settings) {
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
  std::string burst = readBurst(lossy, &read);
  if (!burst.empty()) return burst;
  static int held[] = {-1, -1};  // a FIFO each, open while the program runs
  const std::pair<const char*, std::string*> files[] = {
      {"LINKSIM_TRACE", &read.trace}, {"LINKSIM_STATS", &read.stats}};
  for (size_t i = 0; i < 2; ++i) {
    text = std::getenv(files[i].first);
    if (text == nullptr) continue;
    std::string problem = fileProblem(files[i].first, text, &held[i]);
    if (!problem.empty()) return problem;
    *files[i].second = text;
  }
  // The stats rows would land in the trace, and the next run's trace would
  // empty them.
  if (!read.trace.empty() && !read.stats.empty() &&
      sameFile(read.trace.c_str(), read.stats.c_str())) {
    return "LINKSIM_TRACE and LINKSIM_STATS must name two files (" +
           read.trace + " and " + read.stats + " are one)";
  }
  *settings = read;
  return std::string();
}

void warnUnread(const char* name, unsigned reads, const Settings& settings) {
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
    if (!known && key == kArqVariable) {
      // linksim-arq's, read in its programVariable: any other program is
      // one protocol, its own.
      std::fprintf(stderr,
                   "linksim: warning: %s is ignored: only linksim-arq reads "
                   "it\n",
                   key.c_str());
    } else if (!known) {
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

Settings settingsOrExit(const char* name, unsigned reads) {
  // A reader of the trace, the stats or standard output that leaves must
  // not end the program without a word: with SIGPIPE ignored the write
  // fails, and is said, as any lost output is. A handler the program was
  // started with, or its parent's choice to ignore it, is kept.
  struct sigaction action {};
  if (sigaction(SIGPIPE, nullptr, &action) == 0 &&
      action.sa_handler == SIG_DFL) {
    std::signal(SIGPIPE, SIG_IGN);
  }
  Settings settings;
  const std::string message = readSettings(reads, &settings);
  if (!message.empty()) {
    std::fprintf(stderr, "linksim: %s\n", message.c_str());
    std::exit(kRefusedStatus);
  }
  warnUnread(name, reads, settings);
  return settings;
}

}  // namespace kit
