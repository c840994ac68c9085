#ifndef LINKSIM_MODEL_PACKET_H_
#define LINKSIM_MODEL_PACKET_H_

#include <memory>

/// Ordering keys passed to every PacketQueue insertion and removal.
constexpr int kByCreationTime = 1;
constexpr int kByReadyToSendTime = 2;

/// The record of one simulated packet. Plain data: every field has a
/// get/set pair. A new packet has every field zero.
class Packet {
 public:
  char getType() const { return type; }
  void setType(char value) { type = value; }
  char getSource() const { return source; }
  void setSource(char value) { source = value; }
  char getDestination() const { return destination; }
  void setDestination(char value) { destination = value; }
  int getSequenceNumber() const { return sequenceNumber; }
  void setSequenceNumber(int value) { sequenceNumber = value; }
  double getSize() const { return size; }
  void setSize(double value) { size = value; }
  double getOverhead() const { return overhead; }
  void setOverhead(double value) { overhead = value; }
  double getCreationTime() const { return creationTime; }
  void setCreationTime(double value) { creationTime = value; }
  double getReadyToSendTime() const { return readyToSendTime; }
  void setReadyToSendTime(double value) { readyToSendTime = value; }

 private:
  char type = 0;
  char source = 0;
  char destination = 0;
  int sequenceNumber = 0;
  double size = 0.0;
  double overhead = 0.0;
  double creationTime = 0.0;
  double readyToSendTime = 0.0;
};

/// An unordered array of packet pointers, in insertion order, that caches
/// its least packet so the run loop can see the next one due without a
/// search.
///
/// The queue never owns the packets: whoever creates a packet keeps it alive
/// while a queue holds its pointer, and releases it afterwards. Nor may a
/// packet's times change while a queue holds it: the cached least, and the
/// queue's record of whether its times are in order, follow them only as
/// they were when it was inserted.
///
/// Ordering key: kByCreationTime or kByReadyToSendTime. With any other key
/// the cached least time is left alone, while the least index and size are
/// still set where a fresh start or a rescan sets them.
///
/// Invariant, for a queue always used with one of the two keys, whenever it
/// holds packets: getLeastIndex() is the lowest position holding the least
/// key, and getLeastTime()/getLeastSize() are that packet's key and size.
/// A NaN key never wins a comparison, so a NaN least stays least until the
/// next rescan. After the last packet is removed, getLength() is 0 and the
/// three cached fields keep the removed packet's values. A new queue has all
/// cached fields zero.
///
/// Cost. An insertion costs the same however many packets the queue holds
/// (the array grows by doubling), and so does a removal of the first or the
/// last position; one elsewhere moves the shorter side of the array. The
/// rescan after a removal reads every packet, unless the times under the
/// removal's key are in insertion order, none NaN, as they are where packets
/// are inserted as they become due: then the first holds the least, and the
/// rescan reads it alone. So a tick that moves n packets through a queue
/// costs in proportion to n. The array holds at most four pointers per
/// packet held, or 16.
class PacketQueue {
 public:
  PacketQueue() = default;
  PacketQueue(const PacketQueue&) = delete;
  PacketQueue& operator=(const PacketQueue&) = delete;

  int getLength() const { return length; }
  double getLeastTime() const { return leastTime; }
  int getLeastIndex() const { return leastIndex; }
  double getLeastSize() const { return leastSize; }

  /// Appends `packet`, which must not be null, and updates the cached least
  /// packet.
  void enqueuePacket(Packet* packet, int key);

  /// Removes and returns the packet at `index`, then rescans for the least.
  /// An index outside [0, getLength()) is fatal: it writes
  /// "Invalid packet index to dequeue" and ends the process with
  /// EXIT_FAILURE, because the caller's bookkeeping can no longer be trusted.
  Packet* dequeuePacket(int index, int key);

 private:
  void takeAsLeast(int index, const Packet& packet, int key);
  /// The place of position `index`, from 0 to length (one past the last).
  Packet** place(int index) const { return slots.get() + first + index; }
  /// Moves the packets into a new array of `room` places, from its start.
  void reallocate(int room);
  /// Sets leastIndex, leastTime and leastSize as a scan of every packet
  /// under `key` would.
  void rescan(int key);

  int length = 0;
  double leastTime = 0.0;
  int leastIndex = 0;
  double leastSize = 0.0;
  /// Places in slots; packets at [first, first + length).
  int capacity = 0;
  int first = 0;
  /// Whether the times under each key (kByCreationTime, kByReadyToSendTime)
  /// never fall from one position to the next, none of them NaN.
  bool inOrder[2] = {true, true};
  std::unique_ptr<Packet*[]> slots;
};

#endif  // LINKSIM_MODEL_PACKET_H_
