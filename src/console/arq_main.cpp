// linksim-arq's entry. With no argument it is the console, as linksim's
// entry is; with one, the settings file to run once, without the console
// (runSettingsFile), or --help. linksim's own entry, main.cpp, reads no
// argument. Either starts its protocol first, which may refuse the variables.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "console/console.h"
#include "kit/variables.h"
#include "simulator/Node.h"

namespace {

constexpr const char* kUsage = "usage: linksim-arq [SETTINGS_FILE]\n";

/// Writes the usage and the variables, from their table, on standard output:
/// kBatchDone, or kBatchOutputLost when it could not be written, said.
int help() {
  std::fputs(kUsage, stdout);
  std::fputs(
      "Runs an ARQ protocol over a simulated data link that may lose frames.\n"
      "Given SETTINGS_FILE, it runs it once and exits, writing the run's\n"
      "acknowledged lines and its summary; with none, it is linksim's console\n"
      "(load FILE, run, exit). The environment sets the protocol and the\n"
      "channel:\n",
      stdout);
  std::fputs(kit::variablesHelp().c_str(), stdout);
  std::fputs(
      "Exit status: 0 the run ran, 1 output lost, 2 a variable refused or a\n"
      "bad command line, 3 the settings file cannot be loaded or is rejected.\n"
      "The variables, the summary, the stats, the trace: man linksim-arq.\n",
      stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::perror("linksim: write error");
    return kBatchOutputLost;
  }
  return kBatchDone;
}

}  // namespace

int main(int argc, char** argv) {
  // Before the protocol starts: help is given whatever the variables hold.
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 ||
                    std::strcmp(argv[1], "-h") == 0)) {
    return help();
  }
  // Standard output that is no terminal is fully buffered, as C asks and
  // glibc does by itself. Emscripten's libc buffers it by lines whatever it
  // is, and in the lab's page every "acknowledged" line was then a write
  // into JavaScript: two thirds of a long run's time.
  if (isatty(STDOUT_FILENO) == 0) {
    std::setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
  }
  std::string error;
  if (!Node::startProtocol(&error)) {
    std::fprintf(stderr, "linksim: %s\n", error.c_str());
    return kProtocolRefused;
  }
  if (argc <= 1) return runConsole();
  if (argc > 2) {
    std::fputs(kUsage, stderr);
    return kBatchUsage;
  }
  return runSettingsFile(argv[1]);
}
