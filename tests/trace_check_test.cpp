// The trace checker: a valid trace of every kind of row passes with its
// counts, each planted fault fails at its line with its message, and what
// is not a trace is named. Every input is checked three ways, which must
// agree: whole, in pieces of a few bytes (lines cut anywhere), and line by
// line.

#include "trace_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace {

using checker::kNotATrace;
using checker::kTraceBroken;
using checker::kTraceKept;

struct Verdict {
  int result;
  std::uint64_t line;
  std::string message;  // the summary when kept
  bool operator==(const Verdict& o) const {
    return result == o.result && line == o.line && message == o.message;
  }
};

std::ostream& operator<<(std::ostream& out, const Verdict& v) {
  return out << v.result << " at line " << v.line << ": " << v.message;
}

Verdict verdictOf(const checker::TraceChecker& c) {
  return {c.result(), c.result() == kTraceKept ? 0 : c.line(),
          c.result() == kTraceKept ? c.summary() : c.message()};
}

/// The verdict on `text`, the same whichever way it is fed, or a failure.
Verdict check(const std::string& text) {
  checker::TraceChecker whole;
  whole.feed(text.data(), text.size());
  whole.finish();
  checker::TraceChecker pieces;
  for (std::size_t at = 0; at < text.size(); at += 7) {
    pieces.feed(text.data() + at, std::min<std::size_t>(7, text.size() - at));
  }
  pieces.finish();
  checker::TraceChecker lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t newline = std::min(text.find('\n', at), text.size());
    lines.feedLine(std::string_view(text).substr(at, newline - at));
    at = newline + 1;
  }
  lines.finish();
  EXPECT_EQ(verdictOf(whole), verdictOf(pieces)) << "in pieces";
  EXPECT_EQ(verdictOf(whole), verdictOf(lines)) << "by lines";
  return verdictOf(whole);
}

// Go-Back-N-like and Selective-Repeat-like at once: a lost frame, a nak,
// a timeout, two copies of one frame in flight, a buffered and a discarded
// frame, a lost ACK, sequence numbers wrapping after 0..2, a line ending in
// "\r\n", and a clock too long for the fast reader.
const char* const kValid[] = {
    "clock,node,event,frame,sequence,packet",
    "1.000000,source,send,data,0,0",  // line 2
    "2.000000,source,send,data,1,1",
    "3.000000,source,send,data,2,2",
    "8.000000,sink,receive,data,0,0",  // 5
    "8.000000,sink,deliver,data,0,0",
    "8.000000,sink,send,ack,0,0",
    "9.000000,sink,lost,data,1,1",
    "10.000000,sink,receive,data,2,2",
    "10.000000,sink,buffer,data,2,2",  // 10
    "10.000000,sink,send,nak,1,1",
    "15.000000,source,receive,ack,0,0",
    "15.000000,source,acknowledged,data,0,0",
    "17.000000,source,receive,nak,1,1",
    "17.000000,source,resend,data,1,1",  // 15
    "20.500000,source,timeout,data,1,1",
    "21.000000,source,resend,data,1,1\r",
    "24.000000,sink,receive,data,1,1",
    "24.000000,sink,deliver,data,1,1",
    "24.000000,sink,deliver,data,2,2",  // 20
    "24.000000,sink,send,ack,2,2",
    "28.000000,sink,receive,data,1,1",
    "28.000000,sink,discard,data,1,1",
    "28.000000,sink,send,ack,2,2",
    "31.000000,source,receive,ack,2,2",  // 25
    "31.000000,source,acknowledged,data,1,1",
    "31.000000,source,acknowledged,data,2,2",
    "35.000000,source,lost,ack,2,2",
    "36.000000,source,send,data,0,3",
    "123456789012345678901.000000,sink,receive,data,0,3",  // 30
    "123456789012345678901.000000,sink,deliver,data,0,3",
};
constexpr std::size_t kValidLines = sizeof kValid / sizeof kValid[0];

/// The valid trace with `line` (1 the header) replaced by `text`, or with
/// `text` put before it when `insert`; an empty `text` removes the line.
std::string traceWith(std::size_t line, const std::string& text,
                      bool insert = false) {
  std::string trace;
  for (std::size_t i = 1; i <= kValidLines; ++i) {
    if (i == line && (insert || !text.empty())) trace += text + "\n";
    if (i != line || insert) trace += std::string(kValid[i - 1]) + "\n";
  }
  return trace;
}

TEST(TraceCheckTest, AValidTraceOfEveryKindOfRowPassesWithItsCounts) {
  EXPECT_EQ(check(traceWith(0, "")),
            (Verdict{kTraceKept, 0,
                     "30 rows, send 8, resend 2, receive 8, lost 2, "
                     "deliver 4, acknowledged 3, timeout 1, discard 1, "
                     "buffer 1"}));
  // The last line may lack its newline.
  std::string trace = traceWith(0, "");
  trace.pop_back();
  EXPECT_EQ(kTraceKept, check(trace).result);
}

