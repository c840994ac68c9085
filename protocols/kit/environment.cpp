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

#include "frames.h"
#include "variables.h"

namespace kit {

const char*& programVariable() {
  static const char* name = nullptr;
  return name;
}

std::pair<std::string, std::string> splitPath(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return {".", path};
  return {std::string(path, slash == path ? 1 : slash - path), slash + 1};
}

bool rowsFile(const char* variable, const char* path, int* held,
              std::string* error) {
  const std::string rule =
      std::string(variable) + " must name a file that can be written";
  const auto refuse = [&](int reason) {
    struct stat file {};
    const bool unread =
        reason == ENXIO && stat(path, &file) == 0 && S_ISFIFO(file.st_mode);
    *error = rule + " (" + path + ": " +
             (unread ? "no process reads it" : std::strerror(reason)) + ")";
    return false;
  };
  if (*path == '\0') {
    *error = rule;
    return false;
  }
  // Opened without creating it: a program that never runs leaves no file.
  const int fd =
      open(path, O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    // Missing: the run creates it, in its directory, which must take it.
    const std::string directory = splitPath(path).first;
    return faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) ==
               0 ||
           refuse(errno);
  }
  if (fd < 0) return refuse(errno);
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
    return true;
  }
  close(fd);
  if (same) {
    *error =
        std::string(variable) + " must not name standard output (" + path + ")";
    return false;
  }
  return true;
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

namespace {

/// Whether `read`'s burst can be beside the losses it is read with; false,
/// with `*error` why not. A chain that stays bad with probability 1 - 1/b loses
/// frames in runs of mean b; to lose p of them in the long run it must turn
/// bad with probability p / (b (1 - p)), which must be at most 1 (give or
/// take the rounding of b = p / (1 - p) itself), for each direction's p.
/// Bursts are of whole frames, so a bit error rate has none.
bool burstFits(const Lookup& lookup, const Settings& read, std::string* error) {
  if (lookup.get("LINKSIM_BER") != nullptr) {
    *error =
        "LINKSIM_BURST cannot be set with LINKSIM_BER: bursts are of whole "
        "frames";
    return false;
  }
  if (lookup.get("LINKSIM_LOSS") == nullptr) {
    *error = "LINKSIM_BURST needs LINKSIM_LOSS, the long-run frame loss";
    return false;
  }
  const std::pair<const char*, double> losses[] = {
      {"LINKSIM_LOSS", read.loss}, {"LINKSIM_ACK_LOSS", read.ackLoss}};
  for (const auto& [name, p] : losses) {
    if (!(p / (read.burst * (1.0 - p)) > 1.0 + 1e-12)) continue;
    char least[32];
    std::snprintf(least, sizeof least, "%g", p / (1.0 - p));
    *error = std::string("LINKSIM_BURST must be at least ") + name +
             " / (1 - " + name + ") = " + least +
             ": shorter bursts cannot lose that much";
    return false;
  }
  return true;
}

/// Whether every kind of frame `drop` names is declared; false, with
/// `*error` the first that is not.
bool dropFits(const DropList& drop, std::string* error) {
  for (const auto& group : drop) {
    bool known = false;
    std::string kinds;
    for (int kind = 0; kind < frameKindCount(); ++kind) {
      const char* name = frameKind(kind).name;
      known = known || group.first == name;
      if (kind > 0) kinds += kind + 1 == frameKindCount() ? " and " : ", ";
      kinds += name;
    }
    if (!known) {
      *error = "LINKSIM_DROP names " + group.first +
               ", which is no kind of frame here: the kinds are " + kinds;
      return false;
    }
  }
  return true;
}

}  // namespace

bool readSettings(unsigned reads, Settings* settings, std::string* error) {
  const Lookup& lookup = variables();
  Settings read;
  read.window = settings->window;
  static int held[] = {-1, -1};  // a FIFO each, open while the program runs
  for (const Variable& variable : kVariables) {
    const char* text = lookup.get(variable.name);
    if (text == nullptr || variable.readBy == kChoosesProtocol ||
        !kit::reads(variable, readsWith(reads, read))) {
      continue;
    }
    const std::string name = variable.name;
    if (name == "LINKSIM_LOSS" && lookup.get("LINKSIM_BER") != nullptr) {
      *error = "LINKSIM_LOSS and LINKSIM_BER cannot both be set";
      return false;
    }
    if (!variable.parse(text, &read)) {
      *error = refusal(variable);
      return false;
    }
    const int file = name == "LINKSIM_TRACE" ? 0 : 1;
    if ((name == "LINKSIM_BURST" && !burstFits(lookup, read, error)) ||
        (name == "LINKSIM_DROP" && !dropFits(read.drop, error)) ||
        (variable.type == VariableType::kFile &&
         !rowsFile(variable.name, text, &held[file], error))) {
      return false;
    }
  }
  // The stats rows would land in the trace, and the next run's trace would
  // empty them.
  if (!read.trace.empty() && !read.stats.empty() &&
      sameFile(read.trace.c_str(), read.stats.c_str())) {
    *error = "LINKSIM_TRACE and LINKSIM_STATS must name two files (" +
             read.trace + " and " + read.stats + " are one)";
    return false;
  }
  *settings = read;
  return true;
}

void warnUnread(const char* name, unsigned reads, const Settings& settings) {
  reads = readsWith(reads, settings);
  for (const std::string& key : variables().names()) {
    const char* own = programVariable();
    if (own != nullptr && key == own) continue;
    const Variable* variable = findVariable(key.c_str());
    if (variable == nullptr) {
      std::fprintf(stderr,
                   "linksim: warning: %s is ignored: no protocol reads it\n",
                   key.c_str());
    } else if (variable->readBy == kChoosesProtocol) {
      // linksim-arq's, read in its programVariable: any other program is
      // one protocol, its own.
      std::fprintf(stderr,
                   "linksim: warning: %s is ignored: only linksim-arq reads "
                   "it\n",
                   key.c_str());
    } else if (!kit::reads(*variable, reads)) {
      std::fprintf(stderr,
                   "linksim: warning: %s is ignored: %s does not read it\n",
                   key.c_str(), name);
    }
  }
}

bool startSettings(const char* name, unsigned reads, Settings* settings,
                   std::string* error) {
  // A reader of the trace, the stats or standard output that leaves must
  // not end the program without a word: with SIGPIPE ignored the write
  // fails, and is said, as any lost output is. A handler the program was
  // started with, or its parent's choice to ignore it, is kept.
  struct sigaction action {};
  if (sigaction(SIGPIPE, nullptr, &action) == 0 &&
      action.sa_handler == SIG_DFL) {
    std::signal(SIGPIPE, SIG_IGN);
  }
  if (!readSettings(reads, settings, error)) return false;
  warnUnread(name, reads, *settings);
  return true;
}

void rereadSettings(unsigned reads, Settings* settings) {
  std::string error;
  if (!readSettings(reads, settings, &error)) {
    std::fprintf(stderr,
                 "linksim: warning: %s: this run keeps the values of the "
                 "run before\n",
                 error.c_str());
  }
}

}  // namespace kit
