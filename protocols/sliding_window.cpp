// Sliding window over the error-free link: the source keeps up to W data
// packets sent and not yet acknowledged, the sink answers every data packet
// with an ACK of its sequence number, and the source, reading an ACK, writes
// "acknowledged packet N at CLOCK" and lets the next packet go. Built in
// place of the empty hooks with
//   cmake -S . -B build
//   -DLINKSIM_PROTOCOL=protocols/sliding_window.cpp
//
// The window. W comes from the environment variable LINKSIM_WINDOW, a whole
// number from 1 to 65536, 8 when unset. Anything else is refused when the
// program starts, before it writes a line: one line on standard error and
// exit status 2. Each run takes the value again as it starts, so a test can
// change it between runs. With W = 1 this is the stop-and-wait example,
// line for line. It loses nothing and has no timer, so beside LINKSIM_TRACE
// and LINKSIM_STATS it reads only LINKSIM_ARRIVALS, and LINKSIM_SEED with
// Poisson arrivals (kit/variables.h; see "What it does not read" below),
// and its run ends with the kit's summary (kit/recorder.h). A frame's send is
// recorded in the tick it starts, as the kit's transmitter records its own,
// though it is handed to outgoingQueue, ready later, as soon as the window
// lets it go: so the counts and the summary without loss are the ARQ
// protocols'.
//
// Creation is stop-and-wait's: packet k (sequence number k, from 0) is due at
// clock k / rate, and generatePackets creates every packet that is due while
// the backlog in firstQueue has room for it (16). With LINKSIM_ARRIVALS=
// poisson the packets arrive at random instead (kit/arrivals.h), drawn from
// LINKSIM_SEED, which the sliding window then reads.
//
// What it does not read. The link loses nothing, so LINKSIM_LOSS,
// _ACK_LOSS, _BER, _BURST and _DROP mean nothing here, nor does a timeout.
// Nor LINKSIM_SEQUENCE_BITS: the sink takes every frame as the next, as on
// a link that loses and reorders nothing it is, and no frame is ever sent
// twice, so no window is too large for any number of bits; narrower numbers
// would change nothing but the trace's sequence column. Each is warned of
// at start, as ignored.
//
// The transmitter. The run loop moves every packet that is due, however
// many: two packets ready at once arrive at once. A real sender puts one
// packet on the wire at a time, so the protocol serialises its own packets:
// a data packet handed over at clock c becomes ready to send at
//   r(k) = max(c + P, r(k-1) + Td),
// the later of the processing delay and the moment the previous packet has
// left; the sink's ACKs likewise, with Ta. P is the processing delay, A the
// propagation delay, Td = (data packet size + overhead) / bit rate, Ta = ACK
// size / bit rate; the bit rate comes from Simulator::running().
//
// Timing. As in stop-and-wait, a packet ready at r is due at r + A + X, is
// moved in the tick whose clock + 1 first reaches that, and the other node's
// hook sees it one tick later, at ceil(r + A + X). So, with s(k) the tick
// data packet k is handed over, a(k) the tick the sink sees it, q(k) the
// ready time of its ACK and e(k) the tick the source reads that ACK (and
// writes its line):
//   r(k) = max(s(k) + P, r(k-1) + Td)     a(k) = ceil(r(k) + A + Td)
//   q(k) = max(a(k) + P, q(k-1) + Ta)     e(k) = ceil(q(k) + A + Ta)
//   s(k) = max(the tick packet k is in the backlog, e(k - W)),
// since the ACK of packet k - W, read at e(k - W), frees its place in the
// window in that tick. Assume the source always has a packet when the
// window and its transmitter can take one (a packet rate of at least one per
// tick, and Td >= 1, as in every link of the tests and the study), and ACKs
// no larger than data packets (Ta <= Td). T = Td + Ta + 2A + 2P is the
// textbook's round trip.
//
// Where every stage is a whole number of ticks (P, A, Td, Ta whole), no
// ceiling rounds. Packets 0 .. W-1 leave back to back: r(k) = P + k Td, and
// e(k) = r(k) + A + Td + P + A + Ta = T + k Td.
//   Link-limited, W Td >= T: the ACK of packet k - W is read at
//     T + (k - W) Td <= k Td = r(k-1) + Td - P,
//   before the transmitter is free, so r(k) = P + k Td for every k and the
//   ACKs come one per Td: e(k) = T + k Td. The link never idles.
//   Window-limited, W Td < T: packet W waits for ACK 0, read at T, so
//     r(W) = T + P, and round n (packets nW .. nW + W - 1) repeats round 0
//   T later: e(nW + j) = (n + 1) T + j Td. The link idles T - W Td per round.
// Both in one: e(k) = T + k Td + floor(k / W) max(0, T - W Td). With W = 1
// that is (k + 1) T, stop-and-wait's period on whole ticks.
//
// Elsewhere each ceiling adds less than a tick, so ACK k, whose chain from
// the start of the run has passed 2 (floor(k / W) + 1) hops, is read between
// that closed form and the closed form plus 2 (floor(k / W) + 1) ticks: the
// discrete recurrence is never earlier than the real one (ceil(x) >= x and
// max is monotonic), and by induction over the rounds it is later by at most
// one tick per hop. In the link-limited regime the transmitter chain adds no
// ceiling, so there the error stays below 2 ticks. A run writes ACK k when
// e(k) is a tick of the run, below the duration L; the link's utilization
// is then (ACKs written) Td / L, against the textbook's min(1, W Td / T).
// examples/link.txt (Td 8.64, T 21.92) with W = 8: W Td = 69.12 >= T, so
// the link is the limit: an ACK every 8.64 ticks, 56 in 500 ticks.
//
// Idle. Like stop-and-wait, each hook says until when it has nothing to do:
// the sink until a data packet arrives; the source's sendPackets until an
// ACK arrives while the window is full, else until the next packet is due;
// its generatePackets until the next packet is due, or, with the backlog
// full, until an ACK arrives (awake while the window has room or an ACK
// waits, since sendPackets then frees a slot in this tick).
//
// Ownership is stop-and-wait's: every packet comes from the store, and each
// is released as it leaves its last queue; every run starts by taking out
// and releasing what an earlier run left in its nodes' queues.

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "model/Packet.h"
#include "model/Time.h"
#include "protocol_kit.h"
#include "simulator/Node.h"
#include "simulator/Simulator.h"

