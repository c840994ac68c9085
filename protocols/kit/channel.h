#ifndef LINKSIM_PROTOCOLS_KIT_CHANNEL_H_
#define LINKSIM_PROTOCOLS_KIT_CHANNEL_H_

// The lossy channel. A lost frame is transmitted like any other: it takes
// its time on the link and the run loop moves it as it moves every frame.
// The receiving node's hook drops it when it first sees it, as a receiver
// drops a frame that fails its check, so a loss changes the timing of no
// other frame. Whether a frame is lost is asked there, of every loss model
// the settings make, one frame at a time in the order the hooks see them:
// a frame is lost when any model loses it, and every model is asked about
// every frame, so each draws what it would draw alone, and a run with the
// same seed loses the same frames.
//
// The models (LossModel), each frame's direction that of its sender (the
// source's data, the sink's ACKs and any frame of a protocol's own by who
// sends it):
// - IndependentLoss: each frame lost on its own, with a probability by its
//   direction and kind: LINKSIM_LOSS, or the ACK direction's
//   LINKSIM_ACK_LOSS, or under a bit error rate b, 1 - (1 - b)^S for a
//   frame of S bits. One number is drawn per frame that can be lost.
// - BurstLoss (LINKSIM_BURST=b): each direction a chain of two states,
//   stepped once per frame that can be lost, with one number. A frame is
//   lost in the bad state and delivered in the good one; the chain stays
//   bad with probability 1 - 1/b, so a run of lost frames is b long on
//   average, and turns bad with probability r = p / (b (1 - p)), so that it
//   is bad r / (r + 1/b) = p of the time, p the direction's loss. A
//   direction's first frame finds the chain bad with that probability p, so
//   the loss is p from the run's start. With b = 1 / (1 - p) both
//   probabilities are p: each frame is lost on its own, as without bursts,
//   from the same draws.
// - DroppedFrames (LINKSIM_DROP): the frames named by their kind and their
//   place among that kind's frames on the link, counted from 1 as they
//   arrive (frames of a kind go one way, and arrive in the order they
//   went). It draws nothing.

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "frames.h"
#include "model/Packet.h"
#include "random.h"
#include "simulator/Node.h"
#include "variables.h"

namespace kit {

/// A frame whose fate is asked: its kind's index and its direction, 0 to
/// the sink, 1 back.
struct ArrivingFrame {
  const Packet& frame;
  int kind;
  int way;
};

/// One way to lose frames. Asked once about every frame that arrives in a
/// run, in order.
class LossModel {
 public:
  LossModel() = default;
  LossModel(const LossModel&) = delete;
  LossModel& operator=(const LossModel&) = delete;
  virtual ~LossModel() = default;

  /// Whether `frame` is lost.
  virtual bool lost(const ArrivingFrame& frame) = 0;
};

/// The probability that a frame of direction `way` and `bits` bits is lost
/// by `settings`' loss or bit error rate: the ACK direction's
/// LINKSIM_ACK_LOSS where it is set, else 1 - (1 - b)^S for a frame of S
/// bits under a bit error rate b, else the frame loss; a NaN size loses
/// nothing.
inline double lossOf(const Settings& settings, int way, double bits) {
  if (way == 1 && !std::isnan(settings.ackLoss)) return settings.ackLoss;
  if (std::isnan(settings.ber)) return settings.loss;
  return -std::expm1(bits * std::log1p(-settings.ber));
}

/// Each frame lost on its own.
class IndependentLoss final : public LossModel {
 public:
  explicit IndependentLoss(Random& random) : random(random) {}

  /// Starts a run: the probabilities of each direction and kind declared.
  /// True when any frame can be lost.
  bool startRun(const Settings& settings) {
    bool any = false;
    for (int way = 0; way < 2; ++way) {
      for (int kind = 0; kind < kMaxFrameKinds; ++kind) {
        const double p = kind < frameKindCount()
                             ? lossOf(settings, way, frameKind(kind).bits())
                             : 0.0;
        loss[way][kind] = p;
        any = any || p > 0.0;
      }
    }
    return any;
  }

  /// Nothing is drawn for a frame that cannot be lost.
  bool lost(const ArrivingFrame& frame) override {
    const double p = loss[frame.way][frame.kind];
    return p > 0.0 && uniform(random) < p;
  }

