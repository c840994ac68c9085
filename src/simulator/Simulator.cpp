#include "simulator/Simulator.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "console/fgetline.h"
#include "model/Time.h"
#include "simulator/lineutil.h"

namespace {

/// One of the eight settings: the words that spell its key in a settings file
/// (the value is the token right after them), its name in verification's
/// messages, its label in the summary, the largest value a run can use, and
/// where the value lives.
struct Setting {
  const char* words[3];
  int wordCount;
  const char* name;
  const char* label;
  double max;
  double (*get)(const Simulator& simulator);
  void (*set)(Simulator& simulator, double value);
};

constexpr double kNoMax = std::numeric_limits<double>::infinity();

/// In the order of the settings file, which is also the summary's.
// clang-format off
const Setting kSettings[] = {
    {{"Propagation", "Delay"}, 2, "Propagation Delay", "Propagation Delay",
     kNoMax,
     [](const Simulator& s) { return s.propagationDelay; },
     [](Simulator& s, double v) { s.propagationDelay = v; }},
    {{"Processing", "Delay"}, 2, "Processing Delay", "Processing Delay",
     kNoMax,
     [](const Simulator&) { return Node::getProcessingDelay(); },
     [](Simulator&, double v) { Node::setProcessingDelay(v); }},
    {{"Bit", "Rate"}, 2, "Bit Rate", "Bit Rate",
     kNoMax,
     [](const Simulator& s) { return s.bitRate; },
     [](Simulator& s, double v) { s.bitRate = v; }},
    {{"Data", "Packet", "Size"}, 3, "Data Packet Size", "Data Packet Size",
     kNoMax,
     [](const Simulator&) { return Node::getDataPacketSize(); },
     [](Simulator&, double v) { Node::setDataPacketSize(v); }},
    {{"Data", "Packet", "Overhead"}, 3, "Data Packet Overhead",
     "Data Packet Overhead",
     kNoMax,
     [](const Simulator&) { return Node::getDataOverhead(); },
     [](Simulator&, double v) { Node::setDataOverhead(v); }},
    {{"ACK", "Size"}, 2, "ACK Size", "ACK Size",
     kNoMax,
     [](const Simulator&) { return Node::getACKSize(); },
     [](Simulator&, double v) { Node::setACKSize(v); }},
    // The clock must be able to reach the duration, or the run never ends.
    {{"Simulation", "Duration"}, 2, "Simulation Duration",
     "Simulation Duration",
     kMaxDuration,
     [](const Simulator& s) { return s.duration; },
     [](Simulator& s, double v) { s.duration = v; }},
    // Shown as the data packet rate, though its key is "Packet Rate".
    {{"Packet", "Rate"}, 2, "Packet Rate", "Data Packet Rate",
     kNoMax,
     [](const Simulator&) { return Node::getPacketRate(); },
     [](Simulator&, double v) { Node::setPacketRate(v); }},
};
// clang-format on
constexpr int kSettingCount = sizeof kSettings / sizeof kSettings[0];

/// Rows of kSettings in the order verification checks them: the table's own,
/// but for the duration, checked right after the bit rate.
const int kCheckOrder[kSettingCount] = {0, 1, 2, 6, 3, 4, 5, 7};

/// The reader gives a line in pieces of this many characters.
constexpr int kPieceLength = 255;

/// The part of a settings line that can hold its key and value: its first
/// 257 pieces, 65,535 characters. What stands past it is read and dropped, so
/// a line of any length costs no more memory than this. Being whole pieces,
/// a line is longer than this exactly when it has another piece.
constexpr int kKeyPartPieces = 257;

/// One line of a settings file, as far as it counts for the keys.
struct SettingsLine {
  /// Its characters up to the first NUL (which ends the key match), and no
  /// more than the key part.
  std::string text;
  /// The line is longer than its key part.
  bool longer = false;
  /// Characters that would count for the keys stand past the key part.
  bool cut = false;
};

/// Reads the next line of `file` into `*line`; false at the end of the file.
/// The rest of a line longer than its key part is read and dropped when
/// `wholeLines`, else left unread.
bool readLine(FILE* file, bool wholeLines, SettingsLine* line) {
  line->text.clear();
  line->longer = false;
  line->cut = false;
  bool counts = true;  // false past a NUL
  bool ended = false;
  for (int piece = 0; !ended; ++piece) {
    const std::unique_ptr<char[]> text = fgetLine(kPieceLength, file, &ended);
    if (text == nullptr) return piece > 0;
    if (piece == kKeyPartPieces) {
      line->longer = true;
      line->cut = counts;
      if (!wholeLines) return true;
    }
    if (piece >= kKeyPartPieces || !counts) continue;
    const size_t length = std::strlen(text.get());
    line->text.append(text.get(), length);
    // A piece its line goes on after is full, unless it holds a NUL.
    if (!ended && length < static_cast<size_t>(kPieceLength)) counts = false;
  }
  return true;
}

enum class Match { kNo, kYes, kUnknown };

/// Whether the line spells `setting`'s key followed by a value. Of a cut
/// line, a token that runs into the cut may go on, and more may follow:
/// kUnknown where that could make it spell the key or change its value.
Match matchKey(const Setting& setting, const TokenList& tokens, int count,
               const SettingsLine& line) {
  const bool lastRunsOn = line.cut && line.text.back() != ' ';
  for (int i = 0;; ++i) {
    if (i == count) return line.cut ? Match::kUnknown : Match::kNo;
    const bool runsOn = lastRunsOn && i == count - 1;
    if (i == setting.wordCount) return runsOn ? Match::kUnknown : Match::kYes;
    const char* token = tokens[i].get();
    if (runsOn) {
      const bool mayBecomeWord =
          strncasecmp(token, setting.words[i], std::strlen(token)) == 0;
      return mayBecomeWord ? Match::kUnknown : Match::kNo;
    }
    if (strcasecmp(token, setting.words[i]) != 0) return Match::kNo;
  }
}

/// A device such as /dev/zero may never end; no settings file comes near this
/// many lines, or a line longer than its key part, so a device that does is
/// refused instead of holding the load, and the console, forever. A regular
/// file always ends: it is read whole, whatever its length.
constexpr long kMaxDeviceLines = 1L << 20;

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

/// Opens `name` for reading, or gives null where it is no settings file, and
/// sets `*device` to whether it opened a device. The open does not block,
/// so a FIFO that no process writes cannot hold it; what was opened is then
/// judged by its kind, so the name cannot come to mean another file between a
/// check and the open.
File openSettings(const char* name, bool* device) {
  File none(nullptr, std::fclose);
  // O_NOCTTY: a terminal named as settings never becomes the controlling one.
  const int fd = open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return none;
  struct stat status {};
  const bool known = fstat(fd, &status) == 0;
  const bool regular = known && S_ISREG(status.st_mode);
  *device = known && (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode));
  // Reads from a device may wait, as any reader's would; only the open had to
  // be kept from it.
  const int flags = fcntl(fd, F_GETFL);
  if (!(regular || *device) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return none;
  }
  File file(fdopen(fd, "r"), std::fclose);
  if (file == nullptr) close(fd);
  return file;
}

