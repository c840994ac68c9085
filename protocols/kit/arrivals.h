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

  bool poisson = false;
  Random random;
  Fifo<double> times;   // of the packets from first on, as drawn so far
  long long first = 0;  // the oldest packet whose arrival is kept
  double last = 0.0;    // the latest arrival drawn
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_ARRIVALS_H_
