// Selective Repeat ARQ: the source keeps up to W data frames sent and not
// yet acknowledged, each under a timer of its own; the sink answers every
// data frame it receives with an ACK of that frame alone, keeps the frames
// that arrive out of order within its window of W, and hands them up in
// order; when a frame's timer fires, that frame alone goes again, ahead of
// every frame not yet sent. The source writes "acknowledged packet N at
// CLOCK" when packet N leaves its window, every packet before it
// acknowledged. Built in place of the empty hooks with the preset
// selective-repeat, or
//   cmake -S . -B build
//   -DLINKSIM_PROTOCOL=protocols/selective_repeat.cpp
// W is LINKSIM_WINDOW (1 to 65536, 8 when unset); the channel may lose
// frames (LINKSIM_LOSS or LINKSIM_BER, LINKSIM_ACK_LOSS, LINKSIM_BURST,
// LINKSIM_DROP, LINKSIM_SEED); the timeout is LINKSIM_TIMEOUT or derived
// from the link; LINKSIM_TRACE records every event (kit/variables.h).
//
// Creation is stop-and-wait's (stop_and_wait.cpp), and the window and the
// transmitter are go-back-n's (go_back_n.cpp): a packet enters the window
// when there is room, ready a processing delay later, and the frames go on
// the link one at a time. Which frame goes next is decided in the tick its
// start falls in: a frame to go again when it is ready, else the next new
// one, so a resend waits for no more than the frame on the link, not behind
// the whole window; and a frame acknowledged while it waits does not go.
// Without loss this is the sliding-window example, line for line, as
// go-back-n is.
//
// Loss, where every stage is a whole number of ticks and the source always
// has a packet to send. A frame that starts at r is acknowledged at
// r + T - P if it and its ACK arrive, T = Td + Ta + 2A + 2P the textbook's
// round trip, with probability q = (1 - p)^2 for a frame loss probability
// p; otherwise its timer fires then (the derived timeout, T - P), and it
// goes again, once the frame on the link has left: at most Td later. Every
// frame sent takes Td of the link and acknowledges a new packet with
// probability q, whatever became of the frames before it, so while the
// link is kept busy the utilization is q, the textbook's 1 - P. It is kept
// busy while the window has room: packet k holds the window's oldest place
// until it is acknowledged, about n (T + Td) if it takes n tries, while the
// link sends about n (T + Td) / Td frames, q of them new. A window of
// W >= 2 (T + Td) / Td covers a packet's second try, so it stalls only on
// a packet that takes three tries or more, with probability (1 - q)^2; a
// window of just K = T / Td stalls on every loss, for about a round trip.
// A long run lands at q less the start (the first ACK comes after T, T / L
// of a run of L ticks) and those rare stalls. Measured (studies/
// arq.sh: Td 10, Ta 1, P 1, A 40, W = 32, L = 20,000), the link carries
// 1985 of its 2000 frame times at p = 0.1 and 1863 at p = 0.5; with W = 64
// it stalls on almost nothing up to p = 0.4.
//
// Idle. The sink sleeps until a data frame arrives or an ACK is to go on
// the link; the source's sendPackets until a frame is to go on the link or
// is due, the earliest timer fires or an ACK arrives, or, with room in the
// window and nothing to send, until the next packet is due; its
// generatePackets as in stop-and-wait.
//
// Ownership is stop-and-wait's: every frame comes from the store and is
// released as it leaves its last queue; every run starts by taking out and
// releasing what an earlier run left.

#include <string>
#include <vector>

#include "model/Packet.h"
#include "model/Time.h"
#include "protocol_kit.h"
#include "simulator/Node.h"

namespace {

/// The protocol's state for the current run, and the kit behind it.
class SelectiveRepeat {
 public:
  static constexpr const char* kName = "selective-repeat";
  static constexpr unsigned kReads = kit::kReadsArq | kit::kReadsSequence;

  /// Reads the variables as the program starts.
  bool init(std::string* error) { return arq.start(error); }

  /// The source's generatePackets: creates the packets that are due.
  void generate(Node& source);
  /// The source's sendPackets: reads ACKs, minds the timers, sends.
  void sendFromSource(Node& source);
  /// The sink's sendPackets: answers every data frame that arrived.
  void answerAtSink(Node& sink);

 private:
  /// A packet in the window.
  struct Frame {
    double ready;  // when it may go (again) on the link
    double start;  // when it last went
    bool acked;
  };
  /// A running timer: it guards the frame of count `count` sent at `start`.
  struct Timer {
    long long count;
    double start;
  };
  /// The window's frame of count `count`, from base to next - 1.
  Frame& frame(long long count) { return window[count - base]; }
  /// True when `timer` still guards a frame: not acknowledged, and not sent
  /// again since.
  bool guards(const Timer& timer) {
    return timer.count >= base && !frame(timer.count).acked &&
           frame(timer.count).start == timer.start;
  }
  /// Sends the frames that start in this tick: those to go again first.
  void transmit(Node& source, double now);

