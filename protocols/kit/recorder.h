#ifndef LINKSIM_PROTOCOLS_KIT_RECORDER_H_
#define LINKSIM_PROTOCOLS_KIT_RECORDER_H_

// What a run did: the trace's rows as its events happen, the counts behind
// them, and at the run's end the summary on standard output and a row of
// figures in LINKSIM_STATS. Every summary line starts with "summary:", which
// no other line of the program starts with, so a script can pick them out
// or skip them; the stats row gives the same figures by column name, with
// numbers that read back as the doubles they were.

#include <algorithm>
#include <cassert>
#include <cmath>
#include <string>

#include "arrivals.h"
#include "basics.h"
#include "environment.h"
#include "frames.h"
#include "model/Packet.h"
#include "model/Time.h"
#include "packet_store.h"
#include "simulator/Node.h"
#include "simulator/Simulator.h"
#include "trace.h"
#include "trace_format.h"

namespace kit {

/// What happened to a frame on the link, as the trace names it.
enum class FrameEvent { kSend, kResend, kReceive, kLost };

/// The trace's event for `event`.
constexpr TraceEvent traceEvent(FrameEvent event) {
  constexpr TraceEvent kEvents[] = {kSend, kResend, kReceive, kLost};
  return kEvents[static_cast<int>(event)];
}

/// The trace's node for `node`, kSourceType or kSinkType.
constexpr TraceNode traceNode(char node) {
  return node == kSourceType ? kAtSource : kAtSink;
}

/// The columns of a stats row, in order. Readers go by name, so a column
/// may be added but none renamed.
constexpr const char* kStatsHeader =
    "protocol,window,loss,ber,seed,timeout,propagation_delay,"
    "processing_delay,bit_rate,data_packet_size,data_packet_overhead,"
    "ack_size,duration,packet_rate,acknowledged,delivered,data_sent,"
    "data_resent,data_lost,acks_sent,acks_lost,timeouts,utilization,"
    "delay_mean,delay_max,sequence_bits,burst,arrivals,misdelivered,"
    "arrived,waiting,ack_loss,drop";

/// A run's frames of one kind so far.
struct FrameCounts {
  long long sent = 0;    // first sends
  long long resent = 0;  // sends again
  long long lost = 0;
};

/// A run's figures so far.
struct Counts {
  long long acknowledged = 0;
  long long delivered = 0;
  FrameCounts frames[kMaxFrameKinds];  // by kind (kit/frames.h)
  long long timeouts = 0;
  // Deliveries of a packet other than the next in order, which only a
  // window too large for the sequence numbers lets through.
  long long misdelivered = 0;
  double delaySum = 0.0;  // from arrival to delivery, over those in order
  double delayMax = 0.0;
  // Packets that arrived in the run, counted at its end (-1: not counted),
  // and whether that is the count or its expectation (Arrivals::inRun).
  long long arrived = -1;
  bool arrivedExactly = true;
};

/// Appends `value` to `*text` in the fewest digits that read back as it;
/// nothing for NaN, which stands for "none".
void appendNumber(std::string* text, double value);

class Recorder {
 public:
  /// `protocol` names the protocol in the stats: a name that lives as long
  /// as the program.
  explicit Recorder(const char* protocol) : protocol(protocol) {}
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  /// Starts a run: the counts from 0, the trace afresh. `reads` says which
  /// variables the protocol reads, `window` and `timeout` are the run's
  /// (NaN: it has no timer), for the stats row.
  void startRun(const Settings& run, unsigned runReads, int runWindow,
                double runTimeout);

  /// True from startRun to endRun.
  bool isRunning() const { return running; }

