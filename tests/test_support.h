#ifndef LINKSIM_TESTS_TEST_SUPPORT_H_
#define LINKSIM_TESTS_TEST_SUPPORT_H_

// Helpers shared by all tests: a scoped temporary directory, files written
// into it, standard input fed from text, and the real binary run on a script.

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

/// A fresh directory, removed with everything in it when the object dies.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    char pattern[] = "/tmp/linksim_test.XXXXXX";
    const char* made = mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~ScopedTempDir() {
    if (!path_.empty()) {
      const std::string command = "rm -rf '" + path_ + "'";
      if (std::system(command.c_str()) != 0) {
      }
    }
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }

  /// Writes `content` to `name` in the directory; returns the file's path.
  std::string writeFile(const std::string& name,
                        const std::string& content) const {
    const std::string file = path_ + "/" + name;
    std::ofstream out(file, std::ios::binary);
    out << content;
    return file;
  }

 private:
  std::string path_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

/// Feeds standard input of this process from `text` while in scope.
class ScopedStdin {
 public:
  explicit ScopedStdin(const std::string& text) {
    const std::string file = dir_.writeFile("stdin", text);
    saved_ = dup(0);
    const int fd = open(file.c_str(), O_RDONLY);
    dup2(fd, 0);
    close(fd);
    reset();
  }
  ~ScopedStdin() {
    dup2(saved_, 0);
    close(saved_);
    reset();
  }
  ScopedStdin(const ScopedStdin&) = delete;
  ScopedStdin& operator=(const ScopedStdin&) = delete;

 private:
  // Drops what stdin had buffered from the other descriptor.
  static void reset() {
    __fpurge(stdin);
    std::clearerr(stdin);
  }
  ScopedTempDir dir_;
  int saved_ = -1;
};

/// The result of one run of the real binary.
struct Transcript {
  std::string output;  // standard output, byte for byte
  int status = -1;     // exit status, or -1 when it did not exit normally
};

/// What verification of examples/link.txt writes, up to its key press.
constexpr const char* kExampleSummary =
    "Verifying simulation settings.......\n"
    "Following are the settings for this simulation:\n"
    "Propagation Delay   : 5.000000\n"
    "Processing Delay    : 1.000000\n"
    "Bit Rate            : 100.000000\n"
    "Data Packet Size    : 800.000000\n"
    "Data Packet Overhead: 64.000000\n"
    "ACK Size            : 128.000000\n"
    "Simulation Duration : 500.000000\n"
    "Data Packet Rate    : 2.000000\n"
    "\n"
    "Press any key to continue...";

/// The marker the stub "clear" prints in place of clearing the screen.
constexpr const char* kClear = "[clear]";

/// Runs linksim in `dir` with `input` as standard input and a stub "clear"
/// first on PATH. Settings files written into `dir` load by their bare name.
/// LINKSIM_WRAPPER, when set, is put in front of the binary, so the same
/// sessions can run under a checker such as valgrind.
inline Transcript runLinksim(const ScopedTempDir& dir,
                             const std::string& input) {
  const char* wrapper = std::getenv("LINKSIM_WRAPPER");
  const std::string bin = dir.path() + "/bin";
  const std::string mkdir = "mkdir -p '" + bin + "'";
  if (std::system(mkdir.c_str()) != 0) return {};
  const std::string clear = dir.writeFile(
      "bin/clear", std::string("#!/bin/sh\nprintf '%s' '") + kClear + "'\n");
  chmod(clear.c_str(), 0755);
  dir.writeFile("input", input);
  const std::string command = "cd '" + dir.path() + "' && PATH='" + bin +
                              "':\"$PATH\" " + (wrapper ? wrapper : "") +
                              " '" LINKSIM_BINARY "' < input > output";
  const int raw = std::system(command.c_str());
  Transcript transcript;
  transcript.output = readFile(dir.path() + "/output");
  transcript.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return transcript;
}

#endif  // LINKSIM_TESTS_TEST_SUPPORT_H_
