#ifndef LINKSIM_CHECKER_PROMISES_H_
#define LINKSIM_CHECKER_PROMISES_H_

// The promises that every trace a protocol writes with the kit keeps,
// whatever the protocol, checked row by row. Each is a case of check() and
// a line of this list, of linksim-check's --help and of its manual page:
//   - the clock never goes back;
//   - data frames go from the source alone, ACKs from the sink alone (frames
//     of a kind a protocol declares, such as a NAK, from either);
//   - each direction is first in, first out: a receive or lost row is of
//     the oldest frame the other node put on the link that has not yet
//     arrived, of its kind, sequence number and packet; so nothing arrives
//     that was not sent, and no frame overtakes another;
//   - a packet's data frame is sent once, and resent only after that send;
//   - deliver rows hand up packets 0, 1, 2, ... once each, in order, each
//     after a receive at the sink of a data frame holding it;
//   - acknowledged rows are 0, 1, 2, ... once each, each after the deliver
//     row of its packet and after the source received an ACK holding that
//     packet or a later one (an ACK lost on the way counts for nothing).
// Frames still in flight at the end, and packets never delivered or
// acknowledged, break nothing: a run ends when its time is up.
//
// State is O(frames in flight + packets received ahead of delivery +
// packets sent ahead of an earlier packet's first send), at the most the
// trace ever had.

#include <cstddef>
#include <cstdint>

#include "rows.h"
#include "tables.h"

namespace checker {

/// The longest line a trace may hold; a longer one is not a trace's (and
/// would otherwise be held whole in memory).
constexpr std::size_t kMaxLine = 4096;

class Promises {
 public:
  /// Frame kinds are named as `kinds` names them; the tables grow in
  /// `memory`.
  Promises(const FrameKinds* kinds, Memory* memory);

  /// What check() found.
  enum Outcome { kHeld, kBroken, kNoMemory };
  /// Checks `row`, the trace's next: kHeld, or kBroken, with `*why` said,
  /// for the first broken promise, or kNoMemory, said too, when the tables
  /// outgrow the memory. After either, check nothing more.
  Outcome check(const Row& row, Message* why);

 private:
  /// False, having said why, if `row`'s clock is before the last row's.
  bool clockHolds(const Row& row, Message* why);
  /// clockHolds where either clock is too long for two integers.
  bool longClockHolds(const Row& row, Message* why);
  Outcome puts(const Row& row, Message* why);
  Outcome arrives(const Row& row, Message* why);
  Outcome delivers(const Row& row, Message* why);
  Outcome acknowledges(const Row& row, Message* why);
  /// True if `packet` is `next`, the next packet to be `done` ("delivered",
  /// "acknowledged"); false, having said why, if it is one done already or
  /// one that skips ahead.
  static bool isNext(std::uint64_t packet, std::uint64_t next, const char* done,
                     Message* why);
  /// The tables' failure: kNoMemory, with `*why` said.
  static Outcome noMemory(const char* holding, std::size_t count, Message* why);

  const FrameKinds* kinds_;
  // The last row's clock: two integers, or text when too long for them.
  bool lastLong_ = false;
  std::uint64_t lastWhole_ = 0;
  std::uint64_t lastFraction_ = 0;
  char lastLongClock_[kMaxLine] = {};
  std::size_t lastLongSize_ = 0;
  FrameFifo inFlight_[2];  // by sender, a kit::TraceNode
  // Data frames first sent: every packet before firstUnsent_, and those
  // after it in sentAhead_.
  std::uint64_t firstUnsent_ = 0;
  PacketSet sentAhead_;
  // Data packets at the sink, not yet delivered: the next, and after it.
  std::uint64_t nextDelivery_ = 0;
  bool nextReceived_ = false;
  PacketSet received_;
  std::uint64_t nextAcknowledgement_ = 0;
  bool ackReceived_ = false;
  std::uint64_t latestAck_ = 0;  // the latest packet an ACK received holds
};

}  // namespace checker

#endif  // LINKSIM_CHECKER_PROMISES_H_
