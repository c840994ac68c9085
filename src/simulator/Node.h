#ifndef LINKSIM_SIMULATOR_NODE_H_
#define LINKSIM_SIMULATOR_NODE_H_

#include <cmath>
#include <limits>
#include <string>

#include "model/Packet.h"

/// Node types.
constexpr char kSourceType = '1';
constexpr char kSinkType = '2';

/// For Node::idleUntil: idle until a packet arrives, however long that takes.
constexpr double kForever = std::numeric_limits<double>::infinity();

/// A simulated endpoint: a type character, three packet queues and the two
/// protocol hooks. The five link parameters that describe the traffic are
/// static: one value each for the whole program, 0.0 at start, never reset.
///
/// The run loop calls a hook on every tick unless the hook said, during its
/// last call, that it is idle (idleUntil); so a protocol that says nothing
/// pays for every tick, and one that says when it is idle pays per event.
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
  /// Protocol hook that the program's entry calls once, before anything
  /// else: a protocol that reads settings of its own reads and checks them
  /// here. False, with `*error` saying why, refuses them, and the entry
  /// ends the program with "linksim: " and that line on standard error and
  /// status 2. A protocol source may leave it out: the simulator's own
  /// (protocol_start.cpp) starts nothing and returns true.
  static bool startProtocol(std::string* error);

  /// Said by a hook of this node during its call: the hook has nothing to do
  /// before `clock` unless a packet arrives in incomingQueue. The run loop
  /// then calls it next in the first tick whose clock is at least `clock`,
  /// or in the tick after such an arrival, whichever comes first; kForever
  /// waits for an arrival alone. A hook that says nothing is called on the
  /// next tick. Of several calls the earliest clock counts, and a NaN clock
  /// says nothing. The promise lasts until the hook's next call or the end
  /// of the run; said outside a run, or by another node's hook, it changes
  /// nothing.
  void idleUntil(double clock) {
    if (std::isnan(idleClock) || clock < idleClock) idleClock = clock;
  }

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

  /// The protocol's own, say for a backlog; the run loop never touches it.
  PacketQueue firstQueue;
  /// Packets waiting to travel to the other node; drained by the run loop.
  PacketQueue outgoingQueue;
  /// Packets that arrived from the other node; filled by the run loop.
  PacketQueue incomingQueue;

 private:
  // The run loop clears idleClock before each hook call and reads it after.
  friend class Simulator;

  /// What a hook says of itself when it says nothing: call it again next tick.
  static constexpr double kAwake = std::numeric_limits<double>::quiet_NaN();

  static double dataPacketSize;
  static double dataOverhead;
  static double ackSize;
  static double processingDelay;
  static double packetRate;

  [[maybe_unused]] int spare = 0;
  char type = 0;
  /// The earliest clock named by idleUntil in the current hook call, or
  /// kAwake.
  double idleClock = kAwake;
};

#endif  // LINKSIM_SIMULATOR_NODE_H_
