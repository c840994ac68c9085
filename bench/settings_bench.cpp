// Settings loading: a generated file of mixed lines (every key, remarks,
// unknown words, keys without a value, blank lines) read by readSettings.
// The throughput at 10^4 and 10^5 lines shows whether the cost is linear.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "simulator/Simulator.h"

namespace {

const char* const kLines[] = {
    "Propagation Delay 5",
    "# a remark about the link that is longer than the others, as remarks are",
    "Processing Delay 1",
    "",
    "Bit Rate 100",
    "Data Packet Size 800 bytes",
    "   ",
    "Data Packet Overhead 64",
    "Unknown Setting 12",
    "ACK Size 128",
    "Bit Rate",
    "Simulation Duration 500",
    "Packet Rate 2",
};

/// Writes a settings file of `count` lines into a fresh temporary file and
/// returns its name and size; removes it when destroyed.
class SettingsFile {
 public:
  explicit SettingsFile(int count) {
    char pattern[] = "/tmp/linksim_bench.XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) return;
    name_ = pattern;
    FILE* file = fdopen(fd, "w");
    if (file == nullptr) {
      close(fd);
      return;
    }
    const int kinds = static_cast<int>(sizeof kLines / sizeof kLines[0]);
    for (int i = 0; i < count; ++i) {
      const char* line = kLines[i % kinds];
      std::fputs(line, file);
      std::fputc('\n', file);
      bytes_ += std::strlen(line) + 1;
    }
    std::fclose(file);
  }
  ~SettingsFile() {
    if (!name_.empty()) unlink(name_.c_str());
  }
  SettingsFile(const SettingsFile&) = delete;
  SettingsFile& operator=(const SettingsFile&) = delete;

  const std::string& name() const { return name_; }
  std::size_t bytes() const { return bytes_; }

 private:
  std::string name_;
  std::size_t bytes_ = 0;
};

void BM_LoadSettings(benchmark::State& state) {
  const SettingsFile file(static_cast<int>(state.range(0)));
  if (file.name().empty()) {
    state.SkipWithError("cannot write the settings file");
    return;
  }
  Simulator simulator;
  std::snprintf(simulator.settingsFile, sizeof simulator.settingsFile, "%s",
                file.name().c_str());
  for (auto _ : state) {
    if (simulator.readSettings() != kSettingsRead) {
      state.SkipWithError("readSettings failed");
      break;
    }
  }
  if (simulator.duration != 500.0) state.SkipWithError("wrong duration read");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(file.bytes()));
  state.counters["time_per_line"] =
      benchmark::Counter(static_cast<double>(state.range(0)),
                         benchmark::Counter::kIsIterationInvariantRate |
                             benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(BM_LoadSettings)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
