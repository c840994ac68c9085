#ifndef LINKSIM_EXAMPLES_PROTOCOLS_KIT_ARQ_H_
#define LINKSIM_EXAMPLES_PROTOCOLS_KIT_ARQ_H_

// What the ARQ protocols share: one object per protocol holds the parts of
// the kit a run uses (packets, the variables, the lossy channel, the trace,
// the source's link and the sink's ACK transmitter) and takes the steps the
// three take the same way. What tells them apart, which frame goes next and
// what an ACK or a timeout does, stays in each protocol's file.

#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

#include "basics.h"
#include "channel.h"
#include "environment.h"
#include "link.h"
#include "model/Packet.h"
#include "model/Time.h"
#include "packet_store.h"
#include "simulator/Node.h"
#include "simulator/Simulator.h"
#include "trace.h"

namespace kit {

/// The retransmission timeout derived from the running link for frames sent
/// up to `window` at a time, when LINKSIM_TIMEOUT is unset. A data frame
/// that starts at r is seen by the sink at a = ceil(r + A + Td), its ACK is
/// ready at a + P and read by the source at e = ceil(a + P + A + Ta), each
/// ceiling adding less than a tick: T - P <= e - r < T - P + 2 with
/// T = Td + Ta + 2A + 2P, the textbook's round trip. (An ACK that waits at
/// the sink behind others ACKing frames sent Td or more apart is no later:
/// with Ta <= Td they leave at least as fast as the frames came.) The timer
/// fires in the first tick whose clock reaches r + timeout, after that
/// tick's ACKs are read; so it never fires before e, and at most a tick
/// (and the margin m) after it, with
///   T - P          where P, A, Td and Ta are whole numbers: then e - r is
///                  T - P exactly, and the timer fires in the very tick the
///                  ACK would have been read;
///   T - P + 1      elsewhere, when every time is a binary fraction (0.5,
///                  0.375) that the run loop's sums keep exact, as they do
///                  on a run shorter than 2^32 ticks;
///   T - P + 1 + m  for other fractions (0.1), or longer runs, where the
///                  run loop's sums round: a sum that is whole in decimal
///                  can land a hair above a whole number and cost a tick on
///                  its own. m is 2^-16, or, where the clock grows so large
///                  that its doubles are coarser (at 2^52 they are whole
///                  numbers), (2 window + 16) times their spacing at the
///                  duration: each sum from a frame's start to its ACK's
///                  reading, the timer's and the timeout's own, and two per
///                  ACK queued ahead at the sink, rounds by at most that
///                  spacing.
/// With ACKs longer than data frames (Ta > Td) ACKs queue at the sink, at
/// most window - 1 ahead of one when nothing is lost, so (window - 1) Ta is
/// added: a run without loss never times out, at any clock.
inline double derivedTimeout(int window) {
  const Simulator* link = Simulator::running();
  if (link == nullptr) return std::nan("");
  const double p = Node::getProcessingDelay();
  const double a = link->propagationDelay;
  const double td =
      (Node::getDataPacketSize() + Node::getDataOverhead()) / link->bitRate;
  const double ta = Node::getACKSize() / link->bitRate;
  const auto whole = [](double v) { return std::floor(v) == v; };
  const auto binary = [&](double v) {
    return std::fabs(v) < 0x1p32 && whole(v * 0x1p20);
  };
  const double roundTrip = td + ta + 2 * a + 2 * p;  // T
  double timeout = roundTrip - p;
  if (!(whole(p) && whole(a) && whole(td) && whole(ta))) {
    const double d = link->duration;
    const double spacing = std::nextafter(d, HUGE_VAL) - d;  // NaN: no tick
    const bool exact =
        binary(p) && binary(a) && binary(td) && binary(ta) && d < 0x1p32;
    timeout +=
        exact ? 1.0 : 1.0 + std::max(0x1p-16, (2.0 * window + 16) * spacing);
  }
  if (ta > td) timeout += (window - 1) * ta;
  return timeout;
}

class Arq {
 public:
  /// Reads the variables; `windowed` says whether LINKSIM_WINDOW counts. A
  /// bad one ends the program here, before it writes anything. The trace is
  /// closed at the end of every run.
  explicit Arq(bool windowed)
      : settings(settingsOrExit(windowed)), windowed(windowed) {
    Simulator::atRunEnd(&endRuns);
    all().push_back(this);
  }
  ~Arq() { all().erase(std::find(all().begin(), all().end(), this)); }
  Arq(const Arq&) = delete;
  Arq& operator=(const Arq&) = delete;

