// Console: an arbitrary byte stream as standard input to the whole command
// loop (runConsole), in process, with a settings file "s" whose text the
// fuzzer also chooses.
//
// Input layout (FuzzedDataProvider): the last byte picks the simulation
// duration, then a backslash-terminated string is the settings file, and the
// rest is standard input.
//
// Properties: the loop ends (a hang is a libFuzzer timeout) and returns 0,
// its output is bounded by the input and ends with the shutdown lines, and
// nothing leaks (LeakSanitizer checks after every input).
//
// The settings file always ends with a duration line the harness chooses:
// any duration below 2^53 is one the clock reaches, but a large one takes
// hours, which tells nothing. Standard input and output are memory files, so
// the program cannot load its own input by a name the fuzzer could guess;
// the names /dev/stdin and /proc/self/fd/0 still reach it. An endless device
// is refused after 2^20 lines, which for /dev/urandom takes a while, or at
// its first line longer than 65,535 characters, which for /dev/zero is at
// once.

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdio_ext.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console/console.h"
#include "fuzz_support.h"
#include "model/Time.h"

namespace {

std::string durationText(uint8_t choice) {
  switch (choice) {
    case 250:
      return "nan";
    case 251:
      return "inf";
    case 252:
      return "-inf";
    case 253:
      return "1e300";
    case 254:
      return "9007199254740994";  // just above 2^53: refused
    case 255:
      return "-0";
    default:
      return std::to_string(choice % 64) + (choice >= 128 ? ".5" : "");
  }
}

int memoryFile(const char* name) {
  const int fd = memfd_create(name, 0);
  FUZZ_CHECK(fd >= 0);
  return fd;
}

void replaceContent(int fd, const void* data, size_t size) {
  FUZZ_CHECK(ftruncate(fd, 0) == 0);
  FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
  if (size > 0) {
    FUZZ_CHECK(write(fd, data, size) == static_cast<ssize_t>(size));
  }
  FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0);
}

// The clear hook: the loop itself is unchanged, only no shell is started.
void noClear() {}

int stdinFile = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  FUZZ_CHECK(chdir(scratchDir().c_str()) == 0);
  setClearScreenHook(noClear);
  stdinFile = memoryFile("linksim_stdin");
  const int out = memoryFile("linksim_stdout");
  FUZZ_CHECK(dup2(out, STDOUT_FILENO) == STDOUT_FILENO);
  close(out);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const uint8_t duration = provider.ConsumeIntegral<uint8_t>();
  const std::string settings = provider.ConsumeRandomLengthString(4096);
  const std::vector<uint8_t> input = provider.ConsumeRemainingBytes<uint8_t>();

  writeFile(
      "s", settings + "\nSimulation Duration " + durationText(duration) + "\n");

  replaceContent(stdinFile, input.data(), input.size());
  FUZZ_CHECK(dup2(stdinFile, STDIN_FILENO) == STDIN_FILENO);
  FUZZ_CHECK(lseek(STDIN_FILENO, 0, SEEK_SET) == 0);
  __fpurge(stdin);
  std::clearerr(stdin);

  std::fflush(stdout);
  replaceContent(STDOUT_FILENO, nullptr, 0);

  // The process-wide state a new program would start with.
  resetLinkParameters(0.0);
  Time::nanoseconds = 0.0;

  FUZZ_CHECK(runConsole() == 0);

  std::fflush(stdout);
  struct stat written {};
  FUZZ_CHECK(fstat(STDOUT_FILENO, &written) == 0);
  // A few hundred bytes per input byte at most (the settings summary for
  // "run" and a key is the longest reply), plus the start-up lines.
  FUZZ_CHECK(written.st_size <= 1024 + 256 * static_cast<off_t>(input.size()));
  static const char kLastLine[] =
      "Returning to OS.................................\n";
  const size_t tail = sizeof kLastLine - 1;
  FUZZ_CHECK(static_cast<size_t>(written.st_size) >= tail);
  char end[sizeof kLastLine] = {};
  FUZZ_CHECK(pread(STDOUT_FILENO, end, tail, written.st_size - tail) ==
             static_cast<ssize_t>(tail));
  FUZZ_CHECK(std::memcmp(end, kLastLine, tail) == 0);
  return 0;
}
