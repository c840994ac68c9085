// Node::startProtocol for hooks that read nothing of their own, the empty
// hooks among them: it starts nothing. Alone in its file, and so in its
// member of the simulator's library, which the linker takes only for a
// program whose hooks leave it out: hooks that define their own are object
// files, linked whole before any library is searched.

#include <string>

#include "simulator/Node.h"

bool Node::startProtocol(std::string* /*error*/) { return true; }
