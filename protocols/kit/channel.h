#ifndef LINKSIM_PROTOCOLS_KIT_CHANNEL_H_
#define LINKSIM_PROTOCOLS_KIT_CHANNEL_H_

// The lossy channel. A lost frame is transmitted like any other: it takes
// its time on the link and the run loop moves it as it moves every frame.
// The receiving node's hook drops it when it first sees it, as a receiver
// drops a frame that fails its check, so a loss changes the timing of no
// other frame. Whether a frame is lost is drawn there, one number per frame
// in the order the hooks see them, so a run with the same seed loses the
// same frames.
//
// Bursts (LINKSIM_BURST=b, with LINKSIM_LOSS=p): each direction (that of the
// frame's sender: the source's data, the sink's ACKs and any frame of a
// protocol's own by who sends it) is a chain of two states, stepped once
// per frame where the draw is made. A frame is
// lost in the bad state and delivered in the good one; the chain stays bad
// with probability 1 - 1/b, so a run of lost frames is b long on average,
// and turns bad with probability r = p / (b (1 - p)), so that it is bad
// r / (r + 1/b) = p of the time. A direction's first frame finds the chain
// bad with that probability p, so the loss is p from the run's start. With
// b = 1 / (1 - p) both probabilities are p: each frame is lost on its own,
// as without bursts, from the same draws.

#include <algorithm>
#include <cmath>

#include "environment.h"
#include "frames.h"
#include "model/Packet.h"
#include "random.h"
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
    bursty = !std::isnan(settings.burst);
    stayBad = 1.0 - 1.0 / settings.burst;
    turnBad =
        std::min(1.0, settings.loss / (settings.burst * (1.0 - settings.loss)));
    chains[0] = chains[1] = State::kUnknown;
  }

  /// Draws whether `frame` is lost. Nothing is drawn where nothing can be
  /// lost, so a run without loss pays nothing for the channel.
  bool lost(const Packet& frame) {
    const double p = loss[frameKindOf(frame.getType())];
    if (!(p > 0.0)) return false;
    const int way = frame.getSource() == kSinkType ? 1 : 0;
    return bursty ? step(&chains[way], p) : uniform(random) < p;
  }

 private:
  /// 1 - (1 - b)^S for a frame of S bits under a bit error rate b, else the
  /// frame loss probability; a NaN size loses nothing.
  static double lossOf(const Settings& settings, double bits) {
    if (std::isnan(settings.ber)) return settings.loss;
    return -std::expm1(bits * std::log1p(-settings.ber));
  }

  /// A direction's chain: bad loses the frame.
  enum class State { kUnknown, kGood, kBad };

  /// Steps `chain` for the next frame, lost with long-run probability
  /// `loss`, and says whether the frame is lost.
  bool step(State* chain, double loss) {
    const double u = uniform(random);
    const double bad = *chain == State::kUnknown ? loss
                       : *chain == State::kBad   ? stayBad
                                                 : turnBad;
    *chain = u < bad ? State::kBad : State::kGood;
    return *chain == State::kBad;
  }

  Random random;
  double loss[kMaxFrameKinds] = {};  // by kind
  bool bursty = false;
  double stayBad = 0.0;  // the chain stays bad: 1 - 1/b
  double turnBad = 0.0;  // it turns bad: p / (b (1 - p))
  State chains[2] = {State::kUnknown,
                     State::kUnknown};  // by way: to the sink, back
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_CHANNEL_H_
