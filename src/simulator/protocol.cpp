// The node's protocol hooks. This is where a protocol author creates packets
// and puts them into outgoingQueue with the key kByReadyToSendTime; the run
// loop then delivers them to the other node's incomingQueue when they are due.
// The run loop calls source.generatePackets(), source.sendPackets() and
// sink.sendPackets() once per tick, in that order; results are ignored.

#include "simulator/Node.h"

int Node::generatePackets() { return 1; }

int Node::sendPackets() { return 1; }
