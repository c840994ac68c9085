#ifndef LINKSIM_EXAMPLES_PROTOCOLS_KIT_PACKET_STORE_H_
#define LINKSIM_EXAMPLES_PROTOCOLS_KIT_PACKET_STORE_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "model/Packet.h"

/// Owns every packet a protocol makes; a queue only points at them. A
/// released packet is kept for the next make(), so a protocol whose packets
/// come and go at a steady rate allocates none once it has made as many as
/// are ever alive at once. Everything is freed with the store.
///
/// Packets live in slots allocated a block at a time, each slot a packet and
/// a flag, so the store costs a few bytes per packet beyond the packet
/// itself, and finding a packet's slot is a search among the blocks.
class PacketStore {
 public:
  PacketStore() = default;
  PacketStore(const PacketStore&) = delete;
  PacketStore& operator=(const PacketStore&) = delete;

  /// A packet with every field zero, owned by the store.
  Packet* make() {
    if (spare.empty()) grow();
    Slot* slot = spare.back();
    spare.pop_back();
    slot->packet = Packet();
    slot->released = false;
    return &slot->packet;
  }

  /// Takes back `packet`, which no queue may hold any more. A packet the
  /// store did not make is left to whoever did, and one it already has back
  /// is not taken twice.
  void release(const Packet* packet) {
    Slot* slot = slotOf(packet);
    if (slot == nullptr || slot->released) return;
    slot->released = true;
    spare.push_back(slot);
  }

 private:
  struct Slot {
    Packet packet;  // first, so a packet's address is its slot's
    bool released = true;
  };
  static constexpr size_t kBlockSlots = 256;

  /// Adds a block of released slots, keeping the blocks in address order.
  void grow() {
    auto block = std::make_unique<Slot[]>(kBlockSlots);
    for (size_t i = kBlockSlots; i > 0; --i) spare.push_back(&block[i - 1]);
    const auto at = std::upper_bound(
        blocks.begin(), blocks.end(), block,
        [](const auto& a, const auto& b) {
          return std::less<const Slot*>()(a.get(), b.get());
        });
    blocks.insert(at, std::move(block));
  }

  /// The slot whose packet is `packet`, or null if the store has none.
  Slot* slotOf(const Packet* packet) const {
    const auto address = reinterpret_cast<std::uintptr_t>(packet);
    // The last block starting at or below the address.
    auto after = std::upper_bound(
        blocks.begin(), blocks.end(), address,
        [](std::uintptr_t a, const std::unique_ptr<Slot[]>& block) {
          return a < reinterpret_cast<std::uintptr_t>(block.get());
        });
    if (after == blocks.begin()) return nullptr;
    Slot* first = (after - 1)->get();
    const std::uintptr_t offset =
        address - reinterpret_cast<std::uintptr_t>(first);
    if (offset >= kBlockSlots * sizeof(Slot) || offset % sizeof(Slot) != 0) {
      return nullptr;
    }
    return first + offset / sizeof(Slot);
  }

  std::vector<std::unique_ptr<Slot[]>> blocks;  // in address order
  std::vector<Slot*> spare;                      // released, for make()
};

#endif  // LINKSIM_EXAMPLES_PROTOCOLS_KIT_PACKET_STORE_H_