/// The values a settings file gives, gathered before any is stored.
struct Values {
  double value[kSettingCount] = {};
  bool found[kSettingCount] = {};
};

/// Reads the whole settings file `name` into `*values`; false when it is no
/// settings file, cannot be read to its end, is a device past its bounds, or
/// has a line whose key or value would run past its key part, which cannot
/// be read without guessing.
bool readValues(const char* name, Values* values) {
  bool device = false;
  const File file = openSettings(name, &device);
  if (file == nullptr) return false;
  SettingsLine line;
  long lines = 0;
  while (readLine(file.get(), !device, &line)) {
    if (device && (++lines > kMaxDeviceLines || line.longer)) return false;
    const int count = tokenCount(line.text.c_str(), " ");
    const TokenList tokens = parseLine(line.text.c_str(), " ");
    for (int i = 0; i < kSettingCount; ++i) {
      switch (matchKey(kSettings[i], tokens, count, line)) {
        case Match::kYes:
          values->value[i] = std::atof(tokens[kSettings[i].wordCount].get());
          values->found[i] = true;
          break;
        case Match::kUnknown:
          return false;
        case Match::kNo:
          break;
      }
    }
  }
  // The reader ends at a failed read as at the end of the file.
  return std::ferror(file.get()) == 0;
}

}  // namespace

