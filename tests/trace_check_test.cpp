// The trace checker: a valid trace of every kind of row passes with its
// counts, each planted fault fails at its line with its message, what is
// not a trace is named, and a trace cut at any byte is incomplete. Every
// input is checked three ways, which must agree: whole, in pieces of a few
// bytes (lines cut anywhere), and line by line.

#include "trace_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace {

using checker::kNotATrace;
using checker::kOutOfMemory;
using checker::kTraceBroken;
using checker::kTraceIncomplete;
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
          c.result() == kTraceKept ? c.summary().text : c.message()};
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
  std::size_t at = 0;
  for (std::size_t newline; (newline = text.find('\n', at)) != text.npos;) {
    lines.feedLine(std::string_view(text).substr(at, newline - at));
    at = newline + 1;
  }
  lines.feed(text.data() + at, text.size() - at);  // a last line cut short
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
/// Then its end row, counting the rows before it.
std::string traceWith(std::size_t line, const std::string& text,
                      bool insert = false) {
  std::string trace;
  for (std::size_t i = 1; i <= kValidLines; ++i) {
    if (i == line && (insert || !text.empty())) trace += text + "\n";
    if (i != line || insert) trace += std::string(kValid[i - 1]) + "\n";
  }
  const auto rows = std::count(trace.begin(), trace.end(), '\n') - 1;
  return trace + "123456789012345678901.5,source,end,data,0," +
         std::to_string(rows) + "\n";
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
      {5, "8.000000,sink,receive,data,1,1", true, 5,
       "data frame 1 holding packet 1 arrives at the sink (receive) before "
       "data frame 0 holding packet 0, which the source sent before it"},
      {12, "15.000000,source,receive,nak,1,1", false, 12,
       "nak frame 1 holding packet 1 arrives at the source (receive) before "
       "ack frame 0 holding packet 0, which the sink sent before it"},
      {3, "2.000000,source,resend,data,1,1", false, 3,
       "data frame 1 holding packet 1 resent before it was sent"},
      {15, "17.000000,source,send,data,1,1", false, 15,
       "data frame 1 holding packet 1 sent twice: a frame sent again is "
       "resent"},
      {12, "15.000000,source,lost,ack,0,0", false, 13,
       "packet 0 acknowledged, but the source received no ACK holding it "
       "or a later packet"},
      {11, "10.000000,sink,send,data,1,1", true, 11,
       "data frame 1 holding packet 1 sent by the sink: data frames go from "
       "the source alone"},
      {15, "17.000000,source,resend,ack,0,0", true, 15,
       "ack frame 0 holding packet 0 resent by the source: ACKs go from the "
       "sink alone"},
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
      {header + "1.0,sink,end,data,0,0\n", 2,
       "end at the sink, an event of the source only"},
      {header + "1.0,source,end,data,0,1\n", 2,
       "the end row counts 1 rows before it, where the trace has 0"},
      {header + "1.0,source,end,ack,0,0\n", 2,
       "the end row's frame and sequence are ack and 0, not data and 0"},
      {header + "1.0,source,end,data,0,0\n\n", 3, "a line after the end row"},
      {header + "1.0,source,end,data,0,0\n1.0,source,end,data,0,1", 3,
       "a line after the end row"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        check(c.text),
        (Verdict{kNotATrace, c.line, "not a trace: " + std::string(c.message)}))
        << c.text.substr(0, 80);
  }
}

