#ifndef LINKSIM_PROTOCOLS_KIT_HOOKS_H_
#define LINKSIM_PROTOCOLS_KIT_HOOKS_H_

// A protocol class as the node hooks call it. A protocol is a class with
// its name, kName, the variables it reads, kReads (kReads bits), and four
// parts: init(error), as the program starts; generate(source),
// sendFromSource(source) and answerAtSink(sink), in the run's ticks. Its
// one object is made when the program's entry starts the protocol
// (Node::startProtocol), in main's time, and not before: a protocol's
// start reads the variables and may refuse them, and only the program's
// entry ends the program. A protocol's file gives it as a kit::Protocol,
// Made<Class>::entry(), a constant; the hooks call that entry's functions:
// those of a program with the protocol alone (protocols/kit/alone.cpp, or
// a file's own hooks), or of the one linksim-arq chooses by name
// (protocols/linksim_arq.cpp).

#include <cassert>
#include <string>

#include "simulator/Node.h"

namespace kit {

/// Node::generatePackets for `protocol`: its source creates packets.
template <typename Protocol>
int generate(Protocol& protocol, Node& node) {
  if (node.getType() == kSourceType) protocol.generate(node);
  return 1;
}

/// Node::sendPackets for `protocol`: its source and its sink send.
template <typename Protocol>
int send(Protocol& protocol, Node& node) {
  if (node.getType() == kSourceType) {
    protocol.sendFromSource(node);
  } else if (node.getType() == kSinkType) {
    protocol.answerAtSink(node);
  }
  return 1;
}

/// A protocol, as the hooks call it.
struct Protocol {
  const char* name;
  unsigned reads;  // the variables it reads: kReads bits
  /// Makes its one object, which reads the variables: Node::startProtocol.
  bool (*start)(std::string* error);
  int (*generatePackets)(Node& node);
  int (*sendPackets)(Node& node);
};

/// The hooks of a protocol class, on its one object.
template <typename Class>
class Made {
 public:
  static constexpr Protocol entry() {
    return Protocol{Class::kName, Class::kReads, &start, &generatePackets,
                    &sendPackets};
  }

 private:
  static bool start(std::string* error) {
    static Class protocol;
    made = &protocol;
    return protocol.init(error);
  }
  static int generatePackets(Node& node) {
    assert(made != nullptr && "the program's entry starts the protocol");
    return generate(*made, node);
  }
  static int sendPackets(Node& node) {
    assert(made != nullptr && "the program's entry starts the protocol");
    return send(*made, node);
  }

  static inline Class* made = nullptr;
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_HOOKS_H_
