#ifndef LINKSIM_PROTOCOLS_KIT_PACKET_STORE_H_
#define LINKSIM_PROTOCOLS_KIT_PACKET_STORE_H_

#include <algorithm>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "model/Packet.h"

/// Owns every packet a protocol makes; a queue only points at them. Beside
/// each packet it keeps a number of the protocol's own, its tag, which
/// travels with the packet but is no field of it: the kit keeps there the
/// packet's number in the run, which the sequence number may not tell. A
/// released packet is kept for the next make(), so a protocol whose packets
/// come and go at a steady rate allocates none once it has made as many as
/// are ever alive at once. Everything is freed with the store.
///
/// Packets live in blocks of slots, a slot the size of a packet: a released
/// slot holds instead the link to the next released one and its own block,
/// and a bit per slot says which are released. So the store costs a bit per
/// packet beyond the packets themselves; make() costs the same however many
/// packets it holds, and release() a search among the blocks, which also
/// tells a packet it did not make.
class PacketStore {
 public:
  PacketStore() = default;
  PacketStore(const PacketStore&) = delete;
  PacketStore& operator=(const PacketStore&) = delete;

  /// A packet with every field zero, and a tag of 0, owned by the store.
  Packet* make() {
    if (spare == nullptr) grow();
    Slot* slot = spare;
    Block* block = slot->released.block;
    spare = slot->released.next;
    block->released.reset(static_cast<size_t>(slot - block->slots));
    return &(new (&slot->made) Made())->packet;
  }

  /// The tag of `packet`, which make() made and is not yet released.
  static long long& tag(Packet* packet) { return madeOf(packet)->tag; }
  static long long tag(const Packet& packet) {
    return madeOf(const_cast<Packet*>(&packet))->tag;
  }

  /// Takes back `packet`, which no queue may hold any more. A packet the
  /// store did not make is left to whoever did, and one it already has back
  /// is not taken twice.
  void release(const Packet* packet) {
    // A packet is its slot's first member, so their addresses are one.
    Block* block = blockOf(packet);
    if (block == nullptr) return;
    const std::uintptr_t offset =
        reinterpret_cast<std::uintptr_t>(packet) -
        reinterpret_cast<std::uintptr_t>(block->slots);
    if (offset % sizeof(Slot) != 0) return;
    const size_t index = offset / sizeof(Slot);
    if (block->released.test(index)) return;
    block->released.set(index);
    block->slots[index].released = {spare, block};
    spare = &block->slots[index];
  }

 private:
  struct Block;
  /// A packet as made, with its tag. The packet is the first member of a
  /// standard-layout struct, so their addresses are one.
  struct Made {
    Packet packet;
    long long tag = 0;
  };
  static Made* madeOf(Packet* packet) {
    return reinterpret_cast<Made*>(packet);
  }
  union Slot {
    Slot() : released{nullptr, nullptr} {}
    Made made;  // while made
    struct {
      Slot* next;    // the next released slot
      Block* block;  // this slot's
    } released;      // while released
  };
  static_assert(sizeof(Slot) == sizeof(Made), "a slot costs no more");
  static_assert(std::is_standard_layout<Made>::value, "a packet is its start");
  static constexpr size_t kBlockSlots = 256;
  struct Block {
    Slot slots[kBlockSlots];
    std::bitset<kBlockSlots> released;
  };

  /// Where `block` lies: blocks are ordered, and a packet's block found, by
  /// this one number.
  static std::uintptr_t addressOf(const std::unique_ptr<Block>& block) {
    return reinterpret_cast<std::uintptr_t>(block.get());
  }

  /// Adds a block of released slots, keeping the blocks in address order.
  void grow() {
    auto block = std::make_unique<Block>();
    block->released.set();
    for (size_t i = kBlockSlots; i > 0; --i) {
      block->slots[i - 1].released = {spare, block.get()};
      spare = &block->slots[i - 1];
    }
    const auto at = std::upper_bound(blocks.begin(), blocks.end(), block,
                                     [](const auto& a, const auto& b) {
                                       return addressOf(a) < addressOf(b);
                                     });
    blocks.insert(at, std::move(block));
  }

  /// The block whose slots hold `address`, or null.
  Block* blockOf(const void* address) const {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    // The last block starting at or below the address.
    const auto after = std::upper_bound(
        blocks.begin(), blocks.end(), at,
        [](std::uintptr_t a, const std::unique_ptr<Block>& block) {
          return a < addressOf(block);
        });
    if (after == blocks.begin()) return nullptr;
    Block* block = (after - 1)->get();
    const bool inside = at - reinterpret_cast<std::uintptr_t>(block->slots) <
                        sizeof block->slots;
    return inside ? block : nullptr;
  }

  std::vector<std::unique_ptr<Block>> blocks;  // in address order
  Slot* spare = nullptr;                       // released, for make()
};

#endif  // LINKSIM_PROTOCOLS_KIT_PACKET_STORE_H_
