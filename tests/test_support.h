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

#endif  // LINKSIM_TESTS_TEST_SUPPORT_H_
