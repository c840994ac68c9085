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
// Made<Class>::entry(), a constant whose functions the hooks call: those of
// a program with the protocol alone (a file's own hooks), or of the one
// linksim-arq chooses by name (protocols/linksim_arq.cpp). A shipped
// protocol's file ends with LINKSIM_SHIPPED_PROTOCOL instead, which gives
// them names as well, for a program that holds it alone
// (protocols/kit/alone.cpp).

#include <cassert>
#include <cstdlib>
#include <new>
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

  static bool start(std::string* error) {
    if (!made) {
      new (&storage) Class;
      made = true;
      // Gone at exit as a static object would be, after what its
      // construction made.
      std::atexit([] { object().~Class(); });
    }
    return object().init(error);
  }
  static int generatePackets(Node& node) {
    assert(made && "the program's entry starts the protocol");
    return generate(object(), node);
  }
  static int sendPackets(Node& node) {
    assert(made && "the program's entry starts the protocol");
    return send(object(), node);
  }

 private:
  /// The one object, made in place at a fixed address, so that the hooks
  /// reach its members as they would a static object's.
  static Class& object() {
    return *std::launder(reinterpret_cast<Class*>(&storage));
  }

  alignas(Class) static inline unsigned char storage[sizeof(Class)];
  static inline bool made = false;
};

}  // namespace kit

/// Ends protocols/FILE.cpp, the file of the shipped protocol class `Class`
/// (one line of protocols/protocol_list.h): its hooks, as the functions
/// protocols::FILE::start, generatePackets and sendPackets, and its entry,
/// protocols::FILE::entry, through which linksim-arq calls them. A program
/// that holds the protocol alone calls the functions by name
/// (protocols/kit/alone.cpp), so that they inline into the run loop as hooks
/// of its own would.
// NOLINTBEGIN(bugprone-macro-parentheses): `file` names a namespace.
#define LINKSIM_SHIPPED_PROTOCOL(file, Class)                                 \
  namespace protocols::file {                                                 \
  bool start(std::string* error) { return kit::Made<Class>::start(error); }   \
  int generatePackets(Node& node) {                                           \
    return kit::Made<Class>::generatePackets(node);                           \
  }                                                                           \
  int sendPackets(Node& node) { return kit::Made<Class>::sendPackets(node); } \
  extern constexpr kit::Protocol entry = kit::Made<Class>::entry();           \
  }
// NOLINTEND(bugprone-macro-parentheses)

#endif  // LINKSIM_PROTOCOLS_KIT_HOOKS_H_
