// linksim-arq's entry. With no argument it is the console, as linksim's
// entry is; with one, the settings file to run once, without the console
// (runSettingsFile). linksim's own entry, main.cpp, reads no argument. Either
// starts its protocol first, which may refuse the variables.

#include <unistd.h>

#include <cstdio>
#include <string>

#include "console/console.h"
#include "simulator/Node.h"

int main(int argc, char** argv) {
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
    std::fputs("usage: linksim-arq [SETTINGS_FILE]\n", stderr);
    return kBatchUsage;
  }
  return runSettingsFile(argv[1]);
}
