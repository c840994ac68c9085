// linksim-check on a generated million-row trace, beside merely reading it:
// the file read in blocks as the program reads it, checked as the program
// checks it, and checked from memory, where reading costs nothing. The
// trace is a Go-Back-N-like exchange on a lossy link (window 8, 4-bit
// sequence numbers, a tenth of frames lost), with resends, discards and
// timeouts, as bench/check_speed.sh generates it for the comparison with
// Python.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "trace_check.h"

namespace {

constexpr std::size_t kRows = 1000000;

/// A valid trace of at least `rows` rows and its end row, the same every
/// time.
std::string generateTrace(std::size_t rows) {
  constexpr long long kWindow = 8;
  constexpr long long kSequences = 16;
  std::string trace = "clock,node,event,frame,sequence,packet\n";
  std::size_t written = 0;
  double clock = 0.0;
  std::uint64_t seed = 25;
  const auto lost = [&seed] {  // a tenth of the time
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return (seed >> 33) % 10 == 0;
  };
  const auto row = [&](const char* node, const char* event, const char* frame,
                       long long packet) {
    char line[128];
    const int length =
        std::snprintf(line, sizeof line, "%f,%s,%s,%s,%lld,%lld\n", clock, node,
                      event, frame, packet % kSequences, packet);
    trace.append(line, static_cast<std::size_t>(length));
    ++written;
  };
  long long base = 0;
  long long next = 0;
  long long sent = 0;
  long long expected = 0;
  std::vector<long long> frames;
  std::vector<long long> acks;
  while (written < rows) {
    frames.clear();
    acks.clear();
    for (long long p = next; p < base + kWindow; ++p, clock += 0.5) {
      row("source", p < sent ? "resend" : "send", "data", p);
      frames.push_back(p);
    }
    sent = std::max(sent, base + kWindow);
    next = base + kWindow;
    clock += 5;
    for (const long long p : frames) {
      clock += 1;
      if (lost()) {
        row("sink", "lost", "data", p);
        continue;
      }
      row("sink", "receive", "data", p);
      row("sink", p == expected ? "deliver" : "discard", "data", p);
      expected += p == expected ? 1 : 0;
      if (expected > 0) {
        row("sink", "send", "ack", expected - 1);
        acks.push_back(expected - 1);
      }
    }
    clock += 5;
    for (const long long a : acks) {
      clock += 1;
      if (lost()) {
        row("source", "lost", "ack", a);
        continue;
      }
      row("source", "receive", "ack", a);
      for (; base <= a; ++base) row("source", "acknowledged", "data", base);
    }
    if (base < next) {
      clock += 10;
      row("source", "timeout", "data", base);
      next = base;
    }
  }
  char end[96];
  const int length = std::snprintf(
      end, sizeof end, "%f,source,end,data,0,%zu\n", clock, written);
  trace.append(end, static_cast<std::size_t>(length));
  return trace;
}

/// The trace, in memory and in a temporary file removed at the end.
struct TraceFile {
  TraceFile()
      : text(generateTrace(kRows)),
        rows(static_cast<double>(std::count(text.begin(), text.end(), '\n') -
                                 2)) {
    char pattern[] = "/tmp/linksim_trace_bench.XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd < 0) return;
    FILE* file = fdopen(fd, "w");
    if (file == nullptr) {
      close(fd);
      unlink(pattern);
      return;
    }
    const bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) == 0 && written) name = pattern;
  }
  ~TraceFile() {
    if (!name.empty()) unlink(name.c_str());
  }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  std::string text;
  double rows;
  std::string name;  // empty if it could not be written
};

const TraceFile& traceFile() {
  static const TraceFile file;
  return file;
}

/// Reads the file in the program's blocks and returns the bytes read.
[[gnu::noinline]] std::size_t measuredRead(const std::string& name) {
  std::FILE* file = std::fopen(name.c_str(), "r");
  if (file == nullptr) return 0;
  std::setvbuf(file, nullptr, _IONBF, 0);
  const std::unique_ptr<char[]> block(new char[checker::kBlock]);
  std::size_t total = 0;
  std::size_t got = 0;
  while ((got = std::fread(block.get(), 1, checker::kBlock, file)) > 0) {
    total += got;
  }
  std::fclose(file);
  return total;
}

/// Reads and checks the file as linksim-check does; returns the verdict.
[[gnu::noinline]] int measuredCheck(const std::string& name) {
  std::FILE* file = std::fopen(name.c_str(), "r");
  if (file == nullptr) return -1;
  checker::TraceChecker checker;
  const int error = checker::checkFile(file, &checker);
  std::fclose(file);
  return error != 0 ? -1 : checker.result();
}

/// Checks the trace from memory, fed in the program's blocks.
[[gnu::noinline]] int measuredCheckInMemory(const std::string& text) {
  checker::TraceChecker checker;
  for (std::size_t at = 0; at < text.size(); at += checker::kBlock) {
    checker.feed(text.data() + at, std::min(checker::kBlock, text.size() - at));
  }
  return checker.finish();
}

/// Skips the case unless the trace file was written.
bool haveFile(benchmark::State& state) {
  if (!traceFile().name.empty()) return true;
  state.SkipWithError("cannot write the trace file");
  return false;
}

void BM_ReadTrace(benchmark::State& state) {
  if (!haveFile(state)) return;
  for (auto _ : state) {
    if (measuredRead(traceFile().name) != traceFile().text.size()) {
      state.SkipWithError("the trace was not read whole");
      return;
    }
  }
  reportUnits(state, "row", traceFile().rows);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * traceFile().text.size()));
}
BENCHMARK(BM_ReadTrace)->Unit(benchmark::kMillisecond);

void BM_CheckTrace(benchmark::State& state) {
  if (!haveFile(state)) return;
  for (auto _ : state) {
    if (measuredCheck(traceFile().name) != checker::kTraceKept) {
      state.SkipWithError("the trace did not pass");
      return;
    }
  }
  reportUnits(state, "row", traceFile().rows);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * traceFile().text.size()));
}
BENCHMARK(BM_CheckTrace)->Unit(benchmark::kMillisecond);

void BM_CheckTraceInMemory(benchmark::State& state) {
  for (auto _ : state) {
    if (measuredCheckInMemory(traceFile().text) != checker::kTraceKept) {
      state.SkipWithError("the trace did not pass");
      return;
    }
  }
  reportUnits(state, "row", traceFile().rows);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * traceFile().text.size()));
}
BENCHMARK(BM_CheckTraceInMemory)->Unit(benchmark::kMillisecond);

}  // namespace
