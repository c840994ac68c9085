#include "simulator/Simulator.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <limits>

#include "console/fgetline.h"
#include "model/Time.h"
#include "simulator/lineutil.h"

namespace {

/// One settings key: the words that spell it and where its value goes. The
/// value is the token right after the words.
struct SettingKey {
  const char* words[3];
  int wordCount;
  void (*store)(Simulator& simulator, double value);
};

// One row per key, laid out as a table.
// clang-format off
const SettingKey kSettingKeys[] = {
    {{"Propagation", "Delay"}, 2,
     [](Simulator& s, double v) { s.propagationDelay = v; }},
    {{"Processing", "Delay"}, 2,
     [](Simulator&, double v) { Node::setProcessingDelay(v); }},
    {{"Bit", "Rate"}, 2, [](Simulator& s, double v) { s.bitRate = v; }},
    {{"Data", "Packet", "Size"}, 3,
     [](Simulator&, double v) { Node::setDataPacketSize(v); }},
    {{"Data", "Packet", "Overhead"}, 3,
     [](Simulator&, double v) { Node::setDataOverhead(v); }},
    {{"ACK", "Size"}, 2, [](Simulator&, double v) { Node::setACKSize(v); }},
    {{"Simulation", "Duration"}, 2,
     [](Simulator& s, double v) { s.duration = v; }},
    {{"Packet", "Rate"}, 2,
     [](Simulator&, double v) { Node::setPacketRate(v); }},
};
// clang-format on

bool spellsKey(const SettingKey& key, const TokenList& tokens, int count) {
  if (count <= key.wordCount) return false;  // no value token
  for (int i = 0; i < key.wordCount; ++i) {
    if (strcasecmp(tokens[i].get(), key.words[i]) != 0) return false;
  }
  return true;
}

/// Settings lines are far shorter than this; a longer one is read in pieces.
constexpr int kMaxSettingsLine = 255;

/// No settings file comes near this many lines; a name that never ends, such
/// as /dev/zero, would otherwise hold the load, and the console, forever.
constexpr long kMaxSettingsLines = 1L << 20;

}  // namespace

Simulator::Simulator() : settingsFile{} {
  source.setType(kSourceType);
  sink.setType(kSinkType);
}

int Simulator::readSettings() {
  if (settingsFile[0] == '\0') {
    std::puts("No topology file mentioned to load");
    return kNoSettingsFile;
  }
  FILE* file = std::fopen(settingsFile, "rt");
  if (file == nullptr) {
    std::puts("Error in opening settings file");
    return kCannotReadSettings;
  }
  long lines = 0;
  bool endless = false;
  while (std::unique_ptr<char[]> line = fgetLine(kMaxSettingsLine, file)) {
    if (++lines > kMaxSettingsLines) {
      endless = true;
      break;
    }
    const int count = tokenCount(line.get(), " ");
    const TokenList tokens = parseLine(line.get(), " ");
    for (const SettingKey& key : kSettingKeys) {
      if (spellsKey(key, tokens, count)) {
        key.store(*this, std::atof(tokens[key.wordCount].get()));
      }
    }
  }
  // A name that opens but cannot be read, such as a directory, fails on its
  // first read: that is no settings file, so it is reported like one that
  // cannot be opened, with nothing changed. An endless one is no settings
  // file either.
  const bool failed = endless || std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    std::puts("Error in opening settings file");
    return kCannotReadSettings;
  }
  return kOk;
}

int Simulator::verify() {
  std::puts("Verifying simulation settings.......");

  struct Check {
    const char* name;
    double value;
    double max;
  };
  // No upper bound: positive infinity passes.
  const double kAny = std::numeric_limits<double>::infinity();
  const Check checks[] = {
      {"Propagation Delay", propagationDelay, kAny},
      {"Processing Delay", Node::getProcessingDelay(), kAny},
      {"Bit Rate", bitRate, kAny},
      {"Simulation Duration", duration, kMaxDuration},
      {"Data Packet Size", Node::getDataPacketSize(), kAny},
      {"Data Packet Overhead", Node::getDataOverhead(), kAny},
      {"ACK Size", Node::getACKSize(), kAny},
      {"Packet Rate", Node::getPacketRate(), kAny},
  };
  for (const Check& check : checks) {
    // Written so that NaN passes: it fails neither comparison.
    if (check.value <= 0.0 || check.value > check.max) {
      std::printf("Invalid value for %s (%f)\n", check.name, check.value);
      return kSettingsRejected;
    }
  }
  if (source.getType() != kSourceType) {
    std::puts("Source not defined");
    return kSettingsRejected;
  }
  if (sink.getType() != kSinkType) {
    std::puts("Sink not defined");
    return kSettingsRejected;
  }

  // The label and value pairs, one per line.
  // clang-format off
  std::printf(
      "Following are the settings for this simulation:\n%s: %f\n%s: %f\n"
      "%s: %f\n%s: %f\n%s: %f\n%s: %f\n%s: %f\n%s: %f\n\n"
      "Press any key to continue...",
      "Propagation Delay   ", propagationDelay,
      "Processing Delay    ", Node::getProcessingDelay(),
      "Bit Rate            ", bitRate,
      "Data Packet Size    ", Node::getDataPacketSize(),
      "Data Packet Overhead", Node::getDataOverhead(),
      "ACK Size            ", Node::getACKSize(),
      "Simulation Duration ", duration,
      "Data Packet Rate    ", Node::getPacketRate());
  // clang-format on
  std::fflush(stdout);
  std::getchar();  // any key, or the end of input, goes on
  return kOk;
}

// The run loop keeps the clock in a local, so that a tick in which nothing
// moves costs one addition and three comparisons, with nothing written to
// memory. Time::nanoseconds is still exact wherever anything can look at it:
// it is stored before every call that may read it (the hooks, the queue
// operations) and read back after every call that may change it. Which of
// those stores and reloads survive is the optimiser's business: where it can
// see that a call leaves the clock alone (an empty hook, with link-time
// optimisation) they vanish; where it cannot, they stay, and the loop then
// does exactly what a loop working on Time directly would do.

namespace {

/// True when the least packet of `outgoing` has completed its transfer by the
/// end of the tick whose clock value is `now`. The length test comes first:
/// an empty queue's cached fields are stale. A NaN due time is never due.
bool leastIsDue(const PacketQueue& outgoing, double propagationDelay,
                double bitRate, double now) {
  return outgoing.getLength() > 0 &&
         (outgoing.getLeastTime() + propagationDelay) +
                 outgoing.getLeastSize() / bitRate <=
             now + 1.0;
}

}  // namespace

// Inline so that the empty-queue test, the common case, stays in the loop
// and only an actual delivery pays for calls.
inline double Simulator::deliver(Node& from, Node& to, double now) {
  PacketQueue& outgoing = from.outgoingQueue;
  while (leastIsDue(outgoing, propagationDelay, bitRate, now)) {
    Time::nanoseconds = now;
    Packet* packet =
        outgoing.dequeuePacket(outgoing.getLeastIndex(), kByReadyToSendTime);
    to.incomingQueue.enqueuePacket(packet, kByReadyToSendTime);
    now = Time::getTime();
  }
  return now;
}

int Simulator::simulate() {
  double now = Time::start();
  while (duration > now) {
    Time::nanoseconds = now;
    source.generatePackets();
    source.sendPackets();
    sink.sendPackets();
    now = Time::getTime();
    now = deliver(source, sink, now);
    now = deliver(sink, source, now);
    now += 1.0;
  }
  // The clock keeps the run's last value until the next run starts it again.
  Time::nanoseconds = now;
  return kOk;
}
