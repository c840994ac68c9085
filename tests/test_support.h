#ifndef LINKSIM_TESTS_TEST_SUPPORT_H_
#define LINKSIM_TESTS_TEST_SUPPORT_H_

// Helpers shared by the unit tests: a scoped temporary directory with files
// written into it, and standard input fed from text.

#include <fcntl.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

/// A fresh directory, removed with everything in it when the object dies.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "linksim_test.XXXXXX")
            .string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScopedTempDir() {
    std::error_code ignored;  // a test must not fail on its clean-up
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
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

/// Makes the open descriptor `fd`, which it takes over, standard input of
/// this process while in scope, dropping what stdin had buffered from the
/// other descriptor on the way in and on the way out.
class StdinFrom {
 public:
  explicit StdinFrom(int fd) : saved_(dup(0)) {
    dup2(fd, 0);
    close(fd);
    reset();
  }
  ~StdinFrom() {
    dup2(saved_, 0);
    close(saved_);
    reset();
  }
  StdinFrom(const StdinFrom&) = delete;
  StdinFrom& operator=(const StdinFrom&) = delete;

 private:
  static void reset() {
    __fpurge(stdin);
    std::clearerr(stdin);
  }
  int saved_;
};

/// Feeds standard input of this process from `text` while in scope.
class ScopedStdin {
 public:
  explicit ScopedStdin(const std::string& text)
      : in_(open(dir_.writeFile("stdin", text).c_str(), O_RDONLY)) {}

 private:
  ScopedTempDir dir_;  // first: in_ reads a file in it
  StdinFrom in_;
};

#endif  // LINKSIM_TESTS_TEST_SUPPORT_H_
