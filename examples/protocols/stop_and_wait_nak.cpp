// Stop-and-wait with NAKs: protocols/stop_and_wait.cpp, but a sink that
// finds a data frame damaged answers it with a NAK, a frame of this
// protocol's own, and a source that reads the NAK sends the frame again at
// once instead of when its timer fires. The timer stays, for a NAK or an ACK
// that is itself lost. linksim is built with it by
//   cmake -S . -B build -DLINKSIM_PROTOCOL=PATH_OF_THIS_FILE
// and runs it with the variables stop-and-wait reads (LINKSIM_LOSS or
// LINKSIM_BER, LINKSIM_TIMEOUT, LINKSIM_TRACE, ...); its trace names the
// NAKs "nak", and its summary counts them on a line of their own.
//
// A damaged frame's number cannot be trusted, so the NAK names the packet
// the sink awaits. The source acts on a NAK only for the frame it has on the
// link; a NAK for a frame it has already sent again, or a packet it no
// longer holds, is read and dropped. A NAK comes back when the ACK would
// have, so it gains nothing on the timeout derived from the link, which
// fires then too, and most where the timeout is long beside the round trip.

#include <string>

#include "model/Packet.h"
#include "model/Time.h"
#include "protocol_kit.h"
#include "simulator/Node.h"

namespace {

constexpr char kNak = 'N';  // the NAK's type: a frame kind of our own

class StopAndWaitNak {
 public:
  static constexpr const char* kName = "stop-and-wait-nak";
  static constexpr unsigned kReads = kit::kReadsLoss | kit::kReadsTimeout |
                                     kit::kReadsArrivals | kit::kReadsSequence;

  // The NAK is as long as an ACK, and declared before the variables are
  // read, so that LINKSIM_DROP may name it.
  bool init(std::string* error) {
    return kit::declareFrame(kNak, "nak", &Node::getACKSize, error) &&
           arq.start(error);
  }
  void generate(Node& source);
  void sendFromSource(Node& source);
  void answerAtSink(Node& sink);

 private:
  kit::Arq arq{kName, kReads};
  // The source's packet in hand: from admission until it is acknowledged.
  bool holding = false;
  long long count = 0;     // its count in the run, from 0
  double ready = 0.0;      // when it may go (again) on the link
  bool onLink = false;     // it went and its timer runs
  bool sent = false;       // it went at least once
  double start = 0.0;      // when it last went
  long long expected = 0;  // the sink's next packet to hand up
};

void StopAndWaitNak::generate(Node& source) {
  if (arq.startsRun(source)) {
    holding = false;
    expected = 0;
  }
  arq.createDue(source, holding);
}

void StopAndWaitNak::sendFromSource(Node& source) {
  const double now = Time::getTime();
  while (Packet* frame = arq.receive(source)) {
    const bool ours =
        holding && frame->getSequenceNumber() == arq.numbers.of(count);
    if (ours && frame->getType() == kit::kAckPacket) {
      arq.acknowledged(count);
      holding = false;
    } else if (ours && onLink && frame->getType() == kNak) {  // again, now
      onLink = false;
      ready = now + Node::getProcessingDelay();
    }
    arq.store.release(frame);
  }
  if (holding && onLink && now >= start + arq.timeout) {
    arq.timedOut(count);
    onLink = false;
    ready = now + Node::getProcessingDelay();
  }
  if (!holding && arq.backlogged()) {
    count = arq.admit();
    holding = true;
    onLink = false;
    sent = false;
    ready = now + Node::getProcessingDelay();
  }
  source.idleUntil(kForever);  // unless told otherwise, until a frame arrives
  if (holding && !onLink) {
    const double at = arq.dataLink.startFor(ready);
    if (kit::Link::startsNow(at, now, source)) {
      arq.sendData(count, at, sent);
      onLink = true;
      sent = true;
      start = at;
    }
  }
  if (holding && onLink) source.idleUntil(start + arq.timeout);
  if (!holding) source.idleUntil(arq.nextCreation());
  arq.dataLink.commitDue(source.outgoingQueue, now, source);
}

void StopAndWaitNak::answerAtSink(Node& sink) {
  arq.startAtSink(sink);
  bool damaged = false;
  while (Packet* data = arq.receive(sink, &damaged)) {
    if (damaged) {
      arq.answer(kNak, expected);
      arq.store.release(data);
      continue;
    }
    const long long got =
        arq.numbers.nearest(data->getSequenceNumber(), expected);
    if (got == expected) {
      arq.deliver(*data);
      ++expected;
    } else {
      arq.discard(*data);
    }
    // New or a duplicate whose ACK was lost; never one from further on.
    if (got < expected) arq.answer(got);
    arq.store.release(data);
  }
  arq.sendAcks(sink);
}

// Its one object, made as the program starts, and the hooks on it.
constexpr kit::Protocol kProtocol = kit::Made<StopAndWaitNak>::entry();

}  // namespace

bool Node::startProtocol(std::string* error) { return kProtocol.start(error); }
int Node::generatePackets() { return kProtocol.generatePackets(*this); }
int Node::sendPackets() { return kProtocol.sendPackets(*this); }
