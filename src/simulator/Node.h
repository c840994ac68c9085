#ifndef LINKSIM_SIMULATOR_NODE_H_
#define LINKSIM_SIMULATOR_NODE_H_

#include "model/Packet.h"

/// Node types.
constexpr char kSourceType = '1';
constexpr char kSinkType = '2';

/// A simulated endpoint: a type character, three packet queues and the two
/// protocol hooks. The five link parameters that describe the traffic are
/// static: one value each for the whole program, 0.0 at start, never reset.
///
/// Not copyable: a copy would share nothing with the queues it came from
/// while looking like the same node.
class Node {
 public:
  Node() = default;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  char getType() const { return type; }
  void setType(char value) { type = value; }

  /// Protocol hook that creates this node's packets. Returns 1.
  int generatePackets();
  /// Protocol hook that hands this node's packets on. Returns 1.
  int sendPackets();

  static double getDataPacketSize() { return dataPacketSize; }
  static void setDataPacketSize(double value) { dataPacketSize = value; }
  static double getDataOverhead() { return dataOverhead; }
  static void setDataOverhead(double value) { dataOverhead = value; }
  static double getACKSize() { return ackSize; }
  static void setACKSize(double value) { ackSize = value; }
  static double getProcessingDelay() { return processingDelay; }
  static void setProcessingDelay(double value) { processingDelay = value; }
  static double getPacketRate() { return packetRate; }
  static void setPacketRate(double value) { packetRate = value; }

  /// Used by nothing in the system yet; kept for protocols that need a
  /// holding queue of their own.
  PacketQueue firstQueue;
  /// Packets waiting to travel to the other node; drained by the run loop.
  PacketQueue outgoingQueue;
  /// Packets that arrived from the other node; filled by the run loop.
  PacketQueue incomingQueue;

 private:
  static double dataPacketSize;
  static double dataOverhead;
  static double ackSize;
  static double processingDelay;
  static double packetRate;

  [[maybe_unused]] int spare = 0;
  char type = 0;
};

#endif  // LINKSIM_SIMULATOR_NODE_H_