 private:
  Random& random;
  double loss[2][kMaxFrameKinds] = {};  // by direction and kind
};

/// Frames lost in bursts: a two-state chain per direction.
class BurstLoss final : public LossModel {
 public:
  explicit BurstLoss(Random& random) : random(random) {}

  /// Starts a run with bursts of mean `settings.burst`; true when any frame
  /// can be lost.
  bool startRun(const Settings& settings) {
    stayBad = 1.0 - 1.0 / settings.burst;
    for (int way = 0; way < 2; ++way) {
      const double p = lossOf(settings, way, std::nan(""));
      loss[way] = p;
      turnBad[way] = std::min(1.0, p / (settings.burst * (1.0 - p)));
      chains[way] = State::kUnknown;
    }
    return loss[0] > 0.0 || loss[1] > 0.0;
  }

  /// The frame's direction steps, where its frames can be lost. Out of
  /// line, as the rarer model, so that the hooks inline independent loss.
  [[gnu::noinline]] bool lost(const ArrivingFrame& frame) override {
    const int way = frame.way;
    if (!(loss[way] > 0.0)) return false;
    const double u = uniform(random);
    State& chain = chains[way];
    const double bad = chain == State::kUnknown ? loss[way]
                       : chain == State::kBad   ? stayBad
                                                : turnBad[way];
    chain = u < bad ? State::kBad : State::kGood;
    return chain == State::kBad;
  }

 private:
  /// A direction's chain: bad loses the frame.
  enum class State { kUnknown, kGood, kBad };

  Random& random;
  double stayBad = 0.0;    // the chain stays bad: 1 - 1/b
  double loss[2] = {};     // by direction: the long-run loss p
  double turnBad[2] = {};  // it turns bad: p / (b (1 - p))
  State chains[2] = {State::kUnknown, State::kUnknown};
};

/// The frames LINKSIM_DROP names, whatever the seed.
class DroppedFrames final : public LossModel {
 public:
  /// Starts a run losing the frames of `drop`, each kind of which is
  /// declared; true when it names any.
  bool startRun(const DropList& drop) {
    for (Kind& kind : kinds) kind = Kind();
    for (const auto& group : drop) {
      for (int kind = 0; kind < frameKindCount(); ++kind) {
        if (group.first == frameKind(kind).name) {
          kinds[kind].places = group.second;
        }
      }
    }
    return !drop.empty();
  }

  /// Counts the frame among its kind's, and loses it if it is named; out of
  /// line, as the rarer model.
  [[gnu::noinline]] bool lost(const ArrivingFrame& frame) override {
    Kind& kind = kinds[frame.kind];
    ++kind.arrived;
    if (kind.next == kind.places.size() ||
        kind.places[kind.next] != kind.arrived) {
      return false;
    }
    ++kind.next;
    return true;
  }

 private:
  /// A kind's frames so far, and those of it to lose.
  struct Kind {
    std::vector<long long> places;  // ascending, from 1
    size_t next = 0;                // the next of places to come
    long long arrived = 0;
  };

  Kind kinds[kMaxFrameKinds];
};

/// The models a run's settings make, each asked through its LossModel
/// interface, and by its own type, so that the asking inlines.
class Channel {
 public:
  Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;

  /// Starts a run: the generator afresh from the seed, and the models the
  /// settings ask for.
  void startRun(const Settings& settings) {
    random.seed(settings.seed);
    bursty = !std::isnan(settings.burst);
    drawing =
        bursty ? bursts.startRun(settings) : independent.startRun(settings);
    dropping = dropped.startRun(settings.drop);
  }

  /// Asks every model of the run whether `frame` is lost. A run that loses
  /// nothing has no model, and pays nothing for the channel.
  bool lost(const Packet& frame) {
    if (!drawing && !dropping) return false;
    const ArrivingFrame arriving{frame, frameKindOf(frame.getType()),
                                 frame.getSource() == kSinkType ? 1 : 0};
    bool lost = false;
    if (drawing) {
      lost = bursty ? bursts.lost(arriving) : independent.lost(arriving);
    }
    if (dropping) lost = dropped.lost(arriving) || lost;
    return lost;
  }

 private:
  Random random;
  IndependentLoss independent{random};
  BurstLoss bursts{random};
  DroppedFrames dropped;
  bool bursty = false;    // bursts, else independent loss, draw
  bool drawing = false;   // either can lose a frame
  bool dropping = false;  // LINKSIM_DROP names frames
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_CHANNEL_H_
