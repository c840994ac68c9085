#ifndef LINKSIM_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define LINKSIM_TESTS_FUZZ_FUZZ_SUPPORT_H_

// Helpers shared by the fuzz targets: a property check that aborts (so
// libFuzzer keeps the input), a private scratch directory, and file writing.

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "simulator/Node.h"

/// Aborts with the failed property when `condition` is false.
#define FUZZ_CHECK(condition)                                                  \
  do {                                                                         \
    if (!(condition)) {                                                        \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, \
                   #condition);                                                \
      std::abort();                                                            \
    }                                                                          \
  } while (false)

/// A directory of this process under $TMPDIR (or /tmp), created on first
/// use and removed at a normal exit.
inline const std::string& scratchDir() {
  static const std::string dir = [] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr ? base : "/tmp") + "/linksim_fuzz.XXXXXX";
    const char* made = mkdtemp(&pattern[0]);
    FUZZ_CHECK(made != nullptr);
    std::string path = made;
    static std::string removeCommand = "rm -rf '" + path + "'";
    std::atexit([] {
      if (std::system(removeCommand.c_str()) != 0) {
      }
    });
    return path;
  }();
  return dir;
}

inline void writeFile(const std::string& path, const std::string& content) {
  FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(content.data(), 1, content.size(), file) ==
             content.size());
  FUZZ_CHECK(std::fclose(file) == 0);
}

/// Equal as stored values: the same number, or both NaN.
inline bool sameValue(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

/// Puts the shared link parameters back to `value`, so that every input
/// starts from the same state.
inline void resetLinkParameters(double value) {
  Node::setDataPacketSize(value);
  Node::setDataOverhead(value);
  Node::setACKSize(value);
  Node::setProcessingDelay(value);
  Node::setPacketRate(value);
}

#endif  // LINKSIM_TESTS_FUZZ_FUZZ_SUPPORT_H_
