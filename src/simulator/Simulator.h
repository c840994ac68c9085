#ifndef LINKSIM_SIMULATOR_SIMULATOR_H_
#define LINKSIM_SIMULATOR_SIMULATOR_H_

#include <cstdio>

#include "simulator/Node.h"

// Results of the simulator's operations, a type for each, so that one
// operation's result is never compared with another's constants (the
// compiler warns of it): their values are the program's contract, 1 for
// success and negative for a failure, and two operations' failures share
// values.

/// readSettings' results.
enum ReadResult : int {
  kSettingsRead = 1,
  /// settingsFile is empty.
  kNoSettingsFile = -1,
  /// The name is no settings file, or reading it failed.
  kCannotReadSettings = -2,
};
/// verify's and check's results.
enum VerifyResult : int {
  kSettingsAccepted = 1,
  /// A setting or a node type is not acceptable.
  kSettingsRejected = -1,
  /// The settings could not be written to standard output, so no key was
  /// waited for; errno is the failed write's, where it was kept.
  kOutputLost = -2,
};
/// simulate's result: a run always runs to its end.
enum RunResult : int { kRunEnded = 1 };

/// The largest duration the clock can reach: above 2^53, adding 1.0 to the
/// clock no longer changes it, so the run would never end.
constexpr double kMaxDuration = 9007199254740992.0;

/// The one simulation object: the settings of the link and its two nodes.
/// Its fields are public; the console writes settingsFile directly, and the
/// operations read it. Every operation writes its own messages to standard
/// output, or to the stream it is given. Not copyable: there is one link and
/// one clock.
class Simulator {
 public:
  Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  /// Loads the settings file named by settingsFile, all or nothing: the
  /// values are stored only when the result is kSettingsRead, each key's from
  /// its last line, and keys the file lacks keep theirs. A line is a line
  /// whatever its length, matched on its first 65,535 characters (its key
  /// part); the rest is read and dropped. A regular file, or a link to one, is
  /// read to its end whatever its length; a device at most 2^20 lines, none
  /// longer than its key part. Returns kSettingsRead, kNoSettingsFile, or
  /// kCannotReadSettings when the name cannot be opened, is a directory,
  /// FIFO or socket (refused without waiting for a writer), fails to read, is
  /// a device past its bounds, or has a line whose key or value would run
  /// past its key part. Its one message on failure goes to `messages`.
  ReadResult readSettings(std::FILE* messages = stdout);

  /// Checks every setting and the node types, shows the settings and waits
  /// for one character of standard input. Returns kSettingsAccepted,
  /// kSettingsRejected (after one message, without waiting), or kOutputLost
  /// (without waiting).
  VerifyResult verify();

  /// verify's checks alone, for a caller that shows no settings and waits
  /// for no key: writes nothing when they pass. Returns kSettingsAccepted, or
  /// kSettingsRejected after verify's own message on `messages`.
  VerifyResult check(std::FILE* messages) const;

  /// Runs the clock from 0 until it reaches duration, delivering due packets
  /// between the nodes on every tick. Ticks in which no hook is awake (see
  /// Node::idleUntil) and no packet is due are skipped, which nothing can
  /// tell from running them. Then makes the calls atRunEnd asked for.
  /// Returns kRunEnded. `duration` must be one the clock
  /// can reach (verify refuses the others), or NaN, which runs nothing.
  RunResult simulate();

  /// The simulator whose simulate() is running, for the hooks to read the
  /// link's settings (bitRate, propagationDelay, duration) from; null
  /// outside a run.
  static const Simulator* running();

  /// Has `call` called once at the end of every run from now on, after the
  /// last tick's deliveries: Time::getTime() is the clock the run ended at,
  /// running() is still the simulator that ran, and what the last tick
  /// delivered waits in the incoming queues, seen by no hook. Calls are made
  /// in the order they were first asked for; asking again for one changes
  /// nothing. For a protocol that counts or writes a summary; one that never
  /// asks pays nothing. Returns true, so that a static initializer can ask:
  ///   const bool reported = Simulator::atRunEnd(&report);
  /// or false when 16 other calls are asked for already.
  static bool atRunEnd(void (*call)());

  /// Says that output a protocol writes beside standard output, such as a
  /// trace file, was lost, as the protocol has said on standard error: the
  /// program goes on, but ends with a failure status, as it does when
  /// standard output fails. Nothing in linksim itself says it.
  static void reportLostOutput();
  /// True once reportLostOutput has been called in this process.
  static bool outputLost();

  Node source;
  Node sink;
  double propagationDelay = 0.0;
  double bitRate = 0.0;
  double duration = 0.0;
  /// Name of the active settings file, NUL-terminated; empty means none.
  char settingsFile[256];

 private:
  /// Calls `hook` of `node`; returns the clock before which it said it is
  /// idle, or Node::kAwake.
  static double callHook(Node& node, int (Node::*hook)());
  /// Nodes a delivery brought packets to, as bits of deliverDue's result.
  static constexpr int kAtSink = 1;
  static constexpr int kAtSource = 2;
  /// Delivers in both directions in the tick whose clock is `now`; out of
  /// line, so that a tick with empty queues runs straight through.
  [[gnu::noinline]] int deliverDue(double now);
  /// Moves every due packet from `from.outgoingQueue` to `to.incomingQueue`
  /// in the tick whose clock is Time::getTime(); true when any moved.
  bool deliver(Node& from, Node& to);
  /// The clock of the first tick from `next` on in which a packet is due or
  /// the earliest sleeping hook wakes at `wake`, or where the run ends.
  double firstBusyTick(double next, double wake) const;
  /// The first tick from `next` on in which the least packet of `outgoing`
  /// is due; kForever when it never is. `next` must be a whole number.
  double firstDueTick(const PacketQueue& outgoing, double next) const;
  /// The due time of the least packet of `outgoing`, which holds one.
  double dueTime(const PacketQueue& outgoing) const;
  /// True when `outgoing` holds a packet and its least one has completed its
  /// transfer by the end of the tick whose clock is `now`.
  bool leastIsDue(const PacketQueue& outgoing, double now) const;
};

#endif  // LINKSIM_SIMULATOR_SIMULATOR_H_