  /// True in a run's first tick, when the source's generatePackets calls
  /// it: then the run starts afresh. The variables are read again (a
  /// value gone bad since the start keeps the old one), the channel and the
  /// trace start over, and what an earlier run left in the source's queues
  /// and on the links goes back to the store.
  bool startsRun(Node& source) {
    if (!runStarts()) return false;
    started = true;
    readSettings(windowed, &settings);
    releaseAll(store, source);
    dataLink.startRun(store);
    ackSender.startRun(store);
    channel.startRun(settings);
    trace.open(settings.trace);
    // A protocol without a window has one frame in flight.
    const int window = windowed ? settings.window : 1;
    timeout = std::isnan(settings.timeout) ? derivedTimeout(window)
                                           : settings.timeout;
    size_t slots = 2;
    while (slots < 2 * static_cast<size_t>(window)) slots *= 2;
    waitingAcks.assign(slots, -1);
    created = 0;
    admitted = 0;
    return true;
  }

  /// The sink's sendPackets calls it first: in a run's first tick, what an
  /// earlier run left in the sink's queues goes back to the store.
  void startAtSink(Node& sink) {
    if (runStarts()) releaseAll(store, sink);
  }

  /// The source's generatePackets: creates the data packets that are due
  /// into the backlog, and says until when it has nothing to do.
  /// `windowFull` says that sendPackets takes none from the backlog before
  /// an ACK arrives. The backlog is a count: packet k of a run is due at
  /// k / rate and waits while 16 are waiting, as createDuePackets has it,
  /// but a frame is made only when it goes on the link.
  void createDue(Node& source, bool windowFull) {
    while (created - admitted < kBacklogLimit &&
           nextDue(created) <= Time::getTime()) {
      ++created;
    }
    if (created - admitted < kBacklogLimit) {
      source.idleUntil(nextDue(created));
    } else if (windowFull && source.incomingQueue.getLength() == 0) {
      // Full, and sendPackets frees no slot before an ACK arrives. Otherwise
      // it may free one in this tick, to be filled in the next.
      source.idleUntil(kForever);
    }
  }

  /// When the next data packet is due to be created.
  double nextCreation() const { return nextDue(created); }

  /// True when the backlog holds a packet for the window.
  bool backlogged() const { return admitted < created; }

  /// Takes the oldest packet out of the backlog: the next of the run, whose
  /// count this returns.
  long long admit() {
    assert(backlogged());
    return admitted++;
  }

  /// The next frame in `node`'s incomingQueue that was not lost, or null
  /// when there is none; the lost ones are dropped on the way.
  Packet* receive(Node& node) {
    PacketQueue& incoming = node.incomingQueue;
    while (incoming.getLength() > 0) {
      Packet* frame =
          incoming.dequeuePacket(incoming.getLeastIndex(), kByReadyToSendTime);
      const bool lost = channel.lost(*frame);
      traceFrame(node, lost ? "lost" : "receive", *frame);
      if (!lost) return frame;
      store.release(frame);
    }
    return nullptr;
  }

