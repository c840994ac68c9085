#include "arq.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "environment.h"
#include "frames.h"
#include "simulator/Node.h"
#include "simulator/Simulator.h"

namespace kit {

double roundTrip() {
  const Simulator* link = Simulator::running();
  if (link == nullptr) return std::nan("");
  const double td = dataFrameBits() / link->bitRate;
  const double ta = Node::getACKSize() / link->bitRate;
  return td + ta + 2 * link->propagationDelay + 2 * Node::getProcessingDelay();
}

double derivedTimeout(int window) {
  const Simulator* link = Simulator::running();
  if (link == nullptr) return std::nan("");
  const double p = Node::getProcessingDelay();
  const double a = link->propagationDelay;
  const double td = dataFrameBits() / link->bitRate;
  const double ta = Node::getACKSize() / link->bitRate;
  const auto whole = [](double v) { return std::floor(v) == v; };
  const auto binary = [&](double v) {
    return std::fabs(v) < 0x1p32 && whole(v * 0x1p20);
  };
  double timeout = td + ta + 2 * a + 2 * p - p;  // roundTrip() - p
  if (!(whole(p) && whole(a) && whole(td) && whole(ta))) {
    const double d = link->duration;
    const double spacing = std::nextafter(d, HUGE_VAL) - d;  // NaN: no tick
    const bool exact =
        binary(p) && binary(a) && binary(td) && binary(ta) && d < 0x1p32;
    timeout +=
        exact ? 1.0 : 1.0 + std::max(0x1p-16, (2.0 * window + 16) * spacing);
  }
  if (ta > td) timeout += (window - 1) * ta;
  return timeout;
}

Arq::Arq(const char* name, unsigned reads, WindowRule rule)
    : recorder(name), name(name), reads(reads), rule(rule) {
  Simulator::atRunEnd(&endRuns);
  all().push_back(this);
}

bool Arq::start(std::string* error) {
  if (!startSettings(name, reads, &settings, error)) return false;
  warnWindow();
  return true;
}

Arq::~Arq() { all().erase(std::find(all().begin(), all().end(), this)); }

std::vector<Arq*>& Arq::all() {
  static std::vector<Arq*> arqs;
  return arqs;
}

void Arq::endRuns() {
  for (Arq* arq : all()) {
    if (!arq->recorder.isRunning()) arq->begin();
    arq->recorder.endRun(&arq->arrivals);
  }
}

void Arq::warnWindow() const {
  const int window = (reads & kReadsWindow) != 0 ? settings.window : 1;
  const int k = settings.sequenceBits;
  const bool inOrder = rule == WindowRule::kInOrder;
  const long long space = 1LL << k;
  const long long most = inOrder ? space - 1 : space / 2;
  if (window <= most) return;
  std::fprintf(stderr,
               "linksim: warning: a window of %d is too large for %d-bit "
               "sequence numbers: %s needs at most %s = %lld, or it may "
               "hand up wrong packets\n",
               window, k, name, inOrder ? "2^k - 1" : "2^(k-1)", most);
}

void Arq::warnTimeout() const {
  const double t = roundTrip();
  // Its ACK is read no sooner than T - P after a frame starts, on whole
  // ticks; a timer that fires a tick before that always fires first.
  if (!(timeout < t / 2 && timeout + 1 <= t - Node::getProcessingDelay())) {
    return;
  }
  std::fprintf(stderr,
               "linksim: warning: a timeout of %g is far below the round trip "
               "of %g: frames will be sent again before their ACKs can come "
               "back\n",
               timeout, t);
}

void Arq::begin() {
  rereadSettings(reads, &settings);
  dataLink.startRun(store);
  ackSender.startRun(store);
  channel.startRun(settings);
  arrivals.startRun(settings);
  numbers = Numbering(settings.sequenceBits);
  // A protocol without a window has one frame in flight.
  const int window = (reads & kReadsWindow) != 0 ? settings.window : 1;
  timeout =
      std::isnan(settings.timeout) ? derivedTimeout(window) : settings.timeout;
  if (!std::isnan(settings.timeout)) warnTimeout();
  size_t slots = 2;
  while (slots < 2 * static_cast<size_t>(window)) slots *= 2;
  waitingAcks.assign(slots, -1);
  recorder.startRun(settings, reads, settings.window, timeout);
  created = 0;
  admitted = 0;
}

}  // namespace kit
