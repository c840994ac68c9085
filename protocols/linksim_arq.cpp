// linksim-arq's node hooks: every shipped protocol in one program, the one
// LINKSIM_ARQ names chosen as the program starts (the first of
// protocols/protocol_list.h, stop-and-wait, when it is unset). Each
// protocol's file gives its hooks as a kit::Protocol; only the chosen one
// is made, so a run writes byte for byte what that protocol's program of
// its own writes. Any other name is refused as a bad variable is: the
// program's entry says so on standard error, before it writes a line, and
// ends with status 2.

#include <cstring>
#include <string>

#include "kit/environment.h"
#include "kit/hooks.h"
#include "kit/variables.h"
#include "shipped_protocols.h"
#include "simulator/Node.h"

namespace {

const kit::Protocol* chosen = nullptr;

}  // namespace

bool Node::startProtocol(std::string* error) {
  kit::programVariable() = kit::kArqVariable;
  const char* name = kit::variables().get(kit::kArqVariable);
  if (name == nullptr) name = protocols::kShipped[0]->name;
  for (const kit::Protocol* protocol : protocols::kShipped) {
    if (std::strcmp(name, protocol->name) == 0) {
      chosen = protocol;
      return protocol->start(error);
    }
  }
  *error = kit::refusal(*kit::findVariable(kit::kArqVariable));
  return false;
}

int Node::generatePackets() { return chosen->generatePackets(*this); }

int Node::sendPackets() { return chosen->sendPackets(*this); }

/// The table of variables as JSON (kit::variablesJson), its readers
/// linksim-arq's protocols: for the lab's page, which builds its controls
/// from it. The text lives as long as the program.
extern "C" const char* linksim_variables_json() {
  static const std::string json = [] {
    kit::Reader
        readers[sizeof protocols::kShipped / sizeof protocols::kShipped[0]];
    std::size_t count = 0;
    for (const kit::Protocol* protocol : protocols::kShipped) {
      readers[count++] = kit::Reader{protocol->name, protocol->reads};
    }
    return kit::variablesJson(readers, count);
  }();
  return json.c_str();
}
