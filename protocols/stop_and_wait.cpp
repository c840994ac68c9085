// Stop-and-wait ARQ: a complete protocol for linksim's node hooks, built in
// place of the empty ones with the preset stop-and-wait, or
//   cmake -S . -B build -DLINKSIM_PROTOCOL=protocols/stop_and_wait.cpp
//
// The source creates data packets at the packet rate into a backlog and
// keeps one of them on the link at a time, until it is acknowledged; the
// sink answers every data frame it receives, new or a duplicate, with an ACK
// of its sequence number, and hands each packet up once; the source, reading
// the ACK, writes "acknowledged packet N at CLOCK" and lets the next one go.
// A frame whose ACK does not come back within the timeout goes again. On the
// link a data frame weighs data packet size plus overhead, an ACK the ACK
// size. A node sends on what it received, or on a timeout, after the
// processing delay. The channel may lose frames (LINKSIM_LOSS or
// LINKSIM_BER, LINKSIM_ACK_LOSS, LINKSIM_BURST, LINKSIM_DROP, LINKSIM_SEED),
// the timeout is LINKSIM_TIMEOUT or derived from the link, and
// LINKSIM_TRACE records every event: see kit/variables.h.
//
// Creation. Packet k of a run (sequence number k, from 0) is due at clock
// k / rate; generatePackets creates, in order, every packet that is due while
// the backlog has room (16 waiting packets). A full backlog postpones creation,
// as a blocked write would, without moving the schedule: a slot freed by a
// send is filled at the next tick by the oldest postponed packet, so a sender
// that has fallen behind never creates more at once than there is room for,
// and no queue grows however long the run.
//
// Timing. P is the processing delay, A the propagation delay, Td = (data size
// + overhead) / bit rate and Ta = ACK size / bit rate. A frame handed over
// at clock c starts at c + P (the link is free: the frame before it has been
// acknowledged, or timed out) and is due at c + P + A + X, X its transfer
// time (Td or Ta). The run loop moves it in the first tick t >= c whose
// clock + 1 reaches that (every term is positive, so the due time is past c
// and t = ceil(due) - 1), and the other node's hook sees it one tick later,
// at
//   c + ceil(P + A + X).
// A data frame sent at c thus reaches the sink at c + Hd, Hd = ceil(P+A+Td);
// the ACK, sent there, reaches the source at c + D with
//   D = Hd + Ha,  Ha = ceil(P + A + Ta),
// and the source sends the next packet in that same tick if it has one.
// Packet k is created at ceil(k / rate) unless the backlog is full, and then
// the source has packets to send anyway; a packet created into an idle link
// leaves in its creation tick. So without loss packet k is sent at
// s(k) = max(ceil(k / rate), s(k-1) + D), s(0) = 0, and since D is a
// whole number this is, by induction,
//   s(k) = max(ceil(k / rate), k * D),
// and ACK k is written at s(k) + D if the run has a tick there: the last tick
// has the last whole clock value below the duration L. Where the link is the
// limit (1 / rate <= D) the ACKs come at D, 2D, ...: ceil(L / D) - 1 of
// them.
//
// The textbook's period is T = Td + Ta + 2A + 2P. Each ceiling adds less than
// one tick, so T <= D < T + 2, and the discrete count lies between the cycles
// of length T + 2 and those of length T that end before L (ceil(L / x) - 1
// for period x). examples/link.txt (P 1, A 5, Td 8.64, Ta 1.28, L 500):
// Hd = ceil(14.64) = 15, Ha = ceil(7.28) = 8, D = 23 against T = 21.92, so
// ACKs at 23, 46, ..., 483: 21 of them, between 20 and 22.
//
// The sums are those of the run loop's floating point: a hop whose sum is
// whole only in decimal (0.1 + 0.2 + ...) may land a hair above the whole
// number and cost a tick. Values binary fractions hold exactly (0.5, 0.25)
// behave as derived, and so does a sum nowhere near whole, such as 14.64.
//
// Loss. The timer of a frame starts when it goes on the link, at c + P, and
// fires in the first tick whose clock reaches c + P + timeout; the ACKs of
// a tick are read first. The derived timeout (kit::derivedTimeout), for
// the one frame in flight (no ACK waits behind another, however long ACKs
// are), is T - P where every stage is a whole number of ticks, and then
// D = T: the timer fires at c + D, the very tick the ACK would have been
// read, and the frame goes again as a new one would have. An attempt thus takes
// D ticks whether it succeeds or not, and succeeds when neither the data frame
// nor its ACK is lost, with probability q = (1 - p)^2 for a frame loss
// probability p (with a bit error rate b, (1 - b)^(Sd + Sa) for frames of
// Sd and Sa bits). The attempts are independent, so a run that keeps the
// link busy (1 / rate <= D) makes M = ceil(L / D) - 1 attempts that end
// within it, and the packets acknowledged are Binomial(M, q): mean M q,
// standard deviation sqrt(M q (1 - q)). The link's utilization, packets
// acknowledged x Td / L, is then q Td / D = (1 - P) / K with K = T / Td and
// P = 1 - q, the textbook's figure, exactly. Elsewhere the derived timeout
// fires at most a tick after the ACK would have come, so a failed attempt
// takes D or D + 1 ticks and the utilization lies between
// q Td / (D + 1 - q) and q Td / D. A timeout shorter than the round trip
// resends frames whose ACKs are still on their way; the sink answers the
// duplicates again, but for one whose ACK still waits to go (kit::Arq::
// answer), and the source takes the first ACK of each packet.
//
// Idle. Each hook says, before it returns, until when it has nothing to do
// (Node::idleUntil), so the run loop skips the ticks between events: the
// sink until a data frame arrives or an ACK is to go on the link; the
// source's sendPackets until its frame is to go on the link, its timer fires
// or its ACK arrives, or, with nothing to send, until the next packet is
// due; its generatePackets until the next packet is due, or, with the
// backlog full, until an ACK arrives (it stays awake while an ACK waits,
// since sendPackets frees a slot in that tick, for the next one to fill).
// Each promise holds exactly where the hook would do nothing, so the output
// is the same as without them, at a cost per event instead of per tick.
//
// Ownership. Queues hold pointers only; the protocol owns every packet it
// makes (PacketStore, in kit/packet_store.h) and releases each as it takes
// it out of its last queue. A run starts at clock 0, and the first hook of
// that tick on each node takes out and releases what an earlier run left in
// that node's queues, so every run starts afresh. Packets left in the queues
// of some other simulator, which may be gone or may run again, are not
// touched until that simulator runs again; whatever is still queued at exit
// is released with the store, when no queue can be read any more.

