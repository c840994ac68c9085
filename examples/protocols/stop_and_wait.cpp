// Stop-and-wait over the error-free link: a complete protocol for linksim's
// node hooks, built in place of the empty ones with
//   cmake -S . -B build -DLINKSIM_PROTOCOL=examples/protocols/stop_and_wait.cpp
//
// The source creates data packets at the packet rate into its firstQueue and
// keeps one of them on the link at a time; the sink answers each with an ACK;
// the source, reading the ACK, writes "acknowledged packet N at CLOCK" and
// lets the next one go. On the link a data packet weighs data packet size
// plus overhead, an ACK the ACK size. A node sends on what it received after
// the processing delay: ready-to-send time = the clock its hook sees the
// packet at + the processing delay.
//
// Creation. Packet k of a run (sequence number k, from 0) is due at clock
// k / rate; generatePackets creates, in order, every packet that is due while
// firstQueue has room (16 waiting packets). A full backlog postpones creation,
// as a blocked write would, without moving the schedule: a slot freed by a
// send is filled at the next tick by the oldest postponed packet, so a sender
// that has fallen behind never creates more at once than there is room for,
// and no queue grows however long the run.
//
// Timing. P is the processing delay, A the propagation delay, Td = (data size
// + overhead) / bit rate and Ta = ACK size / bit rate. A packet queued by a
// hook at clock c has ready-to-send time c + P and is due at c + P + A + X,
// X its transfer time (Td or Ta).
// The run loop moves it in the first tick t >= c whose clock + 1 reaches that
// (every term is positive, so the due time is past c and t = ceil(due) - 1),
// and the other node's hook sees it one tick later, at
//   c + ceil(P + A + X).
// A data packet sent at c thus reaches the sink at c + Hd, Hd = ceil(P+A+Td);
// the ACK, sent there, reaches the source at c + D with
//   D = Hd + Ha,  Ha = ceil(P + A + Ta),
// and the source sends the next packet in that same tick if it has one.
// Packet k is created at ceil(k / rate) unless the backlog is full, and then
// the source has packets to send anyway; a packet created into an idle link
// leaves in its creation tick. So packet k is sent at
// s(k) = max(ceil(k / rate), s(k-1) + D), s(0) = 0, and since D is a
// whole number this is, by induction,
//   s(k) = max(ceil(k / rate), k * D),
// and ACK k is written at s(k) + D if the run has a tick there: the last tick
// has the last whole clock value below the duration L. Where the link is the
// limit (1 / rate <= D) the ACKs come at D, 2D, ...: ceil(L / D) - 1 of
// them.
//
// The textbook's period is T = Td + Ta + 2A + 2P. Each ceiling adds less than
// one tick, so T <= D < T + 2, and the discrete count lies between the cycles
// of length T + 2 and those of length T that end before L (ceil(L / x) - 1
// for period x). examples/link.txt (P 1, A 5, Td 8.64, Ta 1.28, L 500):
// Hd = ceil(14.64) = 15, Ha = ceil(7.28) = 8, D = 23 against T = 21.92, so
// ACKs at 23, 46, ..., 483: 21 of them, between 20 and 22.
//
// The sums are those of the run loop's floating point: a hop whose sum is
// whole only in decimal (0.1 + 0.2 + ...) may land a hair above the whole
// number and cost a tick. Values binary fractions hold exactly (0.5, 0.25)
// behave as derived, and so does a sum nowhere near whole, such as 14.64.
//
// Idle. Each hook says, before it returns, until when it has nothing to do
// (Node::idleUntil), so the run loop skips the ticks between events: the
// sink until a data packet arrives; the source's sendPackets until its ACK
// arrives, or, with nothing to send, until the next packet is due; its
// generatePackets until the next packet is due, or, with the backlog full,
// until an ACK arrives (it stays awake while an ACK waits, since sendPackets
// frees a slot in that tick, for the next one to fill). Each promise holds
// exactly where the hook would do nothing, so the output is the same as
// without them, at a cost per event instead of per tick.
//
// Ownership. Queues hold pointers only; the protocol owns every packet it
// makes (PacketStore, in protocol_kit.h) and releases each as it takes it out
// of its last queue: the data packet once the sink has answered it, the ACK
// once the source has read it. A run starts at clock 0, and the first hook of
// that tick on each node takes out and releases what an earlier run left in
// that node's queues, so every run starts afresh. Packets left in the queues of
// some other simulator, which may be gone or may run again, are not touched
// until that simulator runs again; whatever is still queued at exit is released
// with the store, when no queue can be read any more.

