#ifndef LINKSIM_PROTOCOLS_KIT_LINK_H_
#define LINKSIM_PROTOCOLS_KIT_LINK_H_

// One direction of the link, as the node that sends on it sees it: a
// transmitter that puts one frame on the wire at a time, and a wire that
// holds each frame until the run loop is to deliver it.
//
// The transmitter. The run loop delivers every frame that is due, however
// many are ready at once, so the link does not serialise by itself: two
// frames ready at once would arrive at once. Here a frame starts when it is
// ready and the one before it has left: start = max(ready, previous start +
// previous size / bit rate). Which frame goes next is the sender's choice,
// made late: a frame goes on the link in the tick its start falls in,
// [clock, clock + 1), so that a frame that became more urgent in the
// meantime (a resend) can still go first, and one that is no longer needed
// (acknowledged while it waited) need not go at all. Its ready-to-send time
// is its start: exactly the time a sender that fixes every start at
// hand-over gives it, when the same frames are handed over in the same
// order.
//
// The wire. A frame put into a node's outgoingQueue costs that queue a copy
// of all it holds, and the run loop rescans it on every delivery, so a queue
// that holds a whole window of frames in flight costs each frame time in
// proportion to the window. The wire holds them instead, in a Fifo, and puts
// each frame into outgoingQueue only in the tick in which the run loop
// delivers it, the tick whose clock + 1 first reaches its due time,
// ready-to-send time + propagation delay + size / bit rate. That changes no
// delivery: the run loop delivers, earliest ready-to-send time first, while
// the earliest is due; the wire's frames start in that order (each after the
// one before), so its front is the frame the run loop would look at, and
// committing the front while it is due, with the run loop's own expression,
// hands the run loop the very frames it would have delivered in that tick,
// in the same order. A frame is committed no earlier than the tick it
// starts in, and its due time lies beyond its start, so it is never late
// either.

#include <algorithm>
#include <cmath>
#include <limits>

#include "fifo.h"
#include "model/Packet.h"
#include "packet_store.h"
#include "simulator/Node.h"
#include "simulator/Simulator.h"

namespace kit {

class Link {
 public:
  /// Starts a run on the running simulator's link: the transmitter free at
  /// once, the wire empty; frames an earlier run left on it go back to
  /// `store`.
  void startRun(PacketStore& store) {
    while (!wire.empty()) store.release(wire.pop());
    freeAt = -std::numeric_limits<double>::infinity();
    const Simulator* link = Simulator::running();
    propagationDelay = link != nullptr ? link->propagationDelay : 0.0;
    bitRate = link != nullptr ? link->bitRate : 0.0;
  }

  /// When a frame ready at `ready` would start: once the frame before it has
  /// left. (A NaN ready time gives NaN: such a frame never starts.)
  double startFor(double ready) const { return std::max(ready, freeAt); }

  /// True when a frame that starts at `start` goes on the link in the tick
  /// whose clock is `now`; otherwise `node` is told to wake in the tick it
  /// does.
  static bool startsNow(double start, double now, Node& node) {
    if (start < now + 1.0) return true;
    node.idleUntil(std::floor(start));
    return false;
  }

  /// Puts `frame` on the link at `start`, from startFor and within the
  /// current tick: that is its ready-to-send time, and the transmitter is
  /// busy for its size over the bit rate.
  void put(Packet* frame, double start) {
    frame->setReadyToSendTime(start);
    freeAt = start + frame->getSize() / bitRate;
    wire.push(frame);
  }

  /// Moves into `outgoing` every frame the run loop delivers in the tick
  /// whose clock is `now`, in the order they started, and tells `node` to
  /// wake in the tick the next one is due.
  void commitDue(PacketQueue& outgoing, double now, Node& node) {
    while (!wire.empty() && dueTime(*wire.front()) <= now + 1.0) {
      outgoing.enqueuePacket(wire.pop(), kByReadyToSendTime);
    }
    // Due in the first tick whose clock reaches due - 1 (exact from 1 on;
    // below 1 it is due in any tick, and this one has passed).
    if (!wire.empty()) node.idleUntil(dueTime(*wire.front()) - 1.0);
  }

  /// Frames on the wire, not yet committed.
  size_t inFlight() const { return wire.size(); }

 private:
  /// The run loop's due time, computed as it does.
  double dueTime(const Packet& frame) const {
    return (frame.getReadyToSendTime() + propagationDelay) +
           frame.getSize() / bitRate;
  }

  Fifo<Packet*> wire;
  double freeAt = -std::numeric_limits<double>::infinity();
  double propagationDelay = 0.0;
  double bitRate = 0.0;
};

/// A transmitter for frames that go in the order they are handed over, such
/// as a sink's ACKs: each is ready at its hand-over plus the processing
/// delay.
class InOrderSender {
 public:
  void startRun(PacketStore& store) {
    while (!waiting.empty()) store.release(waiting.pop());
    link.startRun(store);
  }

  /// Hands `frame` over; its ready-to-send time is when it is ready.
  void hand(Packet* frame) { waiting.push(frame); }

  /// Puts on the link the frames that start in the tick whose clock is
  /// `now`, calling `started(frame)` for each, then commits the due ones to
  /// `node`'s outgoingQueue; `node` is told when it next has to act.
  template <typename Started>
  void transmit(Node& node, double now, Started started) {
    while (!waiting.empty()) {
      Packet* frame = waiting.front();
      const double start = link.startFor(frame->getReadyToSendTime());
      if (!Link::startsNow(start, now, node)) break;
      waiting.pop();
      link.put(frame, start);
      started(*frame);
    }
    link.commitDue(node.outgoingQueue, now, node);
  }

 private:
  Fifo<Packet*> waiting;  // handed over, not yet started
  Link link;
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_LINK_H_
