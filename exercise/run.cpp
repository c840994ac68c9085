#include "run.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

// POSIX: the process's variables, NAME=value (see kit/environment.cpp).
// NOLINTNEXTLINE(readability-redundant-declaration)
extern "C" char** environ;

namespace exercise {

namespace {

/// A directory of this process's own under $TMPDIR (or /tmp), removed with
/// everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
        "/linksim-exercise.XXXXXX";
    if (mkdtemp(&pattern[0]) != nullptr) path = pattern;
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir() { remove(); }

  /// Removes the directory and its files, at most once.
  void remove() {
    if (path.empty()) return;
    if (DIR* dir = opendir(path.c_str())) {
      while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 &&
            std::strcmp(entry->d_name, "..") != 0) {
          unlink((path + "/" + entry->d_name).c_str());
        }
      }
      closedir(dir);
    }
    rmdir(path.c_str());
    path.clear();
  }

  std::string path;  // empty where none could be made
};

bool writeFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return false;
  const bool written =
      std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

bool readFile(const std::string& path, std::string* text) {
  text->clear();
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return errno == ENOENT;
  char buffer[1 << 16];
  std::size_t read = 0;
  while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text->append(buffer, read);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed;
}

/// The signals that end the command: held back while a run is under way,
/// so that the run and its directory go first.
void endingSignals(sigset_t* set) {
  sigemptyset(set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    sigaddset(set, signal);
  }
}

/// `program` as a path that still names it from the run's directory: a
/// name without a slash found on PATH, as a shell finds it, and a
/// relative path taken from the current directory.
std::string absoluteProgram(const std::string& program) {
  if (program.empty() || program[0] == '/') return program;
  if (program.find('/') == std::string::npos) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
      const std::size_t colon = dirs.find(':', start);
      std::string dir = dirs.substr(start, colon - start);
      if (dir.empty()) dir = ".";
      std::string candidate = dir;
      candidate += '/';
      candidate += program;
      if (access(candidate.c_str(), X_OK) == 0) {
        return absoluteProgram(candidate);
      }
      if (colon == std::string::npos) return program;
      start = colon + 1;
    }
  }
  char here[4096];
  if (getcwd(here, sizeof here) == nullptr) return program;
  return std::string(here) + "/" + program;
}

/// The first line of `text`, or `otherwise` where it has none.
std::string firstLine(const std::string& text, const char* otherwise) {
  const std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? otherwise : line;
}

}  // namespace

std::string arqProgram(const char* argv0) {
  const char* named = std::getenv("LINKSIM_ARQ_PROGRAM");
  if (named != nullptr && *named != '\0') return named;
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string program =
      length > 0 ? std::string(self, static_cast<std::size_t>(length))
                 : std::string(argv0 != nullptr ? argv0 : "");
  const std::size_t slash = program.rfind('/');
  return (slash == std::string::npos ? std::string(".")
                                     : program.substr(0, slash)) +
         "/linksim-arq";
}

