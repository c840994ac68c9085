// linksim-arq's entry. With no argument it is the console, as linksim's
// entry is; with one, the settings file to run once, without the console
// (runSettingsFile). linksim's own entry, main.cpp, reads no argument. Either
// starts its protocol first, which may refuse the variables.

#include <cstdio>
#include <string>

#include "console/console.h"
#include "simulator/Node.h"

int main(int argc, char** argv) {
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