namespace {

/// Transfer time of `size` on the running link; 0 outside a run.
double transferTime(double size) {
  const Simulator* link = Simulator::running();
  return link != nullptr ? size / link->bitRate : 0.0;
}

/// The protocol's state for the current run, and the store behind it.
class SlidingWindow {
 public:
  static constexpr const char* kName = "sliding-window";
  static constexpr unsigned kReads = kit::kReadsWindow | kit::kReadsArrivals;

  SlidingWindow() {
    Simulator::atRunEnd(&endRuns);
    made = this;
  }
  ~SlidingWindow() { made = nullptr; }
  SlidingWindow(const SlidingWindow&) = delete;
  SlidingWindow& operator=(const SlidingWindow&) = delete;

  /// Reads the variables as the program starts.
  bool init(std::string* error) {
    if (!kit::startSettings(kName, kReads, &settings, error)) return false;
    window = settings.window;
    return true;
  }

  /// The source's generatePackets: creates the packets that are due.
  void generate(Node& source);
  /// The source's sendPackets: reads ACKs, then fills the window.
  void sendFromSource(Node& source);
  /// The sink's sendPackets: answers every data packet that arrived.
  void answerAtSink(Node& sink);

 private:
  /// A frame handed over whose start has not come yet. Its send is
  /// recorded in the tick it starts in, as the kit's transmitter records
  /// its own, so that the counts of a run agree with theirs.
  struct Pending {
    double start;
    char type;
    int sequence;
    long long packet;
  };
  /// Starts a run: the variables again, the counts and the trace afresh.
  void begin();
  /// Records the send of each frame of `pending` that starts in this tick,
  /// whose clock is `now`, and has `node` wake when the next one does.
  void recordStarts(kit::Fifo<Pending>& pending, Node& node, double now);
  /// At the end of every run: its summary, stats and trace.
  static void endRuns();

  static inline SlidingWindow* made = nullptr;