int runArq(const std::string& program, const std::string& settings,
           const std::vector<std::pair<std::string, std::string>>& variables,
           RunOutputs* outputs, std::string* error) {
  *outputs = RunOutputs();
  sigset_t held;
  endingSignals(&held);
  sigaddset(&held, SIGCHLD);
  sigset_t before;
  sigprocmask(SIG_BLOCK, &held, &before);
  struct Unblock {
    sigset_t* mask;
    ~Unblock() { sigprocmask(SIG_SETMASK, mask, nullptr); }
  } unblock{&before};

  ScratchDir dir;
  if (dir.path.empty()) {
    *error = std::string("cannot make a temporary directory: ") +
             std::strerror(errno);
    return kRunFailed;
  }
  if (!writeFile(dir.path + "/link.txt", settings)) {
    *error = "cannot write in " + dir.path + ": " + std::strerror(errno);
    return kRunFailed;
  }
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "LINKSIM_", 8) != 0) environment.push_back(*entry);
  }
  for (const auto& variable : variables) {
    environment.push_back(variable.first + "=" + variable.second);
  }
  environment.push_back("LINKSIM_TRACE=" + dir.path + "/trace.csv");
  environment.push_back("LINKSIM_STATS=" + dir.path + "/stats.csv");
  std::vector<char*> envp(environment.size() + 1, nullptr);
  for (std::size_t i = 0; i < environment.size(); ++i) {
    envp[i] = &environment[i][0];
  }
  // The child runs in the run's directory, where a relative path would
  // name nothing.
  std::string name = absoluteProgram(program);
  const std::string outputPath = dir.path + "/output";
  const std::string errorsPath = dir.path + "/errors";

  const pid_t child = fork();
  if (child < 0) {
    *error = std::string("cannot start linksim-arq: ") + std::strerror(errno);
    return kRunFailed;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here to the exec.
    signal(SIGPIPE, SIG_DFL);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    const rlimit size{static_cast<rlim_t>(kRunFileBytes),
                      static_cast<rlim_t>(kRunFileBytes)};
    setrlimit(RLIMIT_FSIZE, &size);
    const int in = open("/dev/null", O_RDONLY);
    const int out =
        open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err =
        open(errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
        dup2(err, 2) < 0 || chdir(dir.path.c_str()) != 0) {
      _exit(126);
    }
    char settingsFile[] = "link.txt";
    char* argv[] = {&name[0], settingsFile, nullptr};
    execve(argv[0], argv, envp.data());
    const char* why = std::strerror(errno);
    if (write(2, "exec: ", 6) < 0 || write(2, why, std::strlen(why)) < 0) {
    }
    _exit(127);
  }

  // Wait for the child, the time limit or a signal that ends the command,
  // whichever comes first.
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  int status = 0;
  int ending = 0;
  bool late = false;
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double left = kRunSeconds -
                        static_cast<double>(now.tv_sec - start.tv_sec) -
                        static_cast<double>(now.tv_nsec - start.tv_nsec) * 1e-9;
    if (left <= 0.0 || ending != 0) {
      late = ending == 0;
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    const timespec wait{
        static_cast<time_t>(left),
        static_cast<long>(
            (left - static_cast<double>(static_cast<time_t>(left))) * 1e9)};
    const int signal = sigtimedwait(&held, nullptr, &wait);
    if (signal > 0 && signal != SIGCHLD) ending = signal;
  }
  if (ending != 0) {
    // The run and its directory are gone: end as the signal would have.
    dir.remove();
    signal(ending, SIG_DFL);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    raise(ending);
  }

  std::string errors;
  if (!readFile(outputPath, &outputs->output) ||
      !readFile(errorsPath, &errors) ||
      !readFile(dir.path + "/trace.csv", &outputs->trace) ||
      !readFile(dir.path + "/stats.csv", &outputs->stats)) {
    *error = "cannot read what linksim-arq wrote in " + dir.path + ": " +
             std::strerror(errno);
    return kRunFailed;
  }
  if (late) {
    *error = "linksim-arq ran for more than " + std::to_string(kRunSeconds) +
             " s, and was stopped";
    return kRunFailed;
  }
  if (WIFSIGNALED(status)) {
    *error = "linksim-arq was ended by signal " +
             std::to_string(WTERMSIG(status)) +
             (WTERMSIG(status) == SIGXFSZ ? " (a file grew too large)" : "");
    return kRunFailed;
  }
  const int code = WEXITSTATUS(status);
  // 127: the exec failed, its reason after "exec: "; 126: the child could
  // not set up its files. A program's own 126 or 127 may say anything.
  if (code == 126 || code == 127) {
    const std::size_t said = errors.compare(0, 6, "exec: ") == 0 ? 6 : 0;
    *error = "cannot run " + program + ": " +
             firstLine(errors.substr(said), "it could not be started");
    return kRunFailed;
  }
  if (code == 2) {
    *error = firstLine(errors, "linksim-arq refused the scenario");
    return kRunRefused;
  }
  // A variable linksim-arq does not read would leave the run another
  // experiment than the exercise's, and every answer wrong.
  const std::size_t ignored = errors.find(" is ignored: ");
  if (ignored != std::string::npos) {
    const std::size_t line = errors.rfind('\n', ignored);
    *error =
        firstLine(errors.substr(line == std::string::npos ? 0 : line + 1), "");
    return kRunRefused;
  }
  // 3: the settings file refused, or a setting rejected, said on
  // standard error.
  if (code != 0 || outputs->output.find("summary: ") == std::string::npos) {
    *error = "linksim-arq's run failed (status " + std::to_string(code) +
             "): " + firstLine(errors, "it wrote no summary");
    return kRunFailed;
  }
  return kRan;
}

}  // namespace exercise
