// The whole command loop in process, where standard input or output fails
// part-way through a session: cases the golden sessions, whose input and
// output always work, cannot show.

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

/// Standard input from a pipe that holds `input` and stays open but has
/// nothing more to give: a read past `input` fails (EAGAIN) instead of
/// waiting or meeting the end.
class FailingStdin {
 public:
  explicit FailingStdin(const std::string& input)
      : in_(readEndHolding(input, &writeEnd_)) {}
  ~FailingStdin() { close(writeEnd_); }
  FailingStdin(const FailingStdin&) = delete;
  FailingStdin& operator=(const FailingStdin&) = delete;

 private:
  /// The read end of a new non-blocking pipe holding `input`; its write end,
  /// kept open, goes to `*writeEnd`.
  static int readEndHolding(const std::string& input, int* writeEnd) {
    int fds[2] = {-1, -1};
    if (pipe2(fds, O_NONBLOCK) != 0) {
      ADD_FAILURE() << "no pipe";
      return -1;
    }
    *writeEnd = fds[1];
    if (write(fds[1], input.data(), input.size()) !=
        static_cast<ssize_t>(input.size())) {
      ADD_FAILURE() << "pipe too small for the input";
    }
    return fds[0];
  }

  int writeEnd_ = -1;  // first: in_'s initialiser sets it
  StdinFrom in_;
};

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

// A failed read anywhere ends the input there as its end would: the pause or
// the question reads as answered, and the next prompt ends the session.
TEST_F(ConsoleTest, FailedReadEndsTheSessionAsTheEndOfInputDoes) {
  const std::string ending = std::string(kPrompt) + "\n";
  const std::string removing = "Removing active settings....................\n";
  const std::string loaded = "Settings loaded successfully\n" +
                             std::string(kPause) + ending + removing;
  const struct {
    std::string input;
    std::string tail;  // of the output, up to the shutdown lines
  } cases[] = {
      // At the pause.
      {"help\n", kPrompt + std::string(kPause) + ending},
      // At the reload question: the load goes on.
      {kLoad + "\n" + kLoad, "continue(Y/N): " + loaded},
      // At the summary's key: the run goes on.
      {kLoad + "\nrun\n", "Simulation completed successfully\n" +
                              std::string(kPause) + ending + removing},
      // Inside a command line: what was read of it is dropped, not run.
      {"exi", kStartUp + ending},
  };
  for (const auto& c : cases) {
    FailingStdin in(c.input);
    EXPECT_EQ(1, run()) << c.input;
    const std::string tail = c.tail + kShutDown;
    EXPECT_EQ(0u, output_.find(kStartUp)) << c.input;
    ASSERT_GE(output_.size(), tail.size()) << c.input;
    EXPECT_EQ(tail, output_.substr(output_.size() - tail.size())) << c.input;
    EXPECT_EQ("linksim: read error: Resource temporarily unavailable\n",
              errors_)
        << c.input;
  }
}

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
