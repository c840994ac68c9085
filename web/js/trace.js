'use strict';
// A trace read for drawing and explaining: its rows, its frames (each send
// or resend paired with the row where it arrived, received or lost), what
// the nodes did, and counts so far at every row, so that the diagram and the
// state panel at any clock cost what is on screen, not the whole run. All
// of it comes from the trace alone (kit/trace_format.h), whichever protocol
// wrote it: what a trace cannot tell, the panel says it cannot.
//
// Rows are numbered from 0, the first after the header; a row's line in the
// file, which data-line attributes and linksim-check name, is its number
// plus 2.

const TRACE_HEADER = 'clock,node,event,frame,sequence,packet';
const TRACE_EVENTS = ['send', 'resend', 'receive', 'lost', 'deliver',
  'acknowledged', 'timeout', 'discard', 'buffer', 'end'];
const [EV_SEND, EV_RESEND, EV_RECEIVE, EV_LOST, EV_DELIVER, EV_ACKNOWLEDGED,
  EV_TIMEOUT, EV_DISCARD, EV_BUFFER, EV_END] = TRACE_EVENTS.map((_, i) => i);
const TRACE_NO_EVENT = 255;
/// Frames one node's queue may hold before a pairing gives up looking.
const TRACE_PAIRING_REACH = 4096;

class Trace {
  constructor(text) {
    const lines = text.split('\n');
    if (lines.length > 0 && lines[lines.length - 1] === '') lines.pop();
    this.header = lines.length > 0 ? lines[0].replace(/\r$/, '') : '';
    this.problems = [];
    if (this.header !== TRACE_HEADER) {
      this.problems.push(`its first line is not the header ${TRACE_HEADER}`);
    }
    const count = Math.max(0, lines.length - 1);
    this.lines = lines;
    this.count = count;
    this.clock = new Float64Array(count);
    this.node = new Uint8Array(count);  // 0 source, 1 sink, 2 neither
    this.event = new Uint8Array(count);
    this.kind = new Uint8Array(count);
    this.sequence = new Float64Array(count);
    this.packet = new Float64Array(count);
    this.kinds = ['data', 'ack'];
    this.readRows();
    this.pairFrames();
    this.countSoFar();
  }

  /// The text of row `row` as the file holds it.
  rowText(row) {
    return this.lines[row + 1];
  }

  readRows() {
    const kindIndex = new Map(this.kinds.map((k, i) => [k, i]));
    const eventIndex = new Map(TRACE_EVENTS.map((e, i) => [e, i]));
    let last = -Infinity;
    for (let row = 0; row < this.count; ++row) {
      const fields = this.lines[row + 1].replace(/\r$/, '').split(',');
      const clock = Number(fields[0]);
      const event = eventIndex.has(fields[2]) ? eventIndex.get(fields[2]) :
                                               TRACE_NO_EVENT;
      if (fields.length !== 6 || !Number.isFinite(clock) ||
          event === TRACE_NO_EVENT) {
        if (this.problems.length < 5) {
          this.problems.push(`line ${row + 2} is not a row of the trace`);
        }
      }
      this.clock[row] = Number.isFinite(clock) ? clock : (row > 0 ? this.clock[row - 1] : 0);
      if (this.clock[row] < last && this.problems.length < 5) {
        this.problems.push(`line ${row + 2}: the clock goes back`);
      }
      last = Math.max(last, this.clock[row]);
      this.node[row] = fields[1] === 'source' ? 0 : fields[1] === 'sink' ? 1 : 2;
      this.event[row] = event;
      const kind = fields[3] === undefined ? '' : fields[3];
      if (!kindIndex.has(kind)) {
        kindIndex.set(kind, this.kinds.length);
        this.kinds.push(kind);
      }
      this.kind[row] = Math.min(kindIndex.get(kind), 255);
      this.sequence[row] = Number(fields[4]);
      this.packet[row] = Number(fields[5]);
    }
    this.duration = this.count > 0 ? last : 0;
    this.ended = this.count > 0 && this.event[this.count - 1] === EV_END;
  }

