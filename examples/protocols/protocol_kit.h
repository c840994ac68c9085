#ifndef LINKSIM_EXAMPLES_PROTOCOLS_PROTOCOL_KIT_H_
#define LINKSIM_EXAMPLES_PROTOCOLS_PROTOCOL_KIT_H_

// What the example protocols share: a store that owns their packets, and
// the steps every one of them takes the same way (creating data packets at
// the packet rate into a bounded backlog, answering with ACKs, starting each
// run afresh). Header-only, so a protocol stays one source file to build.

#include <climits>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/Packet.h"
#include "model/Time.h"
#include "simulator/Node.h"

/// Owns every packet a protocol makes; a queue only points at them. A
/// released packet is kept for the next make(), so a protocol whose packets
/// come and go at a steady rate allocates none once it has made as many as
/// are ever alive at once. Everything is freed with the store.
class PacketStore {
 public:
  /// A packet with every field zero, owned by the store.
  Packet* make() {
    if (!spare.empty()) {
      Packet* reused = spare.back();
      spare.pop_back();
      *reused = Packet();
      packets[reused].released = false;
      return reused;
    }
    auto packet = std::make_unique<Packet>();
    Packet* made = packet.get();
    packets.emplace(made, Entry{std::move(packet), false});
    return made;
  }

  /// Takes back `packet`, which no queue may hold any more. A packet the
  /// store did not make is left to whoever did, and one it already has back
  /// is not taken twice.
  void release(const Packet* packet) {
    const auto found = packets.find(packet);
    if (found == packets.end() || found->second.released) return;
    found->second.released = true;
    spare.push_back(found->second.packet.get());
  }

 private:
  struct Entry {
    std::unique_ptr<Packet> packet;
    bool released;
  };
  std::unordered_map<const Packet*, Entry> packets;
  std::vector<Packet*> spare;  // released, for make() to hand out again
};

namespace kit {

constexpr char kDataPacket = 'D';
constexpr char kAckPacket = 'A';

/// Most packets waiting in the source's firstQueue.
constexpr int kBacklogLimit = 16;

/// Only a run's first tick has clock 0: the run loop never moves it back.
inline bool runStarts() { return Time::getTime() == 0.0; }

/// The sequence number of a run's packet `count` (from 0): the field is an
/// int, so a run long enough to pass its end wraps to 0.
inline int sequenceNumber(long long count) {
  return static_cast<int>(count % (INT_MAX + 1LL));
}

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

/// Creates, in order, every data packet that is due by now into `source`'s
/// firstQueue while it has room: packet k of a run is due at k / rate.
/// A full backlog postpones creation without moving the schedule. `created`
/// counts the run's packets so far.
inline void createDuePackets(PacketStore& store, Node& source,
                             long long& created) {
  const double now = Time::getTime();
  const double rate = Node::getPacketRate();
  while (source.firstQueue.getLength() < kBacklogLimit &&
         static_cast<double>(created) / rate <= now) {
    Packet* data = store.make();
    data->setType(kDataPacket);
    data->setSource(kSourceType);
    data->setDestination(kSinkType);
    data->setSequenceNumber(sequenceNumber(created));
    data->setSize(Node::getDataPacketSize() + Node::getDataOverhead());
    data->setOverhead(Node::getDataOverhead());
    data->setCreationTime(now);
    source.firstQueue.enqueuePacket(data, kByCreationTime);
    ++created;
  }
}

/// The clock at which packet `created` of the run is due.
inline double nextDue(long long created) {
  return static_cast<double>(created) / Node::getPacketRate();
}

/// A new ACK answering `data`, created now; its ready-to-send time is the
/// caller's to set.
inline Packet* makeAck(PacketStore& store, const Packet& data) {
  Packet* ack = store.make();
  ack->setType(kAckPacket);
  ack->setSource(kSinkType);
  ack->setDestination(kSourceType);
  ack->setSequenceNumber(data.getSequenceNumber());
  ack->setSize(Node::getACKSize());
  ack->setCreationTime(Time::getTime());
  return ack;
}

}  // namespace kit

#endif  // LINKSIM_EXAMPLES_PROTOCOLS_PROTOCOL_KIT_H_
