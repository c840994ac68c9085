// A first protocol: the source sends a data packet on every tick, and the
// sink counts the packets that arrive and writes the count when the run ends.
// linksim is built with it by cmake -DLINKSIM_PROTOCOL=PATH_OF_THIS_FILE;
// docs/protocols.md, "Writing a protocol", explains every step.

#include <cstdio>

#include "model/Packet.h"
#include "model/Time.h"
#include "protocol_kit.h"
#include "simulator/Node.h"
#include "simulator/Simulator.h"

namespace {

PacketStore store;      // owns every packet: queues only point at them
long long arrived = 0;  // packets the sink has taken in during this run

/// Takes every packet out of `queue` and gives it back to the store.
void releaseAll(PacketQueue& queue) {
  while (queue.getLength() > 0) {
    store.release(
        queue.dequeuePacket(queue.getLength() - 1, kByReadyToSendTime));
  }
}

/// Called once at the end of every run. What the last tick delivered is
/// still in the sink's incoming queue: no hook has seen it.
void report() {
  const Node& sink = Simulator::running()->sink;
  std::printf("%lld packets arrived\n",
              arrived + sink.incomingQueue.getLength());
}

const bool reportsAtRunEnd = Simulator::atRunEnd(&report);

}  // namespace

// Called on the source, first in every tick.
int Node::generatePackets() {
  const double now = Time::getTime();
  // A run starts at clock 0: what the last run left on the link is dropped.
  if (now == 0.0) releaseAll(outgoingQueue);
  Packet* packet = store.make();
  packet->setSize(getDataPacketSize() + getDataOverhead());
  packet->setReadyToSendTime(now + getProcessingDelay());
  outgoingQueue.enqueuePacket(packet, kByReadyToSendTime);
  return 1;
}

// Called on the source, then on the sink, in every tick.
int Node::sendPackets() {
  if (getType() == kSourceType) return 1;  // it sent in generatePackets
  // A run starts at clock 0: what the last run delivered is not counted.
  if (Time::getTime() == 0.0) {
    releaseAll(incomingQueue);
    arrived = 0;
  }
  arrived += incomingQueue.getLength();
  releaseAll(incomingQueue);
  return 1;
}
