#ifndef LINKSIM_PROTOCOLS_KIT_BASICS_H_
#define LINKSIM_PROTOCOLS_KIT_BASICS_H_

// The steps every example protocol takes the same way: creating data packets
// at the packet rate into a bounded backlog, making frames, numbering
// packets, and starting each run afresh.

#include <climits>
#include <cmath>

#include "frames.h"
#include "model/Packet.h"
#include "model/Time.h"
#include "packet_store.h"
#include "simulator/Node.h"

namespace kit {

/// Most packets waiting in the source's backlog.
constexpr int kBacklogLimit = 16;

/// Only a run's first tick has clock 0: the run loop never moves it back.
inline bool runStarts() { return Time::getTime() == 0.0; }

/// Sequence numbers are the packet count modulo this: the field is an int,
/// so a run long enough to pass its end wraps to 0.
constexpr long long kSequenceSpace = INT_MAX + 1LL;

/// The sequence number of a run's packet `count` (from 0).
inline int sequenceNumber(long long count) {
  return static_cast<int>(count % kSequenceSpace);
}

/// The count of the packet numbered `sequence` that lies nearest to the
/// count `near`: a window far smaller than the sequence space tells a
/// wrapped number from an old one.
inline long long countOf(int sequence, long long near) {
  long long step = (sequence - near) % kSequenceSpace;
  if (step < 0) step += kSequenceSpace;
  if (step >= kSequenceSpace / 2) step -= kSequenceSpace;
  return near + step;
}

/// Sequence numbers of k bits, 1 <= k <= 31: a packet's count in the run
/// modulo 2^k, all a receiver that decides by the number alone knows of
/// the count. Which count a number stands for is the receiver's guess from
/// the counts it can expect, right only while the window is small enough
/// for the numbers (kit/arq.h, WindowRule).
class Numbering {
 public:
  explicit Numbering(int bits = 31) : mask((1LL << bits) - 1) {}

  /// The number of the packet of count `count`, from 0.
  int of(long long count) const { return static_cast<int>(count & mask); }

  /// The count numbered `sequence` nearest `near`: from half the numbers
  /// behind it to less than half ahead.
  long long nearest(int sequence, long long near) const {
    long long step = (sequence - near) & mask;
    if (step > mask / 2) step -= mask + 1;
    return near + step;
  }

  /// The first count from `first` on that is numbered `sequence`.
  long long from(int sequence, long long first) const {
    return first + ((sequence - first) & mask);
  }

  /// How many numbers there are: 2^k.
  long long space() const { return mask + 1; }

 private:
  long long mask;  // 2^k - 1
};

/// Takes every packet out of `node`'s queues and gives it back to `store`:
/// what an earlier run left there.
inline void releaseAll(PacketStore& store, Node& node) {
  for (PacketQueue* queue :
       {&node.firstQueue, &node.outgoingQueue, &node.incomingQueue}) {
    const int key =
        queue == &node.firstQueue ? kByCreationTime : kByReadyToSendTime;
    while (queue->getLength() > 0) {
      store.release(queue->dequeuePacket(queue->getLength() - 1, key));
    }
  }
}

/// A data packet numbered `sequence`, created at `created`, from the store;
/// its ready-to-send time is the caller's to set.
inline Packet* makeData(PacketStore& store, int sequence, double created) {
  Packet* data = store.make();
  data->setType(kDataPacket);
  data->setSource(kSourceType);
  data->setDestination(kSinkType);
  data->setSequenceNumber(sequence);
  data->setSize(dataFrameBits());
  data->setOverhead(Node::getDataOverhead());
  data->setCreationTime(created);
  return data;
}

/// The clock at which packet `created` of the run is due; kForever when no
/// packet ever is (a NaN rate), so that the source sleeps instead of being
/// called on every tick.
inline double nextDue(long long created) {
  const double due = static_cast<double>(created) / Node::getPacketRate();
  if (std::isnan(due)) return kForever;
  return due;
}

/// Creates, in order, every data packet that is due by now into `source`'s
/// firstQueue while it has room: packet k of a run is due at due(k).
/// A full backlog postpones creation without moving the schedule. `created`
/// counts the run's packets so far.
template <typename Due>
inline void createDuePackets(PacketStore& store, Node& source,
                             long long& created, Due due) {
  const double now = Time::getTime();
  while (source.firstQueue.getLength() < kBacklogLimit && due(created) <= now) {
    Packet* data = makeData(store, sequenceNumber(created), now);
    PacketStore::tag(data) = created;
    source.firstQueue.enqueuePacket(data, kByCreationTime);
    ++created;
  }
}

/// The same with packet k of a run due at k / rate.
inline void createDuePackets(PacketStore& store, Node& source,
                             long long& created) {
  createDuePackets(store, source, created, nextDue);
}

/// A new ACK numbered `sequence`, created now; its ready-to-send time is the
/// caller's to set.
inline Packet* makeAck(PacketStore& store, int sequence) {
  Packet* ack = store.make();
  ack->setType(kAckPacket);
  ack->setSource(kSinkType);
  ack->setDestination(kSourceType);
  ack->setSequenceNumber(sequence);
  ack->setSize(Node::getACKSize());
  ack->setCreationTime(Time::getTime());
  return ack;
}

/// A new ACK answering `data`.
inline Packet* makeAck(PacketStore& store, const Packet& data) {
  return makeAck(store, data.getSequenceNumber());
}

/// A new frame of type `type`, a kind declared (kit/frames.h), numbered
/// `sequence`, created now, that node `from` (kSourceType or kSinkType)
/// sends to the other; its size is its kind's, its ready-to-send time is the
/// caller's to set.
inline Packet* makeFrame(PacketStore& store, char type, char from,
                         int sequence) {
  Packet* frame = store.make();
  frame->setType(type);
  frame->setSource(from);
  frame->setDestination(from == kSourceType ? kSinkType : kSourceType);
  frame->setSequenceNumber(sequence);
  frame->setSize(frameKind(frameKindOf(type)).bits());
  frame->setCreationTime(Time::getTime());
  return frame;
}

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_BASICS_H_
