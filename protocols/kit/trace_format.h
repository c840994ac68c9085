#ifndef LINKSIM_PROTOCOLS_KIT_TRACE_FORMAT_H_
#define LINKSIM_PROTOCOLS_KIT_TRACE_FORMAT_H_

// The trace's format, one header for the kit, which writes traces, and for
// linksim-check, which reads them (and for the lab's page, which draws
// them): whatever a trace may hold is said here once.
//
// A trace is CSV: the header line kTraceHeader, then one row per event in
// the order the events happened,
//   clock,node,event,frame,sequence,packet
// `clock` as "%f" writes it; `node` "source" or "sink"; `event` one of
// kTraceEvents, each at the node it names (or either); `frame` a frame
// kind's name (isFrameName), "data" and "ack" or one a protocol declares, at
// most kMaxFrameKinds of them; `sequence` the number the frame carries, an
// int; `packet` the number in the run of the packet the frame holds or the
// event concerns, a count from 0.
//
// A run's trace ends with one row of the event "end" (kEnd), written when
// the run ends and never otherwise: its clock the run's last, node "source",
// frame "data", sequence 0, and as packet the number of rows before it, the
// header not counted. A trace without it is incomplete: the run was cut
// short, or its writer was.

#include <cstddef>

namespace kit {

/// The trace's first line, without its newline.
constexpr const char* kTraceHeader = "clock,node,event,frame,sequence,packet";

/// The nodes, as the trace's node column names them.
enum TraceNode : int { kAtSource = 0, kAtSink = 1, kAtEither = -1 };
constexpr const char* kTraceNodes[] = {"source", "sink"};

/// The trace's events, in the order linksim-check counts them.
enum TraceEvent : int {
  kSend,          ///< a frame goes on the link for the first time
  kResend,        ///< a frame goes on the link again
  kReceive,       ///< a frame arrives and is read
  kLost,          ///< a frame arrives damaged, or not at all
  kDeliver,       ///< the sink hands a packet up
  kAcknowledged,  ///< the source learns a packet arrived, and drops it
  kTimeout,       ///< a timer of the source fires
  kDiscard,       ///< the sink drops a data frame it read
  kBuffer,        ///< the sink keeps a data frame to hand up later
  kEnd,           ///< the run ended: the trace's last row
  kTraceEventCount
};

/// Each event's word in the trace and the only node that writes it.
struct TraceEventName {
  const char* name;
  int node;  // a TraceNode
};
/// Indexed by TraceEvent.
constexpr TraceEventName kTraceEvents[kTraceEventCount] = {
    {"send", kAtEither},    {"resend", kAtEither}, {"receive", kAtEither},
    {"lost", kAtEither},    {"deliver", kAtSink},  {"acknowledged", kAtSource},
    {"timeout", kAtSource}, {"discard", kAtSink},  {"buffer", kAtSink},
    {"end", kAtSource},
};

/// The kinds every trace has, by these numbers; a protocol's own follow.
constexpr int kDataKind = 0;
constexpr int kAckKind = 1;
constexpr const char* kDataName = "data";
constexpr const char* kAckName = "ack";

/// Most kinds of frame a trace may name, the two above among them.
constexpr int kMaxFrameKinds = 16;

/// True for a frame kind's name: a lowercase letter, then lowercase letters,
/// digits, '_' or '-', which a CSV field holds as it is.
constexpr bool isFrameName(const char* name, std::size_t size) {
  if (name == nullptr || size == 0 || name[0] < 'a' || name[0] > 'z') {
    return false;
  }
  for (std::size_t i = 0; i < size; ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
          c == '-')) {
      return false;
    }
  }
  return true;
}

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_TRACE_FORMAT_H_
