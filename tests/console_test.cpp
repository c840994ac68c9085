// The whole command loop in process, where standard output fails part-way
// through a session: a case the golden sessions, whose output always works,
// cannot show.

#include "console/console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio_ext.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "test_support.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

constexpr const char* kStartUp =
    "Starting Tarvex.......................\n"
    "Getting Ready..........................................\n"
    "Displaying command line................................\n";
constexpr const char* kPrompt = "Tarvex Command Line>>";
constexpr const char* kPause = "Press any key to return to menu\n";
constexpr const char* kShutDown =
    "Shutting down Tarvex...........\n"
    "Returning to OS.................................\n";

const std::string kLoad = "load " LINKSIM_EXAMPLES "/link.txt\n";

void noClear() {}

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest() { setClearScreenHook(noClear); }
  ~ConsoleTest() override { setClearScreenHook(nullptr); }

  /// Runs the loop; its output goes to output_ and errors_.
  int run() {
    CaptureStdout();
    CaptureStderr();
    const int result = runConsole();
    output_ = GetCapturedStdout();
    errors_ = GetCapturedStderr();
    return result;
  }

  std::string output_;
  std::string errors_;
};

// Output that fails while the settings are shown: nothing more is read or
// written, not even the key the summary would have waited for.
TEST_F(ConsoleTest, FailedWriteEndsTheSessionAtOnce) {
  const std::string before = std::string(kStartUp) + kPrompt +
                             "Settings loaded successfully\n" + kPause +
                             kPrompt + "Verifying";
  ScopedStdin in(kLoad + "\nrun\nkexit\n");
  ScopedTempDir dir;
  const std::string path = dir.writeFile("stdout", "");
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int file = open(path.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_LE(0, file);
  dup2(file, STDOUT_FILENO);
  close(file);
  // Writes past the limit fail with EFBIG instead of raising SIGXFSZ.
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  const rlimit small{before.size(), limit.rlim_max};
  const auto handler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  CaptureStderr();
  const int result = runConsole();
  errors_ = GetCapturedStderr();
  setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, handler);
  __fpurge(stdout);
  std::clearerr(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);

  EXPECT_EQ(1, result);
  EXPECT_EQ("linksim: write error: File too large\n", errors_);
  std::ifstream written(path, std::ios::binary);
  EXPECT_EQ(before, std::string(std::istreambuf_iterator<char>(written), {}));
  EXPECT_EQ('k', std::getchar());
}

}  // namespace
