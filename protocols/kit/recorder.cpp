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
  if (value == 0.0) value = 0.0;  // a zero is 0, whatever its sign
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

void Recorder::endRun(const Arrivals* arrivals) {
  running = false;
  trace.end();
  const Simulator* link = Simulator::running();
  const double duration = link != nullptr ? link->duration : std::nan("");
  if (arrivals != nullptr) {
    const Arrivals::Count arrived = arrivals->inRun(duration);
    counts.arrived = arrived.packets;
    counts.arrivedExactly = arrived.exact;
  }
  const double bitRate = link != nullptr ? link->bitRate : std::nan("");
  const double utilization =
      static_cast<double>(counts.acknowledged) *
      (Node::getDataPacketSize() + Node::getDataOverhead()) / bitRate /
      duration;
  const Counts& c = counts;
  const FrameCounts& data = c.frames[kDataKind];
  std::printf("summary: packets: %lld acknowledged, %lld delivered\n",
              c.acknowledged, c.delivered);
  if (c.arrived >= 0) {
    // An expectation says so (Arrivals::inRun).
    const char* about = c.arrivedExactly ? "" : "about ";
    std::printf("summary: arrivals: %s%lld arrived, %s%lld still waiting\n",
                about, c.arrived, about, waiting());
  }
  std::printf(
      "summary: data frames: %lld sent, %lld sent again, %lld lost\n"
      "summary: ACKs: %lld sent, %lld lost\n",
      data.sent, data.resent, data.lost, acksSent(), c.frames[kAckKind].lost);
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

void Recorder::writeStats(const Simulator* link, double utilization) {
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
  row += ',';
  if (c.arrived >= 0) row += std::to_string(c.arrived);
  row += ',';
  if (c.arrived >= 0) row += std::to_string(waiting());
  row += ',';
  // The ACK direction's frame loss: given, or the data's where it is not;
  // none under a bit error rate, unless given.
  if (lossy) {
    appendNumber(&row, std::isnan(settings.ackLoss) && std::isnan(settings.ber)
                           ? settings.loss
                           : settings.ackLoss);
  }
  // No comma: a reader that splits the row at commas finds every column.
  row += ',' + (lossy ? dropText(settings.drop) : std::string());
  row += '\n';

  std::FILE* file = openRows(settings.stats.c_str(), O_APPEND);
  int error = file == nullptr ? errno : 0;
  if (file != nullptr) {
    // A file gets the header while it is empty. A pipe or a FIFO cannot be
    // asked: it gets it before the first row the program writes to it, whose
    // reader reads all its rows as one stream (a FIFO is held open from the
    // start, rowsFile).
    const bool seekable = std::fseek(file, 0, SEEK_END) == 0;
    const bool empty =
        seekable ? std::ftell(file) == 0 : headedStream != settings.stats;
    if (empty) std::fprintf(file, "%s\n", kStatsHeader);
    std::fputs(row.c_str(), file);
    if (!seekable) headedStream = settings.stats;
    errno = 0;
    if (std::fflush(file) != 0 || std::ferror(file) != 0) {
      error = errno != 0 ? errno : EIO;
    }
    if (std::fclose(file) != 0 && error == 0) error = errno;
  }
  if (error != 0) {
    std::fprintf(stderr, "linksim: write error on the stats %s: %s\n",
                 settings.stats.c_str(), std::strerror(error));
    Simulator::reportLostOutput();
  }
}

}  // namespace kit