Simulator::Simulator() : settingsFile{} {
  source.setType(kSourceType);
  sink.setType(kSinkType);
}

ReadResult Simulator::readSettings(std::FILE* messages) {
  if (settingsFile[0] == '\0') {
    std::fputs("No topology file mentioned to load\n", messages);
    return kNoSettingsFile;
  }
  Values values;
  if (!readValues(settingsFile, &values)) {
    std::fputs("Error in opening settings file\n", messages);
    return kCannotReadSettings;
  }
  for (int i = 0; i < kSettingCount; ++i) {
    if (values.found[i]) kSettings[i].set(*this, values.value[i]);
  }
  return kSettingsRead;
}

VerifyResult Simulator::check(std::FILE* messages) const {
  for (const int i : kCheckOrder) {
    const double value = kSettings[i].get(*this);
    // Written so that NaN passes: it fails neither comparison.
    if (value <= 0.0 || value > kSettings[i].max) {
      std::fprintf(messages, "Invalid value for %s (%f)\n", kSettings[i].name,
                   value);
      return kSettingsRejected;
    }
  }
  if (source.getType() != kSourceType) {
    std::fputs("Source not defined\n", messages);
    return kSettingsRejected;
  }
  if (sink.getType() != kSinkType) {
    std::fputs("Sink not defined\n", messages);
    return kSettingsRejected;
  }
  return kSettingsAccepted;
}

VerifyResult Simulator::verify() {
  std::puts("Verifying simulation settings.......");
  const VerifyResult checked = check(stdout);
  if (checked != kSettingsAccepted) return checked;
  std::puts("Following are the settings for this simulation:");
  for (const Setting& setting : kSettings) {
    std::printf("%-20s: %f\n", setting.label, setting.get(*this));
  }
  std::fputs("\nPress any key to continue...", stdout);
  // A summary nobody can see is no question anybody can answer.
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) return kOutputLost;
  std::getchar();  // any key, the end of input, or a failed read goes on
  return kSettingsAccepted;
}

// The run loop keeps the clock in a local, so that a tick in which nothing
// moves costs one addition and a few comparisons, with nothing written to
// memory but the clock and the nodes' idle slots. Time::nanoseconds is still
// exact wherever anything can look at it: it is stored before every call that
// may read it (the hooks, the queue operations) and read back after every call
// that may change it. Which of those stores and reloads survive is the
// optimiser's business: where it can see that a call leaves the clock alone
// (an empty hook, with link-time optimisation) they vanish.
//
// Skipping. A hook that said it is idle until clock w is asleep in every
// tick whose clock is below w, until a packet arrives at its node. When every
// hook is asleep, nothing changes the queues, so the ticks until the first
// one in which a hook wakes or a least packet is due would each only add 1.0
// to the clock; the loop adds them at once. From a whole clock below 2^53,
// clock + k is exact, so the tick it lands on is the very clock the ticks
// would have reached, and the due test gives there what it gives today. From
// any other clock (a hook may set one) it steps tick by tick, evaluating the
// same tests without calling a hook.

namespace {

const Simulator* runningSimulator = nullptr;

/// What atRunEnd was asked to call, in order. Plain data, set before any
/// static initializer of a protocol's file can ask.
constexpr int kMostRunEndCalls = 16;
void (*runEndCalls[kMostRunEndCalls])() = {};
int runEndCallCount = 0;

/// Whether a protocol reported output of its own lost.
bool lostOutput = false;

/// A hook is awake in the tick whose clock is `now` unless it said it is idle
/// until a later clock; NaN (Node::kAwake) never compares as later.
bool isAwake(double idleClock, double now) { return !(now < idleClock); }

}  // namespace

const Simulator* Simulator::running() { return runningSimulator; }

bool Simulator::atRunEnd(void (*call)()) {
  assert(call != nullptr);
  void (** const end)() = runEndCalls + runEndCallCount;
  if (std::find(runEndCalls, end, call) != end) return true;
  if (runEndCallCount == kMostRunEndCalls) return false;
  runEndCalls[runEndCallCount++] = call;
  return true;
}

void Simulator::reportLostOutput() { lostOutput = true; }

bool Simulator::outputLost() { return lostOutput; }

double Simulator::callHook(Node& node, int (Node::*hook)()) {
  node.idleClock = Node::kAwake;
  (node.*hook)();
  return node.idleClock;
}