  /// Each send or resend paired with the row at the other node where it
  /// arrived (receive or lost): the first frame still on the link from that
  /// node with the same kind, sequence number and packet, which on the
  /// kit's links, first in first out, is the oldest.
  pairFrames() {
    const frames = [];
    const onLink = [[], []];  // per sender: indexes into frames
    const heads = [0, 0];
    const nth = new Map();  // kind -> frames of it put on the link so far
    this.frameOfRow = new Int32Array(this.count).fill(-1);
    for (let row = 0; row < this.count; ++row) {
      const event = this.event[row];
      const node = this.node[row];
      if ((event === EV_SEND || event === EV_RESEND) && node < 2) {
        const kind = this.kind[row];
        nth.set(kind, (nth.get(kind) || 0) + 1);
        this.frameOfRow[row] = frames.length;
        onLink[node].push(frames.length);
        frames.push({
          row, end: -1, from: node, kind, nth: nth.get(kind),
          resend: event === EV_RESEND, lost: false,
        });
      } else if ((event === EV_RECEIVE || event === EV_LOST) && node < 2) {
        const from = 1 - node;
        const queue = onLink[from];
        const reach = Math.min(queue.length, heads[from] + TRACE_PAIRING_REACH);
        for (let i = heads[from]; i < reach; ++i) {
          const frame = queue[i] === -1 ? null : frames[queue[i]];
          if (frame && frame.kind === this.kind[row] &&
              this.sequence[frame.row] === this.sequence[row] &&
              this.packet[frame.row] === this.packet[row]) {
            frame.end = row;
            frame.lost = event === EV_LOST;
            this.frameOfRow[row] = queue[i];
            queue[i] = -1;
            break;
          }
        }
        while (heads[from] < queue.length && queue[heads[from]] === -1) {
          ++heads[from];
        }
      }
    }
    // What a frame still on the link at the end takes: its direction's time.
    this.hop = [0, 0];
    for (const frame of frames) {
      if (frame.end >= 0 && this.hop[frame.from] === 0) {
        this.hop[frame.from] = this.clock[frame.end] - this.clock[frame.row];
      }
    }
    this.longest = 0;
    for (const frame of frames) {
      frame.start = this.clock[frame.row];
      frame.stop = frame.end >= 0 ? this.clock[frame.end] : frame.start + this.hop[frame.from];
      this.longest = Math.max(this.longest, frame.stop - frame.start);
    }
    this.frames = frames;
    this.frameStarts = Float64Array.from(frames, (f) => f.start);
    this.marks = [];
    for (let row = 0; row < this.count; ++row) {
      const event = this.event[row];
      if (event >= EV_DELIVER && event <= EV_BUFFER) this.marks.push(row);
    }
    this.markClocks = Float64Array.from(this.marks, (row) => this.clock[row]);
  }

  /// Counts so far after every row, and what each delivery and ACK says.
  countSoFar() {
    const n = this.count + 1;
    const counter = () => new Float64Array(n);
    const c = {
      acknowledged: counter(), delivered: counter(), misdelivered: counter(),
      timeouts: counter(), dataSent: counter(), dataResent: counter(),
      dataLost: counter(), acksSent: counter(), acksLost: counter(),
      ownSent: counter(), ownLost: counter(), nextSent: counter(),
    };
    this.wrong = new Uint8Array(this.count);
    this.lastTimeout = new Int32Array(this.count);  // its row at or before each row; -1 none
    let lastTimeout = -1;
    this.firstAck = new Map();  // packet -> first row an ACK of it arrived
    this.buffered = [];  // [row buffered, row delivered or count]
    const bufferedAt = new Map();
    const v = Object.fromEntries(Object.keys(c).map((k) => [k, 0]));
    for (let row = 0; row < this.count; ++row) {
      const event = this.event[row];
      const kind = this.kind[row];
      const packet = this.packet[row];
      const put = event === EV_SEND || event === EV_RESEND;
      if (kind === 0) {
        if (event === EV_SEND) ++v.dataSent;
        if (event === EV_RESEND) ++v.dataResent;
        if (event === EV_LOST) ++v.dataLost;
        if (put && this.node[row] === 0) v.nextSent = Math.max(v.nextSent, packet + 1);
      } else if (kind === 1) {
        if (put) ++v.acksSent;
        if (event === EV_LOST) ++v.acksLost;
        if (event === EV_RECEIVE && this.node[row] === 0 && !this.firstAck.has(packet)) {
          this.firstAck.set(packet, row);
        }
      } else {
        if (put) ++v.ownSent;
        if (event === EV_LOST) ++v.ownLost;
      }
      if (event === EV_ACKNOWLEDGED) ++v.acknowledged;
      if (event === EV_TIMEOUT) {
        ++v.timeouts;
        lastTimeout = row;
      }
      this.lastTimeout[row] = lastTimeout;
      if (event === EV_DELIVER) {
        if (packet !== v.delivered) {
          this.wrong[row] = 1;
          ++v.misdelivered;
        }
        ++v.delivered;
        if (bufferedAt.has(packet)) {
          this.buffered[bufferedAt.get(packet)][1] = row;
          bufferedAt.delete(packet);
        }
      }
      if (event === EV_BUFFER && !bufferedAt.has(packet)) {
        bufferedAt.set(packet, this.buffered.length);
        this.buffered.push([row, this.count]);
      }
      for (const k in c) c[k][row + 1] = v[k];
    }
    this.counts = c;
  }