  /// Records `event` at `node` (kSourceType or kSinkType) to the frame of
  /// type `type`, a kind declared, numbered `sequence` that holds packet
  /// `packet`.
  void frame(char node, FrameEvent event, char type, int sequence,
             long long packet) {
    const int kind = frameKindOf(type);
    FrameCounts& of = counts.frames[kind];
    switch (event) {
      case FrameEvent::kSend:
        ++of.sent;
        break;
      case FrameEvent::kResend:
        ++of.resent;
        break;
      case FrameEvent::kLost:
        ++of.lost;
        break;
      case FrameEvent::kReceive:
        break;
    }
    trace.record(traceNode(node), traceEvent(event), frameKind(kind).name,
                 sequence, packet);
  }

  /// The same for `frame`, which holds the packet its tag names.
  void frame(char node, FrameEvent event, const Packet& frame) {
    this->frame(node, event, frame.getType(), frame.getSequenceNumber(),
                PacketStore::tag(frame));
  }

  /// At the sink: packet `packet`, in a frame numbered `sequence`, is handed
  /// up now; it arrived at the source at `arrival`. A packet other than the
  /// next in order is a wrong delivery, counted apart: the packet that was
  /// due has not come, and no delay is counted.
  void deliver(int sequence, long long packet, double arrival) {
    if (packet == counts.delivered) {
      const double delay = Time::getTime() - arrival;
      counts.delaySum += delay;
      counts.delayMax = std::max(counts.delayMax, delay);
    } else {
      ++counts.misdelivered;
    }
    ++counts.delivered;
    trace.record(kAtSink, kDeliver, kDataName, sequence, packet);
  }

  /// At the sink: a data frame numbered `sequence` that holds `packet` is
  /// received and dropped (kDiscard) or kept for later (kBuffer).
  void atSink(TraceEvent event, int sequence, long long packet) {
    assert(event == kDiscard || event == kBuffer);
    trace.record(kAtSink, event, kDataName, sequence, packet);
  }

  /// At the source: packet `packet`, numbered `sequence`, leaves the
  /// window acknowledged; its line goes to standard output, with the
  /// packet's number in the run, which the source knows whatever numbers
  /// the frames carry (wrapping at 2^31 as the line's field does).
  void acknowledged(int sequence, long long packet) {
    ++counts.acknowledged;
    writeAcknowledged(sequenceNumber(packet));
    trace.record(kAtSource, kAcknowledged, kDataName, sequence, packet);
  }

  /// At the source: the timer guarding packet `packet` fired.
  void timedOut(int sequence, long long packet) {
    ++counts.timeouts;
    trace.record(kAtSource, kTimeout, kDataName, sequence, packet);
  }

  /// Ends the run: its trace complete with its end row, its summary on
  /// standard output and its row in the stats file. Frames of a kind the
  /// protocol declared have a summary line each, after the ACKs', and no
  /// column in the stats, whose columns are the same for every protocol so
  /// that rows of several share a file. Given the run's `arrivals`, the
  /// summary and the stats say how many packets arrived in the run and how
  /// many of them the source still held at its end, not acknowledged:
  /// waiting in its backlog, held back by a full one, or in its window.
  void endRun(const Arrivals* arrivals = nullptr);

  Counts counts;
  Trace trace;

 private:
  /// Deliveries of the next packet in order, whose delays count.
  long long inOrder() const { return counts.delivered - counts.misdelivered; }
  double delayMean() const {
    return counts.delaySum / static_cast<double>(inOrder());
  }

  /// Packets that arrived and were not acknowledged by the run's end.
  long long waiting() const { return counts.arrived - counts.acknowledged; }

  /// Every ACK put on the link, the first time or again.
  long long acksSent() const {
    return counts.frames[kAckKind].sent + counts.frames[kAckKind].resent;
  }

  /// Appends the run's row to the stats file, the header first when the
  /// file is empty, or, for a pipe or a FIFO, before the program's first
  /// row to it.
  void writeStats(const Simulator* link, double utilization);

  const char* protocol;
  Settings settings;
  unsigned reads = 0;
  int window = 1;
  double timeout = std::nan("");
  bool running = false;
  std::string headedStream;  // the stats pipe or FIFO given its header
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_RECORDER_H_
