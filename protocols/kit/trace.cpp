#include "trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "model/Time.h"
#include "simulator/Simulator.h"

namespace kit {

std::FILE* openRows(const char* path, int mode) {
  const int fd = ::open(
      path, O_WRONLY | O_CREAT | mode | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
      0666);
  const int flags = fd < 0 ? -1 : fcntl(fd, F_GETFL);
  // Writes wait, as any writer's would, once a reader is there.
  std::FILE* file = nullptr;
  if (flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0) {
    file = fdopen(fd, mode == O_APPEND ? "a" : "w");
  }
  if (file == nullptr && fd >= 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
  }
  return file;
}

void Trace::open(const std::string& path) {
  close();
  if (path.empty()) return;
  file = openRows(path.c_str(), O_TRUNC);
  if (file == nullptr) {
    std::fprintf(stderr, "linksim: cannot write the trace %s: %s\n",
                 path.c_str(), std::strerror(errno));
    Simulator::reportLostOutput();
    return;
  }
  name = path;
  rows = 0;
  std::fprintf(file, "%s\n", kTraceHeader);
}

void Trace::end() {
  if (file == nullptr) return;
  const long long before = rows;
  write(kAtSource, kEnd, kDataName, 0, before);
  close();
}

void Trace::close() {
  if (file == nullptr) return;
  const bool failed = std::ferror(file) != 0;
  const int closed = std::fclose(file);
  if (closed != 0 || failed) {
    std::fprintf(stderr, "linksim: write error on the trace %s: %s\n",
                 name.c_str(), std::strerror(closed != 0 ? errno : EIO));
    Simulator::reportLostOutput();
  }
  file = nullptr;
}

void Trace::write(TraceNode node, TraceEvent event, const char* frame,
                  int sequence, long long packet) {
  assert(event >= 0 && event < kTraceEventCount);
  assert(node == kTraceEvents[event].node ||
         (kTraceEvents[event].node == kAtEither && node != kAtEither));
  ++rows;
  const char* const nodeName = kTraceNodes[node];
  const char* const eventName = kTraceEvents[event].name;
  char row[160];
  char* at = row;
  char* const end = row + sizeof row;
  if (appendClock(&at, end, Time::getTime()) && appendText(&at, end, ",") &&
      appendText(&at, end, nodeName) && appendText(&at, end, ",") &&
      appendText(&at, end, eventName) && appendText(&at, end, ",") &&
      appendText(&at, end, frame) && appendText(&at, end, ",") &&
      appendInt(&at, end, sequence) && appendText(&at, end, ",") &&
      appendInt(&at, end, packet) && appendText(&at, end, "\n")) {
    std::fwrite(row, 1, static_cast<size_t>(at - row), file);
  } else {
    std::fprintf(file, "%f,%s,%s,%s,%d,%lld\n", Time::getTime(), nodeName,
                 eventName, frame, sequence, packet);
  }
}

}  // namespace kit