double Simulator::dueTime(const PacketQueue& outgoing) const {
  return (outgoing.getLeastTime() + propagationDelay) +
         outgoing.getLeastSize() / bitRate;
}

// The length test comes first: an empty queue's cached fields are stale. A
// NaN due time is never due.
bool Simulator::leastIsDue(const PacketQueue& outgoing, double now) const {
  return outgoing.getLength() > 0 && dueTime(outgoing) <= now + 1.0;
}

bool Simulator::deliver(Node& from, Node& to) {
  PacketQueue& outgoing = from.outgoingQueue;
  bool moved = false;
  while (leastIsDue(outgoing, Time::getTime())) {
    Packet* packet =
        outgoing.dequeuePacket(outgoing.getLeastIndex(), kByReadyToSendTime);
    to.incomingQueue.enqueuePacket(packet, kByReadyToSendTime);
    moved = true;
  }
  return moved;
}

int Simulator::deliverDue(double now) {
  Time::nanoseconds = now;
  return (deliver(source, sink) ? kAtSink : 0) |
         (deliver(sink, source) ? kAtSource : 0);
}

double Simulator::firstDueTick(const PacketQueue& outgoing, double next) const {
  if (outgoing.getLength() == 0) return kForever;
  if (leastIsDue(outgoing, next)) return next;
  const double due = dueTime(outgoing);
  if (!(due < kForever)) return kForever;  // NaN or infinity: never due
  // The least whole t with due <= t + 1; exact, since whole numbers up to
  // 2^53 are. Above that no reachable tick has it due, and none is asked.
  return std::ceil(due) - 1.0;
}

double Simulator::firstBusyTick(double next, double wake) const {
  if (next != std::floor(next) || !(std::fabs(next) < kMaxDuration)) {
    while (duration > next && next < wake &&
           !leastIsDue(source.outgoingQueue, next) &&
           !leastIsDue(sink.outgoingQueue, next)) {
      next += 1.0;
    }
    return next;
  }
  // The first whole clock at or above each event; the run ends at the first
  // one at or above the duration.
  const double tick =
      std::min({std::ceil(wake), firstDueTick(source.outgoingQueue, next),
                firstDueTick(sink.outgoingQueue, next), std::ceil(duration)});
  return std::max(tick, next);
}

RunResult Simulator::simulate() {
  // A hook may run another simulator; this one is the running one again after.
  const Simulator* const outer = runningSimulator;
  runningSimulator = this;
  double now = Time::start();
  // The clock before which each hook said it has nothing to do; every run
  // starts with all of them awake.
  double generateIdle = Node::kAwake;
  double sourceIdle = Node::kAwake;
  double sinkIdle = Node::kAwake;
  while (duration > now) {
    Time::nanoseconds = now;
    if (isAwake(generateIdle, now)) {
      generateIdle = callHook(source, &Node::generatePackets);
    }
    if (isAwake(sourceIdle, Time::getTime())) {
      sourceIdle = callHook(source, &Node::sendPackets);
    }
    if (isAwake(sinkIdle, Time::getTime())) {
      sinkIdle = callHook(sink, &Node::sendPackets);
    }
    now = Time::getTime();
    // The tick in which no queue holds a packet is the straight path.
    if (__builtin_expect(source.outgoingQueue.getLength() > 0 ||
                             sink.outgoingQueue.getLength() > 0,
                         0)) {
      // An arrival wakes the receiving node's hooks for the next tick.
      const int arrived = deliverDue(now);
      if (arrived & kAtSink) sinkIdle = Node::kAwake;
      if (arrived & kAtSource) generateIdle = sourceIdle = Node::kAwake;
      now = Time::getTime();
    }
    now += 1.0;
    // Written so that an awake hook (NaN) never lets the loop skip.
    if (now < generateIdle && now < sourceIdle && now < sinkIdle) {
      now = firstBusyTick(now, std::min({generateIdle, sourceIdle, sinkIdle}));
    }
  }
  // The clock keeps the run's last value until the next run starts it again.
  Time::nanoseconds = now;
  // By index: a call may ask for another, which then comes last.
  for (int i = 0; i < runEndCallCount; ++i) runEndCalls[i]();
  runningSimulator = outer;
  return kRunEnded;
}
