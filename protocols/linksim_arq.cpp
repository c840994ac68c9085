// linksim-arq's node hooks: every shipped protocol in one program, the one
// LINKSIM_ARQ names chosen once at start (stop-and-wait when it is unset).
// Each protocol's file, built with LINKSIM_ARQ defined, gives its hooks as a
// kit::Protocol instead of defining the node hooks itself; only the chosen
// one is made, so a run writes byte for byte what that protocol's program of
// its own writes. Any other name ends the program before it writes a line,
// with one line on standard error and status 2, as a bad variable does.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kit/environment.h"
#include "kit/hooks.h"
#include "simulator/Node.h"

extern const kit::Protocol kStopAndWait;
extern const kit::Protocol kGoBackN;
extern const kit::Protocol kSelectiveRepeat;
extern const kit::Protocol kSlidingWindow;

namespace {

const kit::Protocol* const kProtocols[] = {&kStopAndWait, &kGoBackN,
                                           &kSelectiveRepeat, &kSlidingWindow};

/// The protocol LINKSIM_ARQ names, made; a name of none ends the program.
const kit::Protocol& choose() {
  kit::programVariable() = kit::kArqVariable;
  const char* name = std::getenv(kit::kArqVariable);
  if (name == nullptr) name = kProtocols[0]->name;
  std::string names;
  for (const kit::Protocol* protocol : kProtocols) {
    if (std::strcmp(name, protocol->name) == 0) {
      protocol->make();
      return *protocol;
    }
    names += names.empty() ? "" : ", ";
    names += protocol->name;
  }
  std::fprintf(stderr, "linksim: LINKSIM_ARQ must be one of %s\n",
               names.c_str());
  std::exit(kit::kRefusedStatus);
}

const kit::Protocol& chosen = choose();

}  // namespace

int Node::generatePackets() { return chosen.generatePackets(*this); }

int Node::sendPackets() { return chosen.sendPackets(*this); }