  kit::Settings settings;
  kit::Recorder recorder{kName};
  PacketStore store;
  kit::Arrivals arrivals;
  kit::Fifo<Pending> dataStarts;
  kit::Fifo<Pending> ackStarts;
  int window = settings.window;
  long long created = 0;  // this run's data packets so far
  long long acked = 0;    // of them acknowledged; the next ACK is acked's
  int outstanding = 0;    // sent and not yet acknowledged
  double dataReady = -std::numeric_limits<double>::infinity();
  double ackReady = -std::numeric_limits<double>::infinity();
};

void SlidingWindow::begin() {
  kit::rereadSettings(kReads, &settings);
  window = settings.window;
  recorder.startRun(settings, kReads, window, std::nan(""));
  arrivals.startRun(settings);
  dataStarts.clear();
  ackStarts.clear();
}

void SlidingWindow::endRuns() {
  if (made == nullptr) return;
  if (!made->recorder.isRunning()) made->begin();
  made->recorder.endRun(&made->arrivals);
}

void SlidingWindow::recordStarts(kit::Fifo<Pending>& pending, Node& node,
                                 double now) {
  while (!pending.empty() && pending.front().start < now + 1.0) {
    const Pending frame = pending.pop();
    recorder.frame(node.getType(), kit::FrameEvent::kSend, frame.type,
                   frame.sequence, frame.packet);
  }
  if (!pending.empty()) node.idleUntil(std::floor(pending.front().start));
}

void SlidingWindow::generate(Node& source) {
  if (kit::runStarts()) {
    kit::releaseAll(store, source);
    begin();
    created = 0;
    acked = 0;
    outstanding = 0;
    dataReady = -std::numeric_limits<double>::infinity();
  }
  kit::createDuePackets(store, source, created,
                        [this](long long k) { return arrivals.at(k); });
  if (source.firstQueue.getLength() < kit::kBacklogLimit) {
    source.idleUntil(arrivals.at(created));
  } else if (outstanding == window && source.incomingQueue.getLength() == 0) {
    // Full, and sendPackets frees no slot before an ACK arrives. Otherwise
    // it may free one in this tick, to be filled in the next.
    source.idleUntil(kForever);
  }
}

void SlidingWindow::sendFromSource(Node& source) {
  const double now = Time::getTime();
  PacketQueue& incoming = source.incomingQueue;
  while (incoming.getLength() > 0) {
    Packet* ack =
        incoming.dequeuePacket(incoming.getLeastIndex(), kByReadyToSendTime);
    recorder.frame(kSourceType, kit::FrameEvent::kReceive, *ack);
    // The link loses nothing and keeps the order, so ACKs come oldest first.
    if (outstanding > 0 && ack->getType() == kit::kAckPacket &&
        ack->getSequenceNumber() == kit::sequenceNumber(acked)) {
      recorder.acknowledged(ack->getSequenceNumber(), acked);
      ++acked;
      --outstanding;
    }
    store.release(ack);
  }
  PacketQueue& backlog = source.firstQueue;
  while (outstanding < window && backlog.getLength() > 0) {
    // The oldest first: creation times never fall, and ties keep their order.
    Packet* data =
        backlog.dequeuePacket(backlog.getLeastIndex(), kByCreationTime);
    // It leaves once it is processed and the one before it is on the wire.
    dataReady = std::max(now + Node::getProcessingDelay(),
                         dataReady + transferTime(data->getSize()));
    data->setReadyToSendTime(dataReady);
    dataStarts.push(Pending{dataReady, data->getType(),
                            data->getSequenceNumber(),
                            PacketStore::tag(*data)});
    source.outgoingQueue.enqueuePacket(data, kByReadyToSendTime);
    ++outstanding;
  }
  if (outstanding == window) {
    source.idleUntil(kForever);  // until an ACK arrives
  } else {
    // generatePackets, called first in each tick, refills the backlog then.
    source.idleUntil(arrivals.at(created));
  }
  recordStarts(dataStarts, source, now);
}

void SlidingWindow::answerAtSink(Node& sink) {
  if (kit::runStarts()) {
    kit::releaseAll(store, sink);
    ackReady = -std::numeric_limits<double>::infinity();
  }
  const double now = Time::getTime();
  PacketQueue& incoming = sink.incomingQueue;
  sink.idleUntil(kForever);  // until the next data packet
  while (incoming.getLength() > 0) {
    Packet* data =
        incoming.dequeuePacket(incoming.getLeastIndex(), kByReadyToSendTime);
    recorder.frame(kSinkType, kit::FrameEvent::kReceive, *data);
    if (data->getType() == kit::kDataPacket) {
      // Nothing is lost and the order is kept: each is the next in order.
      const long long packet = PacketStore::tag(*data);
      recorder.deliver(data->getSequenceNumber(), packet, arrivals.at(packet));
      arrivals.forgetBefore(packet + 1);
      Packet* ack = kit::makeAck(store, *data);
      PacketStore::tag(ack) = packet;
      ackReady = std::max(now + Node::getProcessingDelay(),
                          ackReady + transferTime(ack->getSize()));
      ack->setReadyToSendTime(ackReady);
      ackStarts.push(
          Pending{ackReady, ack->getType(), ack->getSequenceNumber(), packet});
      sink.outgoingQueue.enqueuePacket(ack, kByReadyToSendTime);
    }
    store.release(data);
  }
  recordStarts(ackStarts, sink, now);
}

}  // namespace

// Its hooks, its one object made as the program starts (kit/hooks.h), which
// linksim-arq finds by its file's name in protocols/protocol_list.h.
LINKSIM_SHIPPED_PROTOCOL(sliding_window, SlidingWindow)