TEST(TraceCheckTest, EachBrokenPromiseFailsAtItsLine) {
  const struct {
    std::size_t line;
    const char* text;
    bool insert;
    std::uint64_t failsAt;
    const char* message;
  } faults[] = {
      {20, "24.000000,sink,deliver,data,1,1", true, 20,
       "packet 1 delivered again"},
      {19, "", false, 19, "packet 2 delivered before packet 1"},
      {5, "8.000000,sink,lost,data,0,0", false, 6,
       "packet 0 delivered, but the sink received no data frame holding it"},
      {15, "17.000000,source,acknowledged,data,1,1", true, 15,
       "packet 1 acknowledged before the sink delivered it"},
      {27, "31.000000,source,acknowledged,data,1,1", false, 27,
       "packet 1 acknowledged again"},
      {26, "", false, 26, "packet 2 acknowledged before packet 1"},
      {3, "2.000000,source,send,data,1,5", false, 8,
       "data frame 1 holding packet 1 arrives at the sink (lost) more "
       "often than the source sent it"},
      {23, "28.000000,sink,receive,data,1,1", true, 23,
       "data frame 1 holding packet 1 arrives at the sink (receive) more "
       "often than the source sent it"},
      {12, "15.000000,sink,receive,ack,0,0", false, 12,
       "ack frame 0 holding packet 0 arrives at the sink (receive) more "
       "often than the source sent it"},
      {19, "23.999999,sink,deliver,data,1,1", false, 19,
       "the clock goes back, from 24.000000 to 23.999999"},
      {17, "20.4999999,source,resend,data,1,1", false, 17,
       "the clock goes back, from 20.500000 to 20.4999999"},
      {31, "5.0,sink,deliver,data,0,3", false, 31,
       "the clock goes back, from 123456789012345678901.000000 to 5.0"},
  };
  for (const auto& f : faults) {
    EXPECT_EQ(check(traceWith(f.line, f.text, f.insert)),
              (Verdict{kTraceBroken, f.failsAt, f.message}))
        << f.line << " " << f.text;
  }
}

TEST(TraceCheckTest, WhatIsNotATraceIsNamedAtItsLine) {
  const std::string header = std::string(kValid[0]) + "\n";
  const struct {
    std::string text;
    std::uint64_t line;
    const char* message;
  } cases[] = {
      {"", 1, "the input is empty, with no header"},
      {"clock,node,event,frame,sequence\n", 1,
       "the header is \"clock,node,event,frame,sequence\", not "
       "\"clock,node,event,frame,sequence,packet\""},
      {header + "1.0,source,send,data,0\n", 2, "5 fields, where a row has 6"},
      {header + "\n", 2, "1 fields, where a row has 6"},
      {header + "1.0,source,send,data,0,0,\n", 2,
       "7 fields, where a row has 6"},
      {header + "1e3,source,send,data,0,0\n", 2,
       "the clock \"1e3\" is not a decimal number"},
      {header + "-1.0,source,send,data,0,0\n", 2,
       "the clock \"-1.0\" is not a decimal number"},
      {header + "1.,source,send,data,0,0\n", 2,
       "the clock \"1.\" is not a decimal number"},
      {header + "1.0,relay,send,data,0,0\n", 2, "unknown node \"relay\""},
      {header + "1.0,\x01\xff,send,data,0,0\n", 2, "unknown node \"??\""},
      {header + "1.0,source,sent,data,0,0\n", 2, "unknown event \"sent\""},
      {header + "1.0,source,deliver,data,0,0\n", 2,
       "deliver at the source, an event of the sink only"},
      {header + "1.0,sink,timeout,data,0,0\n", 2,
       "timeout at the sink, an event of the source only"},
      {header + "1.0,source,send,Data,0,0\n", 2,
       "the frame kind \"Data\" is not a lowercase word"},
      {header + "1.0,source,send,,0,0\n", 2,
       "the frame kind \"\" is not a lowercase word"},
      {header + "1.0,source,send,data,x,0\n", 2,
       "the sequence number \"x\" is not an int"},
      {header + "1.0,source,send,data,2147483648,0\n", 2,
       "the sequence number \"2147483648\" is not an int"},
      {header + "1.0,source,send,data,0,-1\n", 2,
       "the packet \"-1\" is not a non-negative 64-bit integer"},
      {header + "1.0,source,send,data,0,18446744073709551616\n", 2,
       "the packet \"18446744073709551616\" is not a non-negative 64-bit "
       "integer"},
      {header + "1.0,source,send,data,0,0\n" + std::string(5000, 'x'), 3,
       "a line longer than 4096 bytes"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        check(c.text),
        (Verdict{kNotATrace, c.line, "not a trace: " + std::string(c.message)}))
        << c.text.substr(0, 80);
  }
}

TEST(TraceCheckTest, ThousandsOfFramesInFlightAllMatchTheirSends) {
  // More than the tables first hold, sent at once, received half in order
  // and half newest first, then delivered and acknowledged in order; exotic but
  // valid numbers (leading zeros, 20 digits) take the careful reader.
  constexpr int kFrames = 5000;
  std::string trace = std::string(kValid[0]) + "\n";
  for (int k = 0; k < kFrames; ++k) {
    trace += "1.000000,source,send,data," + std::to_string(k % 8) + "," +
             std::to_string(k) + "\n";
  }
  for (int i = 0; i < kFrames; ++i) {
    const int k = i % 2 == 0 ? i : kFrames - i;
    trace += "2.000000,sink,receive,data," + std::to_string(k % 8) + "," +
             std::to_string(k) + "\n";
  }
  for (int k = 0; k < kFrames; ++k) {
    trace += "3.000000,sink,deliver,data,0," + std::to_string(k) + "\n";
  }
  for (int k = 0; k < kFrames; ++k) {
    trace += "00004.0,source,acknowledged,data,-0,0000000000000000000" +
             std::to_string(k) + "\n";
  }
  const std::string kept = check(trace).message;
  EXPECT_EQ(kept.substr(0, kept.find(", resend")), "20000 rows, send 5000");
  trace += "5.000000,sink,receive,data,7,4999\n";
  EXPECT_EQ(check(trace),
            (Verdict{kTraceBroken, 4 * kFrames + 2,
                     "data frame 7 holding packet 4999 arrives at the sink "
                     "(receive) more often than the source sent it"}));
}

}  // namespace