#include <cmath>
#include <string>

#include "model/Packet.h"
#include "model/Time.h"
#include "protocol_kit.h"
#include "simulator/Node.h"

namespace {

/// The protocol's state for the current run, and the kit behind it.
class StopAndWait {
 public:
  static constexpr const char* kName = "stop-and-wait";
  static constexpr unsigned kReads = kit::kReadsLoss | kit::kReadsTimeout |
                                     kit::kReadsArrivals | kit::kReadsSequence;

  /// Reads the variables as the program starts.
  bool init(std::string* error) { return arq.start(error); }

  /// The source's generatePackets: creates the packets that are due.
  void generate(Node& source);
  /// The source's sendPackets: reads ACKs, minds the timer, sends.
  void sendFromSource(Node& source);
  /// The sink's sendPackets: answers every data frame that arrived.
  void answerAtSink(Node& sink);

 private:
  kit::Arq arq{kName, kReads};
  // The source's packet in hand: from admission until it is acknowledged.
  bool holding = false;
  long long count = 0;     // its count in the run, from 0
  double ready = 0.0;      // when it may go (again) on the link
  bool onLink = false;     // it went and its timer runs
  bool sent = false;       // it went at least once
  double start = 0.0;      // when it last went
  long long expected = 0;  // the sink's next packet to hand up
};

void StopAndWait::generate(Node& source) {
  if (arq.startsRun(source)) {
    holding = false;
    expected = 0;
  }
  arq.createDue(source, holding);
}

void StopAndWait::sendFromSource(Node& source) {
  const double now = Time::getTime();
  while (Packet* ack = arq.receive(source)) {
    if (holding && ack->getSequenceNumber() == arq.numbers.of(count)) {
      arq.acknowledged(count);
      holding = false;
    }
    arq.store.release(ack);
  }
  if (holding && onLink && now >= start + arq.timeout) {
    arq.timedOut(count);
    onLink = false;
    ready = now + Node::getProcessingDelay();
  }
  if (!holding && arq.backlogged()) {
    count = arq.admit();
    holding = true;
    onLink = false;
    sent = false;
    ready = now + Node::getProcessingDelay();
  }
  source.idleUntil(kForever);  // unless told otherwise, until an ACK arrives
  if (holding && !onLink) {
    const double at = arq.dataLink.startFor(ready);
    if (kit::Link::startsNow(at, now, source)) {
      arq.sendData(count, at, sent);
      onLink = true;
      sent = true;
      start = at;
    }
  }
  if (holding && onLink) source.idleUntil(start + arq.timeout);
  // generatePackets, called first in each tick, fills the backlog then.
  if (!holding) source.idleUntil(arq.nextCreation());
  arq.dataLink.commitDue(source.outgoingQueue, now, source);
}

void StopAndWait::answerAtSink(Node& sink) {
  arq.startAtSink(sink);
  while (Packet* data = arq.receive(sink)) {
    // The packet it holds, as the sink can tell: the next one or the one
    // before, whose ACK was lost; with 1-bit numbers, the alternating bit.
    const long long got =
        arq.numbers.nearest(data->getSequenceNumber(), expected);
    if (got == expected) {
      arq.deliver(*data);
      ++expected;
    } else {
      arq.discard(*data);
    }
    // New or a duplicate whose ACK was lost; never one from further on.
    if (got < expected) arq.answer(got);
    arq.store.release(data);
  }
  arq.sendAcks(sink);
}

}  // namespace

// Its hooks, its one object made as the program starts (kit/hooks.h), which
// linksim-arq finds by its file's name in protocols/protocol_list.h.
LINKSIM_SHIPPED_PROTOCOL(stop_and_wait, StopAndWait)
