#ifndef LINKSIM_SIMULATOR_SIMULATOR_H_
#define LINKSIM_SIMULATOR_SIMULATOR_H_

#include "simulator/Node.h"

/// Results of the simulator's operations. Negative means failed.
constexpr int kOk = 1;
/// readSettings: settingsFile is empty.
constexpr int kNoSettingsFile = -1;
/// readSettings: the name is no settings file, or reading it failed.
constexpr int kCannotReadSettings = -2;
/// verify: a setting or a node type is not acceptable.
constexpr int kSettingsRejected = -1;
/// verify: the settings could not be written to standard output, so no key
/// was waited for; errno is the failed write's, where it was kept.
constexpr int kOutputLost = -2;

/// The largest duration the clock can reach: above 2^53, adding 1.0 to the
/// clock no longer changes it, so the run would never end.
constexpr double kMaxDuration = 9007199254740992.0;

/// The one simulation object: the settings of the link and its two nodes.
/// Its fields are public; the console writes settingsFile directly, and the
/// operations read it. Every operation writes its own messages to standard
/// output. Not copyable: there is one link and one clock.
class Simulator {
 public:
  Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  /// Loads the settings file named by settingsFile, all or nothing: the
  /// values are stored only when the result is kOk, each key's from its last
  /// line, and keys the file lacks keep theirs. A line is a line whatever its
  /// length, matched on its first 65,535 characters (its key part); the rest
  /// is read and dropped. A regular file, or a link to one, is read to its
  /// end whatever its length; a device at most 2^20 lines, none longer than
  /// its key part. Returns kOk, kNoSettingsFile, or kCannotReadSettings when
  /// the name cannot be opened, is a directory, FIFO or socket (refused
  /// without waiting for a writer), fails to read, is a device past its
  /// bounds, or has a line whose key or value would run past its key part.
  int readSettings();

  /// Checks every setting and the node types, shows the settings and waits
  /// for one character of standard input. Returns kOk, kSettingsRejected
  /// (after one message, without waiting), or kOutputLost (without
  /// waiting).
  int verify();

  /// Runs the clock from 0 until it reaches duration, delivering due packets
  /// between the nodes on every tick. Returns kOk. `duration` must be one the
  /// clock can reach (verify refuses the others), or NaN, which runs nothing.
  int simulate();

  Node source;
  Node sink;
  double propagationDelay = 0.0;
  double bitRate = 0.0;
  double duration = 0.0;
  /// Name of the active settings file, NUL-terminated; empty means none.
  char settingsFile[256];

 private:
  /// Moves every due packet from `from.outgoingQueue` to `to.incomingQueue`
  /// in the tick whose clock value is `now`; returns the clock afterwards.
  double deliver(Node& from, Node& to, double now);
};

#endif  // LINKSIM_SIMULATOR_SIMULATOR_H_
