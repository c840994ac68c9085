#include <cstdio>
#include <string>

#include "console/console.h"
#include "simulator/Node.h"

int main(int /*argc*/, char** /*argv*/) {
  std::string error;
  if (!Node::startProtocol(&error)) {
    std::fprintf(stderr, "linksim: %s\n", error.c_str());
    return kProtocolRefused;
  }
  return runConsole();
}
