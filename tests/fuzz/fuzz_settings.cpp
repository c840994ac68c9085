// Settings loader: arbitrary bytes as a settings file, loaded into a fresh
// simulator.
//
// Properties:
// - the load succeeds (result 1): malformed lines are never errors (inputs
//   are far shorter than the 65,535 characters a line is matched on, so no
//   key or value can run past them);
// - loading the same file again gives the same eight values (NaN equals NaN);
// - the same bytes followed by a newline and one valid key line set that key
//   to the line's value and leave the seven others as the bytes alone left
//   them. The newline ends whatever partial line the bytes end with, so the
//   key line starts a line of its own; without it the key line would join
//   the bytes' last line, and no simple claim holds.

#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_support.h"
#include "simulator/Simulator.h"

namespace {

constexpr int kKeys = 8;

struct Values {
  double value[kKeys];
};

Values settingsOf(const Simulator& simulator) {
  return {{simulator.propagationDelay, Node::getProcessingDelay(),
           simulator.bitRate, Node::getDataPacketSize(),
           Node::getDataOverhead(), Node::getACKSize(), simulator.duration,
           Node::getPacketRate()}};
}

// In the order of settingsOf.
const char* const kKeyWords[kKeys] = {
    "Propagation Delay",   "Processing Delay",     "Bit Rate",
    "Data Packet Size",    "Data Packet Overhead", "ACK Size",
    "Simulation Duration", "Packet Rate"};

// Sentinel that no sensible file sets, so every changed value shows.
constexpr double kUnset = -7.25;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = scratchDir() + "/settings.txt";
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  resetLinkParameters(kUnset);
  Simulator simulator;
  simulator.propagationDelay = kUnset;
  simulator.bitRate = kUnset;
  simulator.duration = kUnset;
  std::snprintf(simulator.settingsFile, sizeof simulator.settingsFile, "%s",
                path.c_str());

  writeFile(path, bytes);
  FUZZ_CHECK(simulator.readSettings() == 1);
  const Values first = settingsOf(simulator);
  FUZZ_CHECK(simulator.readSettings() == 1);
  const Values second = settingsOf(simulator);
  for (int i = 0; i < kKeys; ++i) {
    FUZZ_CHECK(sameValue(first.value[i], second.value[i]));
  }

  const int key = size > 0 ? data[size - 1] % kKeys : 0;
  const double value = 4096.5 + key;
  char line[64];
  std::snprintf(line, sizeof line, "\n%s %.1f\n", kKeyWords[key], value);
  writeFile(path, bytes + line);
  FUZZ_CHECK(simulator.readSettings() == 1);
  const Values third = settingsOf(simulator);
  for (int i = 0; i < kKeys; ++i) {
    FUZZ_CHECK(sameValue(third.value[i], i == key ? value : first.value[i]));
  }
  return 0;
}
