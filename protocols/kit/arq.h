#ifndef LINKSIM_PROTOCOLS_KIT_ARQ_H_
#define LINKSIM_PROTOCOLS_KIT_ARQ_H_

// What the ARQ protocols share: one object per protocol holds the parts of
// the kit a run uses (packets, the variables, the lossy channel, the trace,
// the source's link and the sink's transmitter) and takes the steps the
// three take the same way. What tells them apart, which frame goes next and
// what an ACK or a timeout does, stays in each protocol's file.
//
// Frames carry their packet's number modulo 2^k (LINKSIM_SEQUENCE_BITS, 31
// when unset), and each protocol's receivers decide by those k bits alone
// (numbers), as a real receiver must; each frame's true packet number, its
// tag in the store, is for the trace and the counts only. A window too
// large for k is warned of at start and the run goes on, so that the
// wrong deliveries it allows can be watched: the recorder counts them.

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <string>
#include <vector>

#include "arrivals.h"
#include "basics.h"
#include "channel.h"
#include "environment.h"
#include "link.h"
#include "model/Packet.h"
#include "model/Time.h"
#include "packet_store.h"
#include "recorder.h"
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
double derivedTimeout(int window);

/// The running link's round trip, the textbook's T = Td + Ta + 2A + 2P;
/// NaN outside a run.
double roundTrip();

/// How a protocol's sink tells frames apart by their k-bit numbers, which
/// bounds the window W. Its source sends only the W packets from the oldest
/// one not acknowledged, and acknowledges none the sink has not handed up.
enum class WindowRule {
  /// The sink takes only the next packet in order (stop-and-wait, whose W
  /// is 1, and Go-Back-N). The source's window lies anywhere from the W
  /// packets before the next one (all handed up, their ACKs lost or late)
  /// to the W from it on, so the sink may see any packet from W before the
  /// next one to W - 1 after it: none has the next one's number if
  /// W <= 2^k - 1. The source reads a cumulative ACK as one of the W + 1
  /// counts from the one before its window to its last: the same bound.
  kInOrder,
  /// The sink keeps packets out of order within a window of W of its own
  /// (Selective Repeat). It may see the W packets before its window, whose
  /// ACKs were lost, and the W in it: 2W numbers apart, so W <= 2^(k-1).
  kKeepsOutOfOrder,
};

class Arq {
 public:
  /// The kit for the protocol `name`, which reads the variables in `reads`
  /// (kReads bits), and whose sink tells frames apart by `rule`. Every run
  /// ends with its summary, its stats row and its trace complete.
  Arq(const char* name, unsigned reads, WindowRule rule = WindowRule::kInOrder);
  ~Arq();
  Arq(const Arq&) = delete;
  Arq& operator=(const Arq&) = delete;

  /// Reads the variables as the protocol starts, its own kinds of frame
  /// declared: false, with `*error` the refusal, for one it cannot use; a
  /// variable it does not read, and a window too large for the sequence
  /// numbers, are warned of.
  bool start(std::string* error);

