// Go-Back-N ARQ: the source keeps up to W data frames sent and not yet
// acknowledged, under one timer, that of the oldest; the sink takes only
// the next frame in order and answers every data frame it receives with a
// cumulative ACK, the sequence number of the last packet it handed up; when
// the timer fires, the source goes back and sends every frame from the
// oldest on again. Reading an ACK, the source writes "acknowledged packet N
// at CLOCK" for each packet it acknowledges, in order. Built in place of the
// empty hooks with the preset go-back-n, or
//   cmake -S . -B build -DLINKSIM_PROTOCOL=protocols/go_back_n.cpp
// W is LINKSIM_WINDOW (1 to 65536, 8 when unset); the channel may lose
// frames (LINKSIM_LOSS or LINKSIM_BER, LINKSIM_ACK_LOSS, LINKSIM_BURST,
// LINKSIM_DROP, LINKSIM_SEED); the timeout is LINKSIM_TIMEOUT or derived
// from the link; LINKSIM_TRACE records every event (kit/variables.h).
//
// Creation is stop-and-wait's (stop_and_wait.cpp): packet k is due at clock
// k / rate, into a backlog of 16. A packet enters the window when there is
// room, and is ready to go on the link once the processing delay has passed; a
// frame sent again is ready a processing delay after the timeout. The frames go
// on the link one at a time, in order, each once the one before has left
// (kit/link.h); which frame goes next is decided in the tick its start falls
// in, so a timeout takes back every frame not yet started, and a frame
// acknowledged while it waits does not go at all.
//
// Without loss this is the sliding-window example (sliding_window.cpp) with
// the same window, line for line: the frames enter the window in the same
// ticks and start at the same times, r(k) = max(s(k) + P, r(k-1) + Td), and
// no timer fires (kit::derivedTimeout). Its opening comment derives when
// each ACK is read.
//
// Loss, where every stage is a whole number of ticks, the source always has
// a packet to send and the window covers the round trip, W Td >= T with
// T = Td + Ta + 2A + 2P the textbook's round trip and K = T / Td. Then the
// frames leave back to back, the ACK of a frame that starts at r is read
// at r + T - P if nothing is lost, and the derived timeout, T - P, fires in
// that very tick when it is not. A lost data frame k stops the sink: it
// drops every frame after k until k comes again. k's timer fires at
// r + T - P, and k goes again once the frame then on the link has left, at
// r + ceil(K) Td: ceil(K) frame times lost. A lost ACK of k costs about as
// much where k is the oldest frame and the ACK after it comes Td after k's
// timer fires: the go-back sends again frames the sink already has, and
// the ACKs of their first copies acknowledge them as they come. But a
// loss while a go-back is under way, or of a frame the sink drops anyway,
// costs nothing more, and a lost ACK costs nothing where a later cumulative
// ACK comes before the oldest frame's timer fires, as it does during a
// go-back, whose resends restart that timer. The textbook's
//   U = (1 - P) / (1 + (K - 1) P)
// charges every failed frame K frame times: with P = 1 - (1 - p)^2 for a
// frame loss probability p, a lost ACK as much as a lost data frame; with
// P = p, a lost ACK nothing. Measured (studies/arq.sh: Td 10, Ta 1,
// P 1, A 40, W = 16, 20 seeds), a long run lies between the two curves,
// nearer the lower one where losses come one at a time (a quarter of the
// way up at p = 0.02) and the upper one where they come in clusters
// (nine-tenths of the way up at p = 0.5).
//
// Idle. The sink sleeps until a data frame arrives or an ACK is to go on
// the link; the source's sendPackets until a frame is to go on the link or
// is due, the oldest frame's timer fires or an ACK arrives, or, with room in
// the window and nothing to send, until the next packet is due; its
// generatePackets as in stop-and-wait.
//
// Ownership is stop-and-wait's: every frame comes from the store and is
// released as it leaves its last queue; every run starts by taking out and
// releasing what an earlier run left.

#include <algorithm>
#include <string>

#include "model/Packet.h"
#include "model/Time.h"
#include "protocol_kit.h"
#include "simulator/Node.h"

