// The node hooks of a program that holds one shipped protocol alone, the one
// whose file LINKSIM_ALONE names (go_back_n for protocols/go_back_n.cpp):
// linksim built with -DLINKSIM_PROTOCOL=protocols/go_back_n.cpp, or with the
// protocol's preset. The build defines LINKSIM_ALONE; the protocol's file is
// the same one linksim-arq holds, and starts as the program does.

#include <string>

#include "simulator/Node.h"

// The protocol's hooks, which its file defines (LINKSIM_SHIPPED_PROTOCOL).
namespace protocols::LINKSIM_ALONE {
bool start(std::string* error);
int generatePackets(Node& node);
int sendPackets(Node& node);
}  // namespace protocols::LINKSIM_ALONE

bool Node::startProtocol(std::string* error) {
  return protocols::LINKSIM_ALONE::start(error);
}

int Node::generatePackets() {
  return protocols::LINKSIM_ALONE::generatePackets(*this);
}

int Node::sendPackets() { return protocols::LINKSIM_ALONE::sendPackets(*this); }