  /// True in a run's first tick, when the source's generatePackets calls
  /// it: then the run starts afresh. The variables are read again (a
  /// value gone bad since the start is warned of, and the old one kept),
  /// the channel and the trace start over, and what an earlier run left in the
  /// source's queues and on the links goes back to the store.
  bool startsRun(Node& source) {
    if (!runStarts()) return false;
    releaseAll(store, source);
    begin();
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
  /// but a frame is made only when it goes on the link. (Under Poisson
  /// arrivals, k / rate is the k-th arrival: kit/arrivals.h.)
  void createDue(Node& source, bool windowFull) {
    while (created - admitted < kBacklogLimit &&
           arrivals.at(created) <= Time::getTime()) {
      ++created;
    }
    if (created - admitted < kBacklogLimit) {
      source.idleUntil(arrivals.at(created));
    } else if (windowFull && source.incomingQueue.getLength() == 0) {
      // Full, and sendPackets frees no slot before an ACK arrives. Otherwise
      // it may free one in this tick, to be filled in the next.
      source.idleUntil(kForever);
    }
  }

  /// When the next data packet is due to be created.
  double nextCreation() { return arrivals.at(created); }

  /// True when the backlog holds a packet for the window.
  bool backlogged() const { return admitted < created; }

  /// Takes the oldest packet out of the backlog: the next of the run, whose
  /// count this returns.
  long long admit() {
    assert(backlogged());
    return admitted++;
  }

  /// The next frame in `node`'s incomingQueue that was not lost, or null
  /// when there is none; the lost ones are dropped on the way, as a
  /// receiver drops a frame that fails its check.
  Packet* receive(Node& node) {
    bool damaged = false;
    while (Packet* frame = receive(node, &damaged)) {
      if (!damaged) return frame;
      store.release(frame);
    }
    return nullptr;
  }

  /// The next frame in `node`'s incomingQueue, lost or not, or null when
  /// there is none; `*damaged` says whether the channel lost it. The trace
  /// and the counts have it lost all the same: a damaged frame is one the
  /// receiver knows arrived but cannot read, so a protocol may act on its
  /// arrival, not on what it holds. The frame is the caller's to release.
  Packet* receive(Node& node, bool* damaged) {
    PacketQueue& incoming = node.incomingQueue;
    if (incoming.getLength() == 0) return nullptr;
    Packet* frame =
        incoming.dequeuePacket(incoming.getLeastIndex(), kByReadyToSendTime);
    *damaged = channel.lost(*frame);
    recorder.frame(node.getType(),
                   *damaged ? FrameEvent::kLost : FrameEvent::kReceive, *frame);
    return frame;
  }

  /// Puts data frame `count` of the run, made now, on the source's link at
  /// `start` (from dataLink.startFor, in this tick); `again` says it went
  /// before.
  void sendData(long long count, double start, bool again) {
    Packet* data = makeData(store, numbers.of(count), Time::getTime());
    PacketStore::tag(data) = count;
    put(data, start, again);
  }

  /// Puts a frame of type `type`, a kind the protocol declared, for packet
  /// `count`, made now, on the source's link at `start` (from
  /// dataLink.startFor, in this tick); `again` says it went before.
  void send(char type, long long count, double start, bool again) {
    Packet* frame = makeFrame(store, type, kSourceType, numbers.of(count));
    PacketStore::tag(frame) = count;
    put(frame, start, again);
  }

  /// At the sink: answers with an ACK of packet `count`, ready once the
  /// processing delay has passed, unless an ACK with that number still
  /// waits to go: a second would say nothing new, and with a timeout
  /// shorter than the round trip and ACKs longer than data frames, every
  /// resend would add one to the waiting ACKs, without end. So at most one
  /// per packet of the window waits.
  void answer(long long count) {
    const int sequence = numbers.of(count);
    int& waiting = waitingAck(sequence);
    if (waiting == sequence) return;
    waiting = sequence;
    Packet* ack = makeAck(store, sequence);
    PacketStore::tag(ack) = count;
    hand(ack);
  }

  /// At the sink: answers with a frame of type `type`, a kind the protocol
  /// declared, for packet `count`, ready once the processing delay has
  /// passed; it goes after the frames answered before it.
  void answer(char type, long long count) {
    Packet* frame = makeFrame(store, type, kSinkType, numbers.of(count));
    PacketStore::tag(frame) = count;
    hand(frame);
  }

  /// At the sink, last in its hook: sends the answers (ACKs, and frames of
  /// the protocol's own) that start in this tick, and says until when the
  /// sink has nothing to do.
  void sendAcks(Node& sink) {
    sink.idleUntil(kForever);  // unless one waits, until a frame arrives
    ackSender.transmit(sink, Time::getTime(), [this](const Packet& frame) {
      if (frame.getType() == kAckPacket) {
        int& waiting = waitingAck(frame.getSequenceNumber());
        if (waiting == frame.getSequenceNumber()) waiting = -1;
      }
      recorder.frame(kSinkType, FrameEvent::kSend, frame);
    });
  }

  /// At the sink: the packet `data` holds is handed up.
  void deliver(const Packet& data) {
    deliver(data.getSequenceNumber(), PacketStore::tag(data));
  }
  /// At the sink: packet `packet`, which came in a frame numbered
  /// `sequence`, is handed up; the recorder tells whether it is the next in
  /// order. The arrivals asked for from now on are the next one's to
  /// create, and that of a delivery in order, the n-th of packet n: none
  /// before the fewer of the two counts. (Wrong deliveries count too, so
  /// the deliveries may outnumber the packets created.)
  void deliver(int sequence, long long packet) {
    recorder.deliver(sequence, packet, arrivals.at(packet));
    arrivals.forgetBefore(std::min(recorder.counts.delivered, created));
  }
  /// At the sink: data frame `data` is dropped, a duplicate or out of order.
  void discard(const Packet& data) {
    recorder.atSink(kDiscard, data.getSequenceNumber(), PacketStore::tag(data));
  }
  /// At the sink: data frame `data` is kept, to be handed up in order later.
  void buffer(const Packet& data) {
    recorder.atSink(kBuffer, data.getSequenceNumber(), PacketStore::tag(data));
  }

  /// At the source: packet `count` leaves the window, every packet before
  /// it acknowledged.
  void acknowledged(long long count) {
    recorder.acknowledged(numbers.of(count), count);
  }

  /// At the source: the timer that guarded packet `count` fired.
  void timedOut(long long count) {
    recorder.timedOut(numbers.of(count), count);
  }

  PacketStore store;
  Settings settings;
  Channel channel;
  Recorder recorder;
  Link dataLink;         // the source's
  double timeout = 0.0;  // the run's retransmission timeout
  Numbering numbers;     // the run's sequence numbers

 private:
  /// Puts `frame` on the source's link at `start`, and records it.
  void put(Packet* frame, double start, bool again) {
    dataLink.put(frame, start);
    recorder.frame(kSourceType, again ? FrameEvent::kResend : FrameEvent::kSend,
                   *frame);
  }

  /// Hands `frame` to the sink's transmitter, ready once the processing
  /// delay has passed.
  void hand(Packet* frame) {
    frame->setReadyToSendTime(Time::getTime() + Node::getProcessingDelay());
    ackSender.hand(frame);
  }

  /// Every Arq, for endRuns.
  static std::vector<Arq*>& all();
  /// At the end of every run: its summary and stats, its trace complete. A
  /// run that ticked no tick started nothing, and reports just that.
  static void endRuns();

  /// Says on standard error, at start, when the window is too large for
  /// the sequence numbers under the sink's rule: then the sink may hand up
  /// a wrong packet.
  void warnWindow() const;

  /// Says on standard error, at the start of a run, when the timeout given
  /// is far below the round trip (under half of it, and a tick or more
  /// before the earliest an ACK can come back): every frame's timer fires
  /// before its ACK can come. The run goes on: spurious resends are a
  /// lesson to watch.
  void warnTimeout() const;

  /// Starts a run afresh: the variables read again (rereadSettings), the
  /// links, the channel, the arrivals, the numbers, the counts and the
  /// trace.
  void begin();

  /// The slot of waitingAcks for ACK `sequence`.
  int& waitingAck(int sequence) {
    return waitingAcks[static_cast<size_t>(sequence) &
                       (waitingAcks.size() - 1)];
  }

  const char* name;
  unsigned reads;
  WindowRule rule;
  InOrderSender ackSender;  // the sink's: its ACKs and frames of its own
  Arrivals arrivals;        // when each packet arrives
  long long created = 0;    // data packets of the run so far
  long long admitted = 0;   // of them taken from the backlog
  // The number of an ACK handed to ackSender and not yet started, or -1, by
  // its number modulo the size, a power of two at least twice the window:
  // the ACKs that wait are numbered within twice the window, so no two
  // share a slot (two that did would cost only a second copy).
  std::vector<int> waitingAcks;
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_ARQ_H_