namespace {

/// The protocol's state for the current run, and the kit behind it.
class GoBackN {
 public:
  static constexpr const char* kName = "go-back-n";
  static constexpr unsigned kReads = kit::kReadsArq | kit::kReadsSequence;

  /// Reads the variables as the program starts.
  bool init(std::string* error) { return arq.start(error); }

  /// The source's generatePackets: creates the packets that are due.
  void generate(Node& source);
  /// The source's sendPackets: reads ACKs, minds the timer, sends.
  void sendFromSource(Node& source);
  /// The sink's sendPackets: answers every data frame that arrived.
  void answerAtSink(Node& sink);

 private:
  /// A packet in the window.
  struct Frame {
    double ready;  // when it may go (again) on the link
    double start;  // when it last went
  };
  /// The window's frame of count `count`, from base to next - 1.
  Frame& frame(long long count) { return window[count - base]; }

  kit::Arq arq{kName, kReads};
  kit::Fifo<Frame> window;  // from base on
  long long base = 0;       // the oldest packet not acknowledged
  long long next = 0;       // the next packet to enter the window
  long long sendNext = 0;   // the next to go on the link; from it on, wait
  long long sentTo = 0;     // every packet before it has gone before
  long long expected = 0;   // the sink's next packet to hand up
};

void GoBackN::generate(Node& source) {
  if (arq.startsRun(source)) {
    window.clear();
    base = next = sendNext = sentTo = expected = 0;
  }
  arq.createDue(source, next - base == arq.settings.window);
}

void GoBackN::sendFromSource(Node& source) {
  const double now = Time::getTime();
  const double processing = Node::getProcessingDelay();
  while (Packet* ack = arq.receive(source)) {
    // Cumulative: it acknowledges every packet up to its own, sent or
    // waiting to go again; its own is one of the window's or the one
    // before it, which acknowledges nothing new.
    const long long last = arq.numbers.from(ack->getSequenceNumber(), base - 1);
    for (; base <= last && base < sentTo; ++base) {
      arq.acknowledged(base);
      window.pop();
    }
    arq.store.release(ack);
  }
  sendNext = std::max(sendNext, base);  // acknowledged while waiting
  if (base < sendNext && now >= frame(base).start + arq.timeout) {
    arq.timedOut(base);
    for (long long k = base; k < sendNext; ++k)
      frame(k).ready = now + processing;
    sendNext = base;  // go back
  }
  while (next - base < arq.settings.window && arq.backlogged()) {
    next = arq.admit() + 1;
    window.push(Frame{now + processing, 0.0});
  }
  source.idleUntil(kForever);  // unless told otherwise, until an ACK arrives
  for (; sendNext < next; ++sendNext) {
    Frame& going = frame(sendNext);
    const double at = arq.dataLink.startFor(going.ready);
    if (!kit::Link::startsNow(at, now, source)) break;
    arq.sendData(sendNext, at, sendNext < sentTo);
    going.start = at;
  }
  sentTo = std::max(sentTo, sendNext);
  if (base < sendNext) source.idleUntil(frame(base).start + arq.timeout);
  // generatePackets, called first in each tick, refills the backlog then.
  if (next - base < arq.settings.window) source.idleUntil(arq.nextCreation());
  arq.dataLink.commitDue(source.outgoingQueue, now, source);
}

void GoBackN::answerAtSink(Node& sink) {
  arq.startAtSink(sink);
  while (Packet* data = arq.receive(sink)) {
    if (data->getSequenceNumber() == arq.numbers.of(expected)) {
      arq.deliver(*data);
      ++expected;
    } else {
      arq.discard(*data);
    }
    if (expected > 0) arq.answer(expected - 1);
    arq.store.release(data);
  }
  arq.sendAcks(sink);
}

}  // namespace

// Its hooks, its one object made as the program starts (kit/hooks.h), which
// linksim-arq finds by its file's name in protocols/protocol_list.h.
LINKSIM_SHIPPED_PROTOCOL(go_back_n, GoBackN)