  kit::Arq arq{kName, kReads, kit::WindowRule::kKeepsOutOfOrder};
  kit::Fifo<Frame> window;     // from base on
  kit::Fifo<Timer> timers;     // in the order they fire
  kit::Fifo<long long> again;  // frames to go again, in the order they wait
  long long base = 0;          // the oldest packet not acknowledged
  long long next = 0;          // the next packet to enter the window
  long long sendNew = 0;       // the next packet to go for the first time
  long long expected = 0;      // the sink's next packet to hand up
  // The sink's window, by count modulo W: the packet each frame kept there
  // holds, or kEmpty.
  std::vector<long long> kept;
  static constexpr long long kEmpty = -1;
};

void SelectiveRepeat::generate(Node& source) {
  if (arq.startsRun(source)) {
    window.clear();
    timers.clear();
    again.clear();
    base = next = sendNew = expected = 0;
    kept.assign(static_cast<size_t>(arq.settings.window), kEmpty);
  }
  arq.createDue(source, next - base == arq.settings.window);
}

void SelectiveRepeat::sendFromSource(Node& source) {
  const double now = Time::getTime();
  while (Packet* ack = arq.receive(source)) {
    // One of the window's, or a late one from before it, which is read as
    // beyond what was sent and left alone.
    const long long count = arq.numbers.from(ack->getSequenceNumber(), base);
    if (count < sendNew) frame(count).acked = true;
    arq.store.release(ack);
  }
  for (; !window.empty() && window.front().acked; ++base) {
    arq.acknowledged(base);
    window.pop();
  }
  while (!timers.empty()) {
    if (!guards(timers.front())) {
      timers.pop();
    } else if (now >= timers.front().start + arq.timeout) {
      const long long count = timers.pop().count;
      arq.timedOut(count);
      frame(count).ready = now + Node::getProcessingDelay();
      again.push(count);
    } else {
      break;
    }
  }
  while (next - base < arq.settings.window && arq.backlogged()) {
    next = arq.admit() + 1;
    window.push(Frame{now + Node::getProcessingDelay(), 0.0, false});
  }
  source.idleUntil(kForever);  // unless told otherwise, until an ACK arrives
  transmit(source, now);
  if (!timers.empty()) {
    source.idleUntil(timers.front().start + arq.timeout);
  }
  // generatePackets, called first in each tick, refills the backlog then.
  if (next - base < arq.settings.window) source.idleUntil(arq.nextCreation());
  arq.dataLink.commitDue(source.outgoingQueue, now, source);
}

void SelectiveRepeat::transmit(Node& source, double now) {
  const kit::Link& link = arq.dataLink;
  for (;;) {
    while (!again.empty() &&
           (again.front() < base || frame(again.front()).acked)) {
      again.pop();  // acknowledged while it waited
    }
    const bool resend = !again.empty();
    if (!resend && sendNew == next) return;
    // A frame to go again goes first if it is ready when the link is.
    bool takeAgain = resend;
    if (resend && sendNew < next) {
      takeAgain = !(link.startFor(frame(sendNew).ready) <
                    link.startFor(frame(again.front()).ready));
    }
    const long long count = takeAgain ? again.front() : sendNew;
    Frame& going = frame(count);
    const double at = link.startFor(going.ready);
    if (!kit::Link::startsNow(at, now, source)) return;
    arq.sendData(count, at, takeAgain);
    going.start = at;
    timers.push(Timer{count, at});
    if (takeAgain) {
      again.pop();
    } else {
      ++sendNew;
    }
  }
}

void SelectiveRepeat::answerAtSink(Node& sink) {
  arq.startAtSink(sink);
  const long long window = static_cast<long long>(kept.size());
  while (Packet* data = arq.receive(sink)) {
    // In the sink's window if its number is, else one from before it,
    // whose ACK was lost: answered again, if no more than a window back.
    long long count = arq.numbers.from(data->getSequenceNumber(), expected);
    const bool inWindow = count < expected + window;
    if (!inWindow) count -= arq.numbers.space();
    if (count >= expected - window && count >= 0) arq.answer(count);
    long long* slot =
        inWindow ? &kept[static_cast<size_t>(count % window)] : nullptr;
    if (slot != nullptr && *slot == kEmpty) {
      *slot = PacketStore::tag(*data);
      if (count != expected) arq.buffer(*data);
    } else {
      arq.discard(*data);  // a duplicate
    }
    for (long long* next = &kept[static_cast<size_t>(expected % window)];
         *next != kEmpty;
         next = &kept[static_cast<size_t>(expected % window)]) {
      arq.deliver(arq.numbers.of(expected), *next);
      *next = kEmpty;
      ++expected;
    }
    arq.store.release(data);
  }
  arq.sendAcks(sink);
}

}  // namespace

// Its hooks, its one object made as the program starts (kit/hooks.h), which
// linksim-arq finds by its file's name in protocols/protocol_list.h.
LINKSIM_SHIPPED_PROTOCOL(selective_repeat, SelectiveRepeat)
