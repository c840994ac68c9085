#ifndef LINKSIM_PROTOCOLS_PROTOCOL_KIT_H_
#define LINKSIM_PROTOCOLS_PROTOCOL_KIT_H_

// The protocol kit: what the example protocols share, for any protocol to
// build on; this header brings in all of it. What runs on every tick or
// frame is inline in the headers; what runs once per run, load or file is
// in the library linksim_kit, which a protocol links, so a protocol stays one
// source file to write.
//   kit/packet_store.h  PacketStore, which owns a protocol's packets
//   kit/frames.h        the kinds of frame: data, ACK and a protocol's own
//   kit/basics.h        creating data packets at the packet rate into a
//                       backlog, making frames, numbering, starting a run
//   kit/fifo.h          a queue that costs the same however much it holds
//   kit/link.h          a transmitter that sends one frame at a time, and a
//                       wire that holds frames until they are due
//   kit/variables.h     the table of the LINKSIM_ variables, and the lookup
//                       they are read through
//   kit/environment.h   reading them as a protocol and each run start
//   kit/random.h        numbers drawn from a seed, alike on every machine
//   kit/arrivals.h      when each packet arrives: periodic or Poisson
//   kit/channel.h       the lossy channel: each frame's fate asked of its
//                       loss models (each frame on its own, in bursts, the
//                       frames named)
//   kit/trace_format.h  the trace's format, for its writer and its readers
//   kit/trace.h         "acknowledged packet N at CLOCK", and the trace
//   kit/recorder.h      what a run did: the trace's rows, the counts, the
//                       summary and the stats row
//   kit/arq.h           the steps the three ARQ protocols share
//   kit/hooks.h         a protocol class as the node hooks, made as the
//                       program starts, alone or as one linksim-arq chooses

#include "kit/arq.h"
#include "kit/arrivals.h"
#include "kit/basics.h"
#include "kit/channel.h"
#include "kit/environment.h"
#include "kit/fifo.h"
#include "kit/frames.h"
#include "kit/hooks.h"
#include "kit/link.h"
#include "kit/packet_store.h"
#include "kit/random.h"
#include "kit/recorder.h"
#include "kit/trace.h"
#include "kit/trace_format.h"
#include "kit/variables.h"

#endif  // LINKSIM_PROTOCOLS_PROTOCOL_KIT_H_
