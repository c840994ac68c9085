#ifndef LINKSIM_PROTOCOLS_KIT_CHANNEL_H_
#define LINKSIM_PROTOCOLS_KIT_CHANNEL_H_

// The lossy channel. A lost frame is transmitted like any other: it takes
// its time on the link and the run loop moves it as it moves every frame.
// The receiving node's hook drops it when it first sees it, as a receiver
// drops a frame that fails its check, so a loss changes the timing of no
// other frame. Whether a frame is lost is drawn there, one number per frame
// in the order the hooks see them, so a run with the same seed loses the
// same frames.

#include <cmath>
#include <cstdint>
#include <random>

#include "environment.h"
#include "frames.h"
#include "model/Packet.h"
#include "simulator/Node.h"

namespace kit {

class Channel {
 public:
  /// Starts a run: the generator afresh from the seed, and the probability
  /// that a frame of each kind declared is lost, from the frame loss or the
  /// bit error rate and the kind's size in bits.
  void startRun(const Settings& settings) {
    random.seed(settings.seed);
    for (int kind = 0; kind < kMaxFrameKinds; ++kind) {
      loss[kind] = kind < frameKindCount()
                       ? lossOf(settings, frameKind(kind).bits())
                       : 0.0;
    }
  }

  /// Draws whether `frame` is lost. Nothing is drawn where nothing can be
  /// lost, so a run without loss pays nothing for the channel.
  bool lost(const Packet& frame) {
    const double p = loss[frameKindOf(frame.getType())];
    return p > 0.0 && uniform() < p;
  }

 private:
  /// 1 - (1 - b)^S for a frame of S bits under a bit error rate b, else the
  /// frame loss probability; a NaN size loses nothing.
  static double lossOf(const Settings& settings, double bits) {
    if (std::isnan(settings.ber)) return settings.loss;
    return -std::expm1(bits * std::log1p(-settings.ber));
  }

  /// Uniform on [0, 1): the top 53 bits of the next number. The standard
  /// fixes mt19937_64's sequence but not its distributions', so this is
  /// what makes a seed give the same run on every compiler and machine.
  double uniform() { return static_cast<double>(random() >> 11) * 0x1.0p-53; }

  std::mt19937_64 random;
  double loss[kMaxFrameKinds] = {};  // by kind
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_CHANNEL_H_