TEST(TraceCheckTest, ATraceCutShortAtAnyByteIsIncomplete) {
  // Cut before any byte but its last newline, a trace is not judged,
  // whether its rows so far keep every promise or break one.
  const std::string valid = traceWith(0, "");
  for (const std::string& trace :
       {valid, traceWith(20, "24.000000,sink,deliver,data,1,1", true)}) {
    for (std::size_t size = 0; size + 1 < trace.size(); ++size) {
      EXPECT_EQ(kTraceIncomplete, check(trace.substr(0, size)).result)
          << trace.substr(0, size);
    }
  }
  const std::size_t endRow = valid.rfind('\n', valid.size() - 2) + 1;
  const struct {
    std::size_t size;
    std::uint64_t line;
    const char* why;
  } cuts[] = {
      {0, 1, "the trace is empty"},
      {5, 1, "the trace ends inside its header"},
      {38, 1, "the trace ends with no end row"},
      {endRow, 31, "the trace ends with no end row"},
      {endRow + 30, 32, "the trace ends inside a row, with no end row"},
      {valid.size() - 2, 32, "the trace ends inside a row, with no end row"},
  };
  for (const auto& c : cuts) {
    EXPECT_EQ(check(valid.substr(0, c.size)),
              (Verdict{kTraceIncomplete, c.line,
                       "incomplete: " + std::string(c.why) +
                           ": its run was cut short"}))
        << c.size;
  }
}

TEST(TraceCheckTest, TablesThatOutgrowTheirMemorySaySo) {
  // The first 64 frames in flight, or packets held, take 1 KiB.
  std::string acks = std::string(kValid[0]) + "\n";
  std::string data = acks;
  for (int k = 0; k < 80; ++k) acks += "1.0,sink,send,ack,0,0\n";
  for (int k = 0; k < 40; ++k) {
    data += "1.0,source,send,data,0," + std::to_string(k) + "\n";
  }
  for (int k = 0; k < 40; ++k) {
    data += "2.0,sink,receive,data,0," + std::to_string(k) + "\n";
  }
  const struct {
    std::string trace;
    std::size_t limit;
    std::uint64_t line;
    const char* message;
  } cases[] = {
      {acks, 1024, 66, "out of memory, holding 64 frames in flight"},
      {data, 3072, 75,
       "out of memory, holding 32 packets received ahead of delivery"},
  };
  for (const auto& c : cases) {
    checker::TraceChecker limited(c.limit);
    limited.feed(c.trace.data(), c.trace.size());
    limited.finish();
    EXPECT_EQ(verdictOf(limited), (Verdict{kOutOfMemory, c.line, c.message}));
  }
}

TEST(TraceCheckTest, ThousandsOfFramesInFlightAllMatchTheirSends) {
  // More than the tables first hold: sent two for each one received, so that
  // the queue grows where it has wrapped, then delivered and acknowledged in
  // order; exotic but valid numbers (leading zeros, 20 digits) take the
  // careful reader.
  constexpr int kFrames = 5000;
  std::string trace = std::string(kValid[0]) + "\n";
  const auto frame = [](const char* row, int k) {
    return row + std::to_string(k % 8) + "," + std::to_string(k) + "\n";
  };
  for (int k = 0; k < kFrames; ++k) {
    trace += frame("1.000000,source,send,data,", k);
    if (k % 2 == 1) trace += frame("1.000000,sink,receive,data,", k / 2);
  }
  for (int k = kFrames / 2; k < kFrames; ++k) {
    trace += frame("2.000000,sink,receive,data,", k);
  }
  for (int k = 0; k < kFrames; ++k) {
    trace += "3.000000,sink,deliver,data,0," + std::to_string(k) + "\n";
  }
  trace += frame("3.0,sink,send,ack,", 4999) +
           frame("4.0,source,receive,ack,", 4999);
  for (int k = 0; k < kFrames; ++k) {
    trace += "00004.0,source,acknowledged,data,-0,0000000000000000000" +
             std::to_string(k) + "\n";
  }
  const std::string ended = trace + "5.0,source,end,data,0,20002\n";
  const std::string kept = check(ended).message;
  EXPECT_EQ(kept.substr(0, kept.find(", resend")), "20002 rows, send 5001");
  trace += frame("5.000000,sink,receive,data,", 4999) +
           "5.0,source,end,data,0,20003\n";
  EXPECT_EQ(check(trace),
            (Verdict{kTraceBroken, 4 * kFrames + 4,
                     "data frame 7 holding packet 4999 arrives at the sink "
                     "(receive) more often than the source sent it"}));
}

}  // namespace
