#ifndef LINKSIM_PROTOCOLS_KIT_ARRIVALS_H_
#define LINKSIM_PROTOCOLS_KIT_ARRIVALS_H_

// When each packet of a run arrives at the source, to be created into its
// backlog: periodic, packet k at k / rate; or Poisson (LINKSIM_ARRIVALS=
// poisson), the gaps between arrivals exponential with mean 1 / rate, the
// first gap from clock 0 included, drawn from the seed. A full backlog
// postpones a packet's creation, never its arrival, from which its delay
// counts. The Poisson draws come from a generator of their own, so the same
// seed gives the same arrivals whatever the channel loses and whichever
// protocol runs: the protocols can be compared on the very same packets.

#include <cmath>
#include <cstddef>

#include "basics.h"
#include "environment.h"
#include "fifo.h"
#include "random.h"
#include "simulator/Node.h"

namespace kit {

class Arrivals {
 public:
  /// Starts a run: periodic, or Poisson afresh from the seed.
  void startRun(const Settings& settings) {
    poisson = settings.poisson;
    times.clear();
    first = 0;
    last = 0.0;
    // Another stream than the channel's, which seeds with the seed itself.
    if (poisson) random.seed(settings.seed ^ 0x9e3779b97f4a7c15U);
  }

  /// When packet `count` (from 0) of the run arrives; NaN for one that
  /// forgetBefore forgot.
  double at(long long count) {
    return poisson ? drawnAt(count) : nextDue(count);
  }

  /// Forgets the arrivals of the packets before `count`: none will be asked
  /// for again. Periodic ones cost nothing to keep.
  void forgetBefore(long long count) {
    if (poisson) forgetDrawn(count);
  }

  /// How many packets of the run arrive before `end`, and whether that is
  /// the count or its expectation.
  struct Count {
    long long packets;
    bool exact;
  };

  /// The packets that arrive before `end` (the run's duration), counted
  /// once the run is over: every one the source took in, and those its
  /// backlog held back or that came after its last tick. Periodic arrivals
  /// are counted in closed form. Poisson ones are drawn on, on a copy of
  /// the generator, but at most kMostDrawnAtEnd of them, so that no rate
  /// or duration can hold the run's end: past that, the rest count as their
  /// expectation, rate x the time left, and the count is not exact. So is
  /// one of 2^53 or more, whose doubles no longer tell each packet's time,
  /// and one past kMostCounted, which stands for it (an infinite rate).
  Count inRun(double end) const;

  /// The most Poisson arrivals drawn to count them at the run's end, some
  /// tens of milliseconds' worth.
  static constexpr long long kMostDrawnAtEnd = 1LL << 22;
  /// The most arrivals counted.
  static constexpr long long kMostCounted = 1LL << 62;

 private:
  // Out of line, so that periodic arrivals, the common case, pay one test.
  [[gnu::noinline]] double drawnAt(long long count) {
    if (count < first) return std::nan("");
    // A NaN rate brings no packet, as a periodic one does.
    if (std::isnan(Node::getPacketRate())) return kForever;
    while (count - first >= static_cast<long long>(times.size())) {
      last += exponential(random, 1.0 / Node::getPacketRate());
      times.push(last);
    }
    return times[static_cast<size_t>(count - first)];
  }
  [[gnu::noinline]] void forgetDrawn(long long count) {
    if (count <= first) return;
    drawnAt(count - 1);  // drawn in order, whoever asks first
    while (first < count) {
      times.pop();
      ++first;
    }
  }

  /// The count of `packets` and `more`, and whether it is exact: more may
  /// be infinite or NaN (none), and the sum stops at kMostCounted.
  static Count counted(long long packets, double more, bool exact);

  bool poisson = false;
  Random random;
  Fifo<double> times;   // of the packets from first on, as drawn so far
  long long first = 0;  // the oldest packet whose arrival is kept
  double last = 0.0;    // the latest arrival drawn
};

inline Arrivals::Count Arrivals::counted(long long packets, double more,
                                         bool exact) {
  if (!(more > 0.0)) return Count{packets, exact};
  if (!(more < static_cast<double>(kMostCounted - packets))) {
    return Count{kMostCounted, false};
  }
  return Count{packets + std::llround(more), exact};
}

inline Arrivals::Count Arrivals::inRun(double end) const {
  const double rate = Node::getPacketRate();
  if (!(rate > 0.0) || !(end > 0.0)) return Count{0, true};  // NaN: none
  if (!poisson) {
    // Packet k arrives at k / rate: ceil(end x rate) of them, but for the
    // rounding of the product, which each packet's own time settles.
    const double estimate = std::ceil(end * rate);
    if (!(estimate < 0x1p53)) return counted(0, estimate, false);
    auto count = static_cast<long long>(estimate);
    while (count > 0 && !(nextDue(count - 1) < end)) --count;
    while (nextDue(count) < end) ++count;
    return Count{count, true};
  }
  // Those forgotten arrived, and were delivered; the source draws one
  // arrival ahead of those it has taken in, which may lie past the end.
  size_t kept = times.size();
  while (kept > 0 && !(times[kept - 1] < end)) --kept;
  const long long drawn = first + static_cast<long long>(kept);
  if (kept < times.size()) return Count{drawn, true};
  Random more = random;
  double at = last;
  for (long long count = drawn; count < drawn + kMostDrawnAtEnd; ++count) {
    at += exponential(more, 1.0 / rate);
    if (!(at < end)) return Count{count, true};
  }
  return counted(drawn + kMostDrawnAtEnd, (end - at) * rate, false);
}

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_ARRIVALS_H_
