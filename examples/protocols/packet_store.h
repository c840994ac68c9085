#ifndef LINKSIM_EXAMPLES_PROTOCOLS_PACKET_STORE_H_
#define LINKSIM_EXAMPLES_PROTOCOLS_PACKET_STORE_H_

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/Packet.h"

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

#endif  // LINKSIM_EXAMPLES_PROTOCOLS_PACKET_STORE_H_
