// linksim-arq's entry. With no argument it is the console, as linksim's
// entry is; with one, the settings file to run once, without the console
// (runSettingsFile). linksim's own entry, main.cpp, reads no argument.

#include <cstdio>

#include "console/console.h"

int main(int argc, char** argv) {
  if (argc <= 1) return runConsole();
  if (argc > 2) {
    std::fputs("usage: linksim-arq [SETTINGS_FILE]\n", stderr);
    return kBatchUsage;
  }
  return runSettingsFile(argv[1]);
}
