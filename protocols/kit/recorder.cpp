#include "recorder.h"

#include <fcntl.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

#include "environment.h"
#include "frames.h"
#include "simulator/Node.h"
#include "simulator/Simulator.h"
#include "to_chars.h"
#include "trace.h"

namespace kit {

void appendNumber(std::string* text, double value) {
  if (std::isnan(value)) return;
  char digits[32];
  const auto [last, error] = toChars(digits, digits + sizeof digits, value);
  if (error == std::errc()) text->append(digits, last);
}

void Recorder::startRun(const Settings& run, unsigned runReads, int runWindow,
                        double runTimeout) {
  settings = run;
  reads = runReads;
  window = runWindow;
  timeout = runTimeout;
  counts = Counts();
  trace.open(settings.trace);
  running = true;
}

void Recorder::endRun() {
  running = false;
  trace.close();
  const Simulator* link = Simulator::running();
  const double duration = link != nullptr ? link->duration : std::nan("");
  const double bitRate = link != nullptr ? link->bitRate : std::nan("");
  const double utilization =
      static_cast<double>(counts.acknowledged) *
      (Node::getDataPacketSize() + Node::getDataOverhead()) / bitRate /
      duration;
  const Counts& c = counts;
  const FrameCounts& data = c.frames[kDataKind];
  std::printf(
      "summary: packets: %lld acknowledged, %lld delivered\n"
      "summary: data frames: %lld sent, %lld sent again, %lld lost\n"
      "summary: ACKs: %lld sent, %lld lost\n",
      c.acknowledged, c.delivered, data.sent, data.resent, data.lost,
      acksSent(), c.frames[kAckKind].lost);
  for (int kind = kAckKind + 1; kind < frameKindCount(); ++kind) {
    const FrameCounts& own = c.frames[kind];
    std::printf("summary: %s frames: %lld sent, %lld sent again, %lld lost\n",
                frameKind(kind).name, own.sent, own.resent, own.lost);
  }
  std::printf(
      "summary: timeouts: %lld\n"
      "summary: utilization: %f\n",
      c.timeouts, utilization);
  if (inOrder() > 0) {
    std::printf("summary: delay from arrival to delivery: mean %f, max %f\n",
                delayMean(), c.delayMax);
  } else {
    std::printf("summary: delay from arrival to delivery: none delivered%s\n",
                c.delivered > 0 ? " in order" : "");
  }
  // Where wrong deliveries can happen, or did: with the full 31 bits the
  // shipped protocols have none, and say nothing more.
  if (settings.sequenceBits < 31 || c.misdelivered > 0) {
    std::printf("summary: misdelivered: %lld of %lld delivered\n",
                c.misdelivered, c.delivered);
  }
  if (!settings.stats.empty()) writeStats(link, utilization);
}

void Recorder::writeStats(const Simulator* link, double utilization) const {
  const unsigned used = readsWith(reads, settings);
  const bool lossy = (used & kReadsLoss) != 0;
  const bool seeded = (used & (kReadsLoss | kDrawsArrivals)) != 0;
  const bool none = link == nullptr;
  const double nan = std::nan("");
  std::string row = protocol;
  const double numbers[] = {
      (reads & kReadsWindow) != 0 ? static_cast<double>(window) : 1.0,
      lossy && std::isnan(settings.ber) ? settings.loss : nan,
      lossy ? settings.ber : nan,
      nan,  // the seed, written whole below
      timeout,
      none ? nan : link->propagationDelay,
      Node::getProcessingDelay(),
      none ? nan : link->bitRate,
      Node::getDataPacketSize(),
      Node::getDataOverhead(),
      Node::getACKSize(),
      none ? nan : link->duration,
      Node::getPacketRate(),
  };
  for (size_t i = 0; i < sizeof numbers / sizeof numbers[0]; ++i) {
    row += ',';
    if (i == 3 && seeded) row += std::to_string(settings.seed);
    appendNumber(&row, numbers[i]);
  }
  const Counts& c = counts;
  const FrameCounts& data = c.frames[kDataKind];
  for (const long long count :
       {c.acknowledged, c.delivered, data.sent, data.resent, data.lost,
        acksSent(), c.frames[kAckKind].lost, c.timeouts}) {
    row += ',' + std::to_string(count);
  }
  row += ',';
  appendNumber(&row, utilization);
  row += ',';
  if (inOrder() > 0) appendNumber(&row, delayMean());
  row += ',';
  if (inOrder() > 0) appendNumber(&row, c.delayMax);
  row += ',' + std::to_string(settings.sequenceBits) + ',';
  // The mean run of lost frames: as given, or 1 / (1 - p) for frames
  // lost each on its own; none under a bit error rate, whose runs differ
  // by direction.
  if (lossy && std::isnan(settings.ber)) {
    appendNumber(&row, std::isnan(settings.burst) ? 1.0 / (1.0 - settings.loss)
                                                  : settings.burst);
  }
  row += settings.poisson ? ",poisson," : ",periodic,";
  row += std::to_string(c.misdelivered);
  row += '\n';

  std::FILE* file = openRows(settings.stats.c_str(), O_APPEND);
  bool failed = file == nullptr;
  if (!failed) {
    const bool empty =
        std::fseek(file, 0, SEEK_END) == 0 && std::ftell(file) == 0;
    if (empty) std::fprintf(file, "%s\n", kStatsHeader);
    std::fputs(row.c_str(), file);
    failed = std::ferror(file) != 0;
    failed = std::fclose(file) != 0 || failed;
  }
  if (failed) {
    std::fprintf(stderr, "linksim: write error on the stats %s: %s\n",
                 settings.stats.c_str(), std::strerror(errno));
    Simulator::reportLostOutput();
  }
}

}  // namespace kit
