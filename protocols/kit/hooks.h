#ifndef LINKSIM_PROTOCOLS_KIT_HOOKS_H_
#define LINKSIM_PROTOCOLS_KIT_HOOKS_H_

// A protocol class as the node hooks call it. A protocol is a class with
// three parts, generate(source), sendFromSource(source) and
// answerAtSink(sink); built alone, its file defines the hooks with
// kit::generate and kit::send on one object of it. Built into linksim-arq
// beside the others, its file defines instead a kit::Protocol by name, and
// the object is made only for the protocol LINKSIM_ARQ chooses, so that no
// other one reads a variable or writes a line.

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

/// A protocol that a program chooses at start among others.
struct Protocol {
  const char* name;
  void (*make)();  // makes its one object, which reads the variables
  int (*generatePackets)(Node& node);
  int (*sendPackets)(Node& node);
};

/// The hooks of a chosen protocol class, on its one object.
template <typename Class>
class Chosen {
 public:
  static constexpr Protocol entry(const char* name) {
    return Protocol{name, &make, &generatePackets, &sendPackets};
  }

 private:
  static void make() {
    static Class protocol;
    made = &protocol;
  }
  static int generatePackets(Node& node) { return generate(*made, node); }
  static int sendPackets(Node& node) { return send(*made, node); }

  static inline Class* made = nullptr;
};

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_HOOKS_H_
