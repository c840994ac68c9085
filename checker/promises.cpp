#include "promises.h"

#include <cinttypes>
#include <cstring>
#include <string_view>

#include "kit/trace_format.h"

namespace checker {

namespace {

/// True if `frame` is the one `row` says arrived.
bool isFrameOf(const Frame& frame, const Row& row) {
  return frame.packet == row.packet && frame.sequence == row.sequence &&
         frame.kind == row.kind;
}

}  // namespace

Promises::Promises(const FrameKinds* kinds, Memory* memory)
    : kinds_(kinds),
      inFlight_{FrameFifo(memory), FrameFifo(memory)},
      sentAhead_(memory),
      received_(memory) {}

Promises::Outcome Promises::check(const Row& row, Message* why) {
  if (!clockHolds(row, why)) return kBroken;
  switch (row.event) {
    case kit::kSend:
    case kit::kResend:
      return puts(row, why);
    case kit::kReceive:
    case kit::kLost:
      return arrives(row, why);
    case kit::kDeliver:
      return delivers(row, why);
    case kit::kAcknowledged:
      return acknowledges(row, why);
    default:  // timeout, discard, buffer, end: the clock's promise alone
      return kHeld;
  }
}

bool Promises::clockHolds(const Row& row, Message* why) {
  if (row.longClock || lastLong_) return longClockHolds(row, why);
  if (row.whole < lastWhole_ ||
      (row.whole == lastWhole_ && row.fraction < lastFraction_)) {
    say(why, "the clock goes back, from %s to %s",
        clockText(lastWhole_, lastFraction_).text, shown(row.clock).text);
    return false;
  }
  lastWhole_ = row.whole;
  lastFraction_ = row.fraction;
  return true;
}

bool Promises::longClockHolds(const Row& row, Message* why) {
  // Compared as text, exactly.
  const Quoted held = clockText(lastWhole_, lastFraction_);
  const std::string_view last =
      lastLong_ ? std::string_view(lastLongClock_, lastLongSize_)
                : std::string_view(held.text);
  if (compareClocks(row.clock, last) < 0) {
    say(why, "the clock goes back, from %s to %s", shown(last).text,
        shown(row.clock).text);
    return false;
  }
  lastLong_ = row.longClock;
  lastWhole_ = row.whole;
  lastFraction_ = row.fraction;
  if (lastLong_) {
    lastLongSize_ = row.clock.size();
    std::memcpy(lastLongClock_, row.clock.data(), lastLongSize_);
  }
  return true;
}

Promises::Outcome Promises::puts(const Row& row, Message* why) {
  const char* const put = row.event == kit::kSend ? "sent" : "resent";
  if ((row.kind == kit::kDataKind && row.node != kit::kAtSource) ||
      (row.kind == kit::kAckKind && row.node != kit::kAtSink)) {
    say(why,
        "%s frame %d holding packet %" PRIu64
        " %s by the %s: %s go from the "
        "%s alone",
        kinds_->name(row.kind), row.sequence, row.packet, put,
        kit::kTraceNodes[row.node],
        row.kind == kit::kDataKind ? "data frames" : "ACKs",
        kit::kTraceNodes[1 - row.node]);
    return kBroken;
  }
  if (row.kind == kit::kDataKind) {
    const bool sent =
        row.packet < firstUnsent_ || sentAhead_.contains(row.packet);
    if (sent == (row.event == kit::kSend)) {
      say(why, "data frame %d holding packet %" PRIu64 " %s", row.sequence,
          row.packet,
          sent ? "sent twice: a frame sent again is resent"
               : "resent before it was sent");
      return kBroken;
    }
    if (row.event == kit::kSend && row.packet == firstUnsent_) {
      ++firstUnsent_;
      while (sentAhead_.erase(firstUnsent_)) ++firstUnsent_;
    } else if (row.event == kit::kSend && !sentAhead_.insert(row.packet)) {
      return noMemory("packets sent ahead of an earlier one", sentAhead_.size(),
                      why);
    }
  }
  FrameFifo& link = inFlight_[row.node];
  if (!link.push(Frame{row.packet, row.sequence, row.kind})) {
    return noMemory("frames in flight", link.size(), why);
  }
  return kHeld;
}

Promises::Outcome Promises::arrives(const Row& row, Message* why) {
  const int sender = 1 - row.node;
  FrameFifo& link = inFlight_[sender];
  if (link.empty() || !isFrameOf(link[0], row)) {
    std::size_t later = 1;
    while (later < link.size() && !isFrameOf(link[later], row)) ++later;
    Message after;
    if (later >= link.size()) {
      say(&after, "more often than the %s sent it", kit::kTraceNodes[sender]);
    } else {
      say(&after,
          "before %s frame %d holding packet %" PRIu64
          ", which the %s sent before it",
          kinds_->name(link[0].kind), link[0].sequence, link[0].packet,
          kit::kTraceNodes[sender]);
    }
    say(why, "%s frame %d holding packet %" PRIu64 " arrives at the %s (%s) %s",
        kinds_->name(row.kind), row.sequence, row.packet,
        kit::kTraceNodes[row.node], kit::kTraceEvents[row.event].name,
        after.text);
    return kBroken;
  }
  link.pop();
  if (row.event != kit::kReceive) return kHeld;
  if (row.kind == kit::kDataKind && row.node == kit::kAtSink &&
      row.packet >= nextDelivery_) {
    if (row.packet == nextDelivery_) {
      nextReceived_ = true;
    } else if (!received_.insert(row.packet)) {
      return noMemory("packets received ahead of delivery", received_.size(),
                      why);
    }
  }
  if (row.kind == kit::kAckKind && row.node == kit::kAtSource &&
      (!ackReceived_ || row.packet > latestAck_)) {
    ackReceived_ = true;
    latestAck_ = row.packet;
  }
  return kHeld;
}

Promises::Outcome Promises::delivers(const Row& row, Message* why) {
  if (!isNext(row.packet, nextDelivery_, "delivered", why)) return kBroken;
  if (!nextReceived_) {
    say(why,
        "packet %" PRIu64
        " delivered, but the sink received no data frame holding it",
        row.packet);
    return kBroken;
  }
  nextReceived_ = received_.erase(++nextDelivery_);
  return kHeld;
}

Promises::Outcome Promises::acknowledges(const Row& row, Message* why) {
  if (!isNext(row.packet, nextAcknowledgement_, "acknowledged", why)) {
    return kBroken;
  }
  if (row.packet >= nextDelivery_) {
    say(why, "packet %" PRIu64 " acknowledged before the sink delivered it",
        row.packet);
    return kBroken;
  }
  if (!ackReceived_ || latestAck_ < row.packet) {
    say(why,
        "packet %" PRIu64
        " acknowledged, but the source received no ACK holding it or a "
        "later packet",
        row.packet);
    return kBroken;
  }
  ++nextAcknowledgement_;
  return kHeld;
}

bool Promises::isNext(std::uint64_t packet, std::uint64_t next,
                      const char* done, Message* why) {
  if (packet < next) {
    say(why, "packet %" PRIu64 " %s again", packet, done);
  } else if (packet > next) {
    say(why, "packet %" PRIu64 " %s before packet %" PRIu64, packet, done,
        next);
  }
  return packet == next;
}

Promises::Outcome Promises::noMemory(const char* holding, std::size_t count,
                                     Message* why) {
  say(why, "out of memory, holding %zu %s", count, holding);
  return kNoMemory;
}

}  // namespace checker
