#ifndef LINKSIM_PROTOCOLS_KIT_TRACE_H_
#define LINKSIM_PROTOCOLS_KIT_TRACE_H_

// Lines a protocol writes: "acknowledged packet N at CLOCK" on standard
// output, and the trace of a run's events. Numbers are written with
// std::to_chars (kit/to_chars.h for doubles), byte for byte as printf's "%d"
// and "%f" write them, at a tenth of the cost.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "model/Time.h"
#include "to_chars.h"

namespace kit {

/// Appends `value` as "%f" writes it to [*at, end); false if it does not
/// fit. A clock is most often a whole number, written as one, at a tenth of
/// the cost of a double.
inline bool appendClock(char** at, char* end, double value) {
  if (value >= 0.0 && value < 0x1p53 && value == std::floor(value)) {
    const auto [last, error] =
        std::to_chars(*at, end, static_cast<long long>(value));
    if (error != std::errc() || end - last < 7) return false;
    std::memcpy(last, ".000000", 7);
    *at = last + 7;
    return true;
  }
  const auto [last, error] = toCharsFixed(*at, end, value, 6);
  if (error != std::errc()) return false;
  *at = last;
  return true;
}

/// Appends `value` as "%d" (or "%lld") writes it to [*at, end); false if it
/// does not fit.
template <typename Integer>
inline bool appendInt(char** at, char* end, Integer value) {
  const auto [last, error] = std::to_chars(*at, end, value);
  if (error != std::errc()) return false;
  *at = last;
  return true;
}

/// Appends `text` to [*at, end); false if it does not fit.
inline bool appendText(char** at, const char* end, const char* text) {
  const size_t length = std::strlen(text);
  if (length > static_cast<size_t>(end - *at)) return false;
  std::memcpy(*at, text, length);
  *at += length;
  return true;
}

/// Writes "acknowledged packet N at CLOCK" and a newline to standard
/// output, N being `sequence` and the clock the current one.
inline void writeAcknowledged(int sequence) {
  char line[96];
  char* at = line;
  char* const end = line + sizeof line;
  if (appendText(&at, end, "acknowledged packet ") &&
      appendInt(&at, end, sequence) && appendText(&at, end, " at ") &&
      appendClock(&at, end, Time::getTime()) && appendText(&at, end, "\n")) {
    std::fwrite(line, 1, static_cast<size_t>(at - line), stdout);
  } else {  // a clock of over 70 digits: only a hook that set one has it
    std::printf("acknowledged packet %d at %f\n", sequence, Time::getTime());
  }
}

/// Opens `path` for writing rows, with `mode` O_TRUNC or O_APPEND; null,
/// with errno set, when it cannot. The open does not wait: a FIFO whose
/// reader has gone cannot be opened, where waiting would hang the run.
std::FILE* openRows(const char* path, int mode);

/// The events of a run, one CSV row each in the order they happen, with
/// the header "clock,node,event,frame,sequence,packet": packet is the
/// number in the run of the packet the frame holds or the event concerns,
/// which the sequence number, counted modulo its space, may not tell. A
/// trace that was not opened writes nothing and costs one test per event. A
/// trace that cannot be opened or written is lost output: the program goes
/// on, but its exit status says it failed (Simulator::reportLostOutput).
class Trace {
 public:
  Trace() = default;
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;
  ~Trace() { close(); }

  /// Starts a run's trace in `path` afresh; an empty path traces nothing. A
  /// file that cannot be opened is said on standard error, and the run goes
  /// on untraced. The open does not wait: a FIFO whose reader has gone
  /// cannot be opened.
  void open(const std::string& path);

  /// Records that `event` happened now at `node` ("source" or "sink") to
  /// the frame of kind `frame` ("data", "ack", ...) numbered `sequence`
  /// that holds packet `packet`.
  void record(const char* node, const char* event, const char* frame,
              int sequence, long long packet) {
    if (file != nullptr) write(node, event, frame, sequence, packet);
  }

  /// True while a run's trace is open.
  bool isOpen() const { return file != nullptr; }

  /// Ends the trace: everything written reaches the file, and a write that
  /// failed is said on standard error.
  void close();

 private:
  /// Out of line, so that a run without a trace pays one test per event.
  [[gnu::noinline]] void write(const char* node, const char* event,
                               const char* frame, int sequence,
                               long long packet);

  std::FILE* file = nullptr;
  std::string name;
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_TRACE_H_