  /// Puts data frame `count` of the run, made now, on the source's link at
  /// `start` (from dataLink.startFor, in this tick); `again` says it went
  /// before.
  void sendData(long long count, double start, bool again) {
    Packet* data = makeData(store, sequenceNumber(count), Time::getTime());
    dataLink.put(data, start);
    traceFrame(kSourceType, again ? "resend" : "send", *data);
  }

  /// At the sink: answers with an ACK numbered `sequence`, ready once the
  /// processing delay has passed, unless an ACK with that number still
  /// waits to go: a second would say nothing new, and with a timeout
  /// shorter than the round trip and ACKs longer than data frames, every
  /// resend would add one to the waiting ACKs, without end. So at most one
  /// per packet of the window waits.
  void answer(int sequence) {
    int& waiting = waitingAck(sequence);
    if (waiting == sequence) return;
    waiting = sequence;
    Packet* ack = makeAck(store, sequence);
    ack->setReadyToSendTime(Time::getTime() + Node::getProcessingDelay());
    ackSender.hand(ack);
  }

  /// At the sink, last in its hook: sends the ACKs that start in this tick,
  /// and says until when the sink has nothing to do.
  void sendAcks(Node& sink) {
    sink.idleUntil(kForever);  // unless an ACK waits, until a frame arrives
    ackSender.transmit(sink, Time::getTime(), [this](const Packet& ack) {
      int& waiting = waitingAck(ack.getSequenceNumber());
      if (waiting == ack.getSequenceNumber()) waiting = -1;
      traceFrame(kSinkType, "send", ack);
    });
  }

  /// At the sink: data packet `sequence` is handed up.
  void deliver(int sequence) {
    trace.record("sink", "deliver", "data", sequence);
  }

  /// At the source: packet `sequence` leaves the window, every packet before
  /// it acknowledged.
  void acknowledged(int sequence) {
    writeAcknowledged(sequence);
    trace.record("source", "acknowledged", "data", sequence);
  }

  /// At the source: the timer that guarded packet `sequence` fired.
  void timedOut(int sequence) {
    trace.record("source", "timeout", "data", sequence);
  }

  PacketStore store;
  Settings settings;
  Channel channel;
  Trace trace;
  Link dataLink;         // the source's
  double timeout = 0.0;  // the run's retransmission timeout

 private:
  /// Every Arq, for endRuns.
  static std::vector<Arq*>& all() {
    static std::vector<Arq*> arqs;
    return arqs;
  }
  /// At the end of every run: the trace is complete. A run that ticked no
  /// tick (a NaN duration) never started, and its trace is the header alone.
  static void endRuns() {
    for (Arq* arq : all()) {
      if (!arq->started) {
        readSettings(arq->windowed, &arq->settings);
        arq->trace.open(arq->settings.trace);
      }
      arq->started = false;
      arq->trace.close();
    }
  }

  void traceFrame(char node, const char* event, const Packet& frame) {
    trace.record(node == kSourceType ? "source" : "sink", event,
                 frame.getType() == kAckPacket ? "ack" : "data",
                 frame.getSequenceNumber());
  }
  void traceFrame(const Node& node, const char* event, const Packet& frame) {
    traceFrame(node.getType(), event, frame);
  }

  /// The slot of waitingAcks for ACK `sequence`.
  int& waitingAck(int sequence) {
    return waitingAcks[static_cast<size_t>(sequence) &
                       (waitingAcks.size() - 1)];
  }

  bool windowed;
  bool started = false;     // the run has started
  InOrderSender ackSender;  // the sink's
  long long created = 0;    // data packets of the run so far
  long long admitted = 0;   // of them taken from the backlog
  // The number of an ACK handed to ackSender and not yet started, or -1, by
  // its number modulo the size, a power of two at least twice the window:
  // the ACKs that wait are numbered within twice the window, so no two
  // share a slot (two that did would cost only a second copy).
  std::vector<int> waitingAcks;
};

}  // namespace kit

#endif  // LINKSIM_EXAMPLES_PROTOCOLS_KIT_ARQ_H_
