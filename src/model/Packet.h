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
/// while a queue holds its pointer, and releases it afterwards.
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
/// Every insertion and every removal that leaves packets allocates an array
/// of exactly the new length, so memory holds one pointer per packet.
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

  int length = 0;
  double leastTime = 0.0;
  int leastIndex = 0;
  double leastSize = 0.0;
  std::unique_ptr<Packet*[]> packets;
};

#endif  // LINKSIM_MODEL_PACKET_H_