  /// The last row at or before `clock`; -1 before the first.
  rowAt(clock) {
    let low = 0;
    let high = this.count;
    while (low < high) {
      const mid = (low + high) >> 1;
      if (this.clock[mid] <= clock) low = mid + 1; else high = mid;
    }
    return low - 1;
  }

  /// Indexes of the frames on screen between clocks t0 and t1.
  framesBetween(t0, t1) {
    const first = lowerBound(this.frameStarts, t0 - this.longest);
    const last = lowerBound(this.frameStarts, t1 + 1e-9);
    const shown = [];
    for (let i = first; i < last; ++i) {
      if (this.frames[i].stop >= t0) shown.push(i);
    }
    return shown;
  }

  /// Rows of what the nodes did between clocks t0 and t1.
  marksBetween(t0, t1) {
    return this.marks.slice(lowerBound(this.markClocks, t0),
        lowerBound(this.markClocks, t1 + 1e-9));
  }

  /// What the protocol's state is once row `row` has happened (-1: none
  /// has), as far as the trace tells; `known` holds what the run's settings
  /// say beside it (window, sequenceBits, timeout), where they are known.
  stateAt(row, known = {}) {
    const at = row + 1;
    const c = this.counts;
    const get = (name) => c[name][at];
    const base = get('acknowledged');
    const next = get('nextSent');
    const inFlight = [];
    const window = [];
    if (row >= 0) {
      const clock = this.clock[row];
      for (const i of this.framesBetween(clock, clock)) {
        const f = this.frames[i];
        if (f.row <= row && (f.end < 0 || f.end > row)) inFlight.push(f);
      }
    }
    const flying = new Set(inFlight.filter((f) => f.kind === 0)
        .map((f) => this.packet[f.row]));
    for (let p = base; p < next && window.length < 64; ++p) {
      const ack = this.firstAck.get(p);
      window.push({
        packet: p,
        state: ack !== undefined && ack <= row ? 'acked' :
            flying.has(p) ? 'flying' : 'sent',
      });
    }
    const held = [];
    for (const [buffered, delivered] of this.buffered) {
      if (buffered > row) break;
      if (delivered > row) held.push(this.packet[buffered]);
    }
    const timedOut = row >= 0 ? this.lastTimeout[row] : -1;
    const lastTimeout = timedOut < 0 ? null :
        {clock: this.clock[timedOut], packet: this.packet[timedOut]};
    return {
      clock: row >= 0 ? this.clock[row] : 0, base, next,
      windowMore: next - base - window.length, window, inFlight,
      expected: get('delivered'), held, lastTimeout,
      counts: Object.fromEntries(Object.keys(c).map((k) => [k, get(k)])),
      known,
    };
  }
}

/// The first index of sorted `values` at or above `value`.
function lowerBound(values, value) {
  let low = 0;
  let high = values.length;
  while (low < high) {
    const mid = (low + high) >> 1;
    if (values[mid] < value) low = mid + 1; else high = mid;
  }
  return low;
}
