// Hooks that do nothing and never say they are idle, as a protocol written
// without Node::idleUntil: the run loop calls them on every tick, so every
// tick is a real one. Built like the shipped hooks, with link-time
// optimisation, so they inline into the loop.

#include "simulator/Node.h"

int Node::generatePackets() { return 1; }

int Node::sendPackets() { return 1; }
