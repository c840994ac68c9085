// The node hooks of a program that holds one shipped protocol alone, the one
// whose file LINKSIM_ALONE names (go_back_n for protocols/go_back_n.cpp):
// linksim built with -DLINKSIM_PROTOCOL=protocols/go_back_n.cpp, or with the
// protocol's preset. The build defines LINKSIM_ALONE; the protocol's file is
// the same one linksim-arq holds, and starts as the program does.

#include <string>

#include "kit/hooks.h"
#include "simulator/Node.h"

namespace protocols {
extern const kit::Protocol LINKSIM_ALONE;
}  // namespace protocols

namespace {
const kit::Protocol& alone = protocols::LINKSIM_ALONE;
}  // namespace

bool Node::startProtocol(std::string* error) { return alone.start(error); }

int Node::generatePackets() { return alone.generatePackets(*this); }

int Node::sendPackets() { return alone.sendPackets(*this); }
