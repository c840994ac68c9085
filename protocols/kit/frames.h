#ifndef LINKSIM_PROTOCOLS_KIT_FRAMES_H_
#define LINKSIM_PROTOCOLS_KIT_FRAMES_H_

// The kinds of frame the link carries. A kind is a type character, which
// its frames carry (Packet::getType), a name, which the trace's frame column
// gives them, and a size in bits, by which the channel loses them under a
// bit error rate. The kit declares its own two, data and ACK, here; a
// protocol declares any of its own (a NAK, say) with declareFrame, and the
// channel, the trace and the summary then treat its frames as they treat
// the kit's. A frame's kind is found through a table of every type
// character, so that it costs a load per frame, however many kinds there
// are.

#include <cassert>
#include <cstring>
#include <string>

#include "simulator/Node.h"
#include "trace_format.h"

namespace kit {

constexpr char kDataPacket = 'D';
constexpr char kAckPacket = 'A';

// The kinds a trace may name, and how many, are the trace's format
// (trace_format.h): kDataKind and kAckKind, the kit's two, whose frames are
// counted in columns of their own in the summary and the stats, and at most
// kMaxFrameKinds in all, those two among them.

/// A data frame's size on the link: the packet and its overhead.
inline double dataFrameBits() {
  return Node::getDataPacketSize() + Node::getDataOverhead();
}

/// A kind of frame.
struct FrameKind {
  char type = 0;
  const char* name = nullptr;  // in the trace: a lowercase word
  double (*bits)() = nullptr;  // its frames' size, as the settings now are
};

/// Every kind declared so far. Initialised before any code runs, so that a
/// kind may be declared from anywhere.
struct FrameKinds {
  constexpr FrameKinds()
      : kinds{{kDataPacket, kDataName, &dataFrameBits},
              {kAckPacket, kAckName, &Node::getACKSize}} {
    index[static_cast<unsigned char>(kAckPacket)] = kAckKind;
  }
  FrameKind kinds[kMaxFrameKinds];
  int count = 2;
  // The kind of each type character; an undeclared one reads as data.
  unsigned char index[256] = {};
};

// Constant, so that it is initialised before any declaration.
static_assert(FrameKinds().count == 2, "the table is a constant expression");
inline FrameKinds frameKinds;

/// The index of the kind of frames of type `type`: kDataKind, kAckKind, or
/// one the protocol declared.
inline int frameKindOf(char type) {
  const int kind = frameKinds.index[static_cast<unsigned char>(type)];
  assert(frameKinds.kinds[kind].type == type && "an undeclared frame type");
  return kind;
}

/// The kind of index `kind`, from 0 to frameKindCount() - 1.
inline const FrameKind& frameKind(int kind) {
  assert(kind >= 0 && kind < frameKinds.count);
  return frameKinds.kinds[kind];
}

/// How many kinds are declared, the kit's two included.
inline int frameKindCount() { return frameKinds.count; }

/// Why a kind of frame cannot be declared.
enum class FrameRefusal {
  kBadName,    ///< not a lowercase word (isFrameName), or none
  kNoSize,     ///< no function gives its size
  kOtherSize,  ///< declared already, with another size
  kTypeTaken,  ///< another kind has its type
  kNameTaken,  ///< another kind has its name
  kTooMany,    ///< kMaxFrameKinds are declared already
};

/// The refusal of a kind that cannot be declared, naming it and saying
/// why.
std::string frameRefusal(char type, const char* name, FrameRefusal why);

/// Declares a kind of frame of the protocol's own: frames of type `type`
/// are named `name` in the trace (a lowercase word, isFrameName, that lives
/// as long as the program) and weigh `bits()` bits on the link. Declare it
/// as the protocol starts (its start, before its Arq's), so that a program
/// that holds several protocols declares only the chosen one's, and
/// LINKSIM_DROP may name it. Declaring a kind again as it is changes
/// nothing. False, with `*error` the refusal, for anything FrameRefusal
/// names: the protocol does not start, since a kind left undeclared would be
/// counted and traced as data.
inline bool declareFrame(char type, const char* name, double (*bits)(),
                         std::string* error) {
  const auto refuse = [&](FrameRefusal why) {
    *error = frameRefusal(type, name, why);
    return false;
  };
  if (name == nullptr || !isFrameName(name, std::strlen(name))) {
    return refuse(FrameRefusal::kBadName);
  }
  if (bits == nullptr) return refuse(FrameRefusal::kNoSize);
  for (int i = 0; i < frameKinds.count; ++i) {
    const FrameKind& kind = frameKinds.kinds[i];
    const bool sameType = kind.type == type;
    const bool sameName = std::strcmp(kind.name, name) == 0;
    if (sameType && sameName) {
      return kind.bits == bits || refuse(FrameRefusal::kOtherSize);
    }
    if (sameType) return refuse(FrameRefusal::kTypeTaken);
    if (sameName) return refuse(FrameRefusal::kNameTaken);
  }
  if (frameKinds.count == kMaxFrameKinds) {
    return refuse(FrameRefusal::kTooMany);
  }
  const int kind = frameKinds.count++;
  frameKinds.kinds[kind] = FrameKind{type, name, bits};
  frameKinds.index[static_cast<unsigned char>(type)] =
      static_cast<unsigned char>(kind);
  return true;
}

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_FRAMES_H_
