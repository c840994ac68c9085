// The node's protocol hooks. This is where a protocol author creates packets
// and puts them into outgoingQueue with the key kByReadyToSendTime; the run
// loop then delivers them to the other node's incomingQueue when they are due.
// The run loop calls source.generatePackets(), source.sendPackets() and
// sink.sendPackets() in that order in every tick in which they are awake;
// results are ignored.
//
// These hooks do nothing, and say so: with nothing to do until a packet
// arrives, and none ever does, a run of any length takes no time.

#include "simulator/Node.h"

int Node::generatePackets() {
  idleUntil(kForever);
  return 1;
}

int Node::sendPackets() {
  idleUntil(kForever);
  return 1;
}
