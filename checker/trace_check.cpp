#include "trace_check.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace checker {

namespace {

constexpr std::string_view kHeader = kit::kTraceHeader;

}  // namespace

TraceChecker::TraceChecker(std::size_t memoryLimit)
    : memory_(memoryLimit), promises_(&kinds_, &memory_) {}

int TraceChecker::feed(const char* data, std::size_t size) {
  const char* at = data;
  const char* const end = data + size;
  if (partialSize_ > 0 && !settled_) {
    const auto* newline = static_cast<const char*>(std::memchr(at, '\n', size));
    const std::size_t length = newline == nullptr ? size : newline - at;
    const std::size_t kept = std::min(length, kMaxLine + 1 - partialSize_);
    std::memcpy(partial_ + partialSize_, at, kept);
    partialSize_ += kept;
    if (newline == nullptr) {
      if (partialSize_ > kMaxLine)
        checkLine({partial_, partialSize_});  // fails
      return result_;
    }
    checkLine({partial_, partialSize_});
    partialSize_ = 0;
    at = newline + 1;
  }
  while (at < end && !settled_) {
    // A row as the kit writes it is read in one pass that finds its end;
    // any other line, and the last rows of the piece, the long way.
    if (line_ > 0 && !ended_ &&
        end - at >= static_cast<std::ptrdiff_t>(kWindow)) {
      Row row;
      const char* const last = readFast(at, &row);
      if (last != nullptr && *last == '\n') {
        ++line_;
        checkRow(row);
        at = last + 1;
        continue;
      }
    }
    const auto* newline =
        static_cast<const char*>(std::memchr(at, '\n', end - at));
    if (newline == nullptr) {
      partialSize_ = std::min<std::size_t>(end - at, kMaxLine + 1);
      std::memcpy(partial_, at, partialSize_);
      if (partialSize_ > kMaxLine)
        checkLine({partial_, partialSize_});  // fails
      break;
    }
    checkLine(std::string_view(at, newline - at));
    at = newline + 1;
  }
  return result_;
}

int TraceChecker::feedLine(std::string_view line) {
  assert(partialSize_ == 0);
  if (!settled_) checkLine(line);
  return result_;
}

int TraceChecker::finish() {
  if (settled_) return result_;
  if (partialSize_ > 0) {
    checkCutLine({partial_, partialSize_});
    partialSize_ = 0;
  }
  if (settled_) return result_;
  if (line_ == 0) {
    incomplete("the trace is empty", 1);
  } else if (!ended_) {
    incomplete("the trace ends with no end row", line_);
  }
  settled_ = true;
  return result_;
}

Summary TraceChecker::summary() const {
  Summary out = {};
  std::uint64_t rows = 0;
  for (int event = 0; event < kit::kEnd; ++event) rows += counts_[event];
  char* at = out.text;
  char* const end = out.text + sizeof out.text;
  at = std::to_chars(at, end, rows).ptr;
  for (int event = 0; event < kit::kEnd; ++event) {
    const int written =
        std::snprintf(at, static_cast<std::size_t>(end - at), "%s %s %" PRIu64,
                      event == 0 ? " rows," : ",",
                      kit::kTraceEvents[event].name, counts_[event]);
    assert(written > 0 && written < end - at);
    at += written;
  }
  *at = '\0';
  return out;
}

void TraceChecker::checkLine(std::string_view line) {
  ++line_;
  Message why;
  if (line.size() > kMaxLine) {
    say(&why, "not a trace: a line longer than %zu bytes", kMaxLine);
    notATrace(why);
    return;
  }
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line_ == 1) {
    if (line != kHeader) {
      say(&why, "not a trace: the header is \"%s\", not \"%s\"",
          shown(line).text, kit::kTraceHeader);
      notATrace(why);
    }
    return;
  }
  if (ended_) {
    say(&why, "not a trace: a line after the end row");
    notATrace(why);
    return;
  }
  // Copied where the fast reader may read past its end; the NUL after it
  // matches nothing that reader looks for.
  std::memcpy(padded_, line.data(), line.size());
  padded_[line.size()] = '\0';
  Row row = {};
  if (readFast(padded_, &row) == padded_ + line.size()) {
    row.clock = line.substr(0, row.clock.size());  // the row's own text
    checkRow(row);
  } else if (readCarefully(line, &kinds_, &row, &why)) {
    checkRow(row);
  } else {
    settle(row.kind == FrameKinds::kNoMemory ? kOutOfMemory : kNotATrace, why,
           line_);
  }
}

void TraceChecker::checkRow(const Row& row) {
  ++counts_[row.event];
  if (row.event == kit::kEnd) {
    Message why;
    const std::uint64_t before = line_ - 2;  // less the header and itself
    if (row.kind != kit::kDataKind || row.sequence != 0) {
      say(&why,
          "not a trace: the end row's frame and sequence are %s and %d, not "
          "%s and 0",
          kinds_.name(row.kind), row.sequence, kit::kDataName);
      notATrace(why);
      return;
    }
    if (row.packet != before) {
      say(&why,
          "not a trace: the end row counts %" PRIu64
          " rows before it, where the trace has %" PRIu64,
          row.packet, before);
      notATrace(why);
      return;
    }
    ended_ = true;
  }
  if (result_ != kTraceKept) return;  // read on only to find the end
  switch (promises_.check(row, &message_)) {
    case Promises::kHeld:
      break;
    case Promises::kBroken:
      result_ = kTraceBroken;
      verdictLine_ = line_;
      break;
    case Promises::kNoMemory:
      settle(kOutOfMemory, message_, line_);
      break;
  }
}

void TraceChecker::checkCutLine(std::string_view line) {
  std::string_view text = line;
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  if (line_ == 0 && text.size() < kHeader.size() &&
      kHeader.substr(0, text.size()) == text) {
    incomplete("the trace ends inside its header", 1);
  } else if (line_ == 0 || ended_ || isEndRow(text)) {
    checkLine(line);  // the header, a line after the end, or the end row
  } else {
    incomplete("the trace ends inside a row, with no end row", line_ + 1);
  }
}

bool TraceChecker::isEndRow(std::string_view line) {
  Row row;
  Message why;
  return readCarefully(line, &kinds_, &row, &why) && row.event == kit::kEnd &&
         row.node == kit::kAtSource && row.kind == kit::kDataKind &&
         row.sequence == 0 && row.packet == line_ - 1;
}

void TraceChecker::settle(int result, const Message& why, std::uint64_t at) {
  assert(result != kTraceKept);
  result_ = result;
  settled_ = true;
  if (&why != &message_) message_ = why;
  verdictLine_ = at;
}

void TraceChecker::incomplete(const char* why, std::uint64_t at) {
  Message said;
  say(&said, "incomplete: %s: its run was cut short", why);
  settle(kTraceIncomplete, said, at);
}

int checkFile(std::FILE* file, TraceChecker* checker) {
  std::setvbuf(file, nullptr, _IONBF, 0);  // no copy through a stdio buffer
  struct Block {
    char* bytes = static_cast<char*>(std::malloc(kBlock));
    ~Block() { std::free(bytes); }
  } block;
  if (block.bytes == nullptr) return ENOMEM;
  while (!checker->settled()) {
    const std::size_t got = std::fread(block.bytes, 1, kBlock, file);
    if (got > 0) checker->feed(block.bytes, got);
    if (got < kBlock) {
      if (std::ferror(file) != 0) return errno != 0 ? errno : EIO;
      break;  // the end of the input
    }
  }
  checker->finish();
  return 0;
}

}  // namespace checker