#include <cstdio>

#include "model/Packet.h"
#include "model/Time.h"
#include "protocol_kit.h"
#include "simulator/Node.h"

namespace {

/// The protocol's state for the current run, and the store behind it.
class StopAndWait {
 public:
  /// The source's generatePackets: creates the packets that are due.
  void generate(Node& source);
  /// The source's sendPackets: reads ACKs, then sends if the link is free.
  void sendFromSource(Node& source);
  /// The sink's sendPackets: answers every data packet that arrived.
  void answerAtSink(Node& sink);

 private:
  PacketStore store;
  long long created = 0;  // this run's packets so far
  bool awaitingAck = false;
  int outstanding = 0;  // the sequence number on the link
};

void StopAndWait::generate(Node& source) {
  if (kit::runStarts()) {
    kit::releaseAll(store, source);
    created = 0;
    awaitingAck = false;
  }
  kit::createDuePackets(store, source, created);
  if (source.firstQueue.getLength() < kit::kBacklogLimit) {
    source.idleUntil(kit::nextDue(created));
  } else if (awaitingAck && source.incomingQueue.getLength() == 0) {
    // Full, and sendPackets frees no slot before an ACK arrives. Otherwise
    // it may free one in this tick, to be filled in the next.
    source.idleUntil(kForever);
  }
}

void StopAndWait::sendFromSource(Node& source) {
  const double now = Time::getTime();
  PacketQueue& incoming = source.incomingQueue;
  while (incoming.getLength() > 0) {
    Packet* ack =
        incoming.dequeuePacket(incoming.getLeastIndex(), kByReadyToSendTime);
    if (awaitingAck && ack->getType() == kit::kAckPacket &&
        ack->getSequenceNumber() == outstanding) {
      std::printf("acknowledged packet %d at %f\n", outstanding, now);
      awaitingAck = false;
    }
    store.release(ack);
  }
  PacketQueue& backlog = source.firstQueue;
  if (awaitingAck) {
    source.idleUntil(kForever);  // until the ACK arrives
    return;
  }
  if (backlog.getLength() == 0) {
    // generatePackets, called first in each tick, fills it then.
    source.idleUntil(kit::nextDue(created));
    return;
  }
  // The oldest first: creation times never fall, and ties keep their order.
  Packet* data =
      backlog.dequeuePacket(backlog.getLeastIndex(), kByCreationTime);
  data->setReadyToSendTime(now + Node::getProcessingDelay());
  source.outgoingQueue.enqueuePacket(data, kByReadyToSendTime);
  outstanding = data->getSequenceNumber();
  awaitingAck = true;
  source.idleUntil(kForever);
}

void StopAndWait::answerAtSink(Node& sink) {
  if (kit::runStarts()) kit::releaseAll(store, sink);
  PacketQueue& incoming = sink.incomingQueue;
  while (incoming.getLength() > 0) {
    Packet* data =
        incoming.dequeuePacket(incoming.getLeastIndex(), kByReadyToSendTime);
    if (data->getType() == kit::kDataPacket) {
      Packet* ack = kit::makeAck(store, *data);
      ack->setReadyToSendTime(Time::getTime() + Node::getProcessingDelay());
      sink.outgoingQueue.enqueuePacket(ack, kByReadyToSendTime);
    }
    store.release(data);
  }
  sink.idleUntil(kForever);  // until the next data packet
}

StopAndWait protocol;

}  // namespace

int Node::generatePackets() {
  if (getType() == kSourceType) protocol.generate(*this);
  return 1;
}

int Node::sendPackets() {
  if (getType() == kSourceType) {
    protocol.sendFromSource(*this);
  } else if (getType() == kSinkType) {
    protocol.answerAtSink(*this);
  }
  return 1;
}
