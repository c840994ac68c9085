// The kit's frame kinds: the channel loses a frame of a kind a protocol
// declares as it loses any frame of the same size, the kit's own included,
// by the same draws.

#include <gtest/gtest.h>

#include <vector>

#include "model/Packet.h"
#include "protocol_kit.h"
#include "simulator/Node.h"

namespace {

constexpr char kNak = 'N';
constexpr char kProbe = 'P';
double probeBits() { return 800.0 + 64.0; }  // a data frame's size here

/// Whether each of `count` frames of type `type` is lost, on a channel
/// started afresh with `settings`.
std::vector<bool> losses(char type, const kit::Settings& settings, int count) {
  kit::Channel channel;
  channel.startRun(settings);
  Packet frame;
  frame.setType(type);
  std::vector<bool> lost;
  for (int i = 0; i < count; ++i) lost.push_back(channel.lost(frame));
  return lost;
}

TEST(FrameKindsTest, AFrameOfItsOwnIsLostAsAnyFrameOfItsSize) {
  Node::setDataPacketSize(800.0);
  Node::setDataOverhead(64.0);
  Node::setACKSize(128.0);
  kit::declareFrame(kNak, "nak", &Node::getACKSize);
  kit::declareFrame(kProbe, "probe", &probeBits);
  kit::Settings byBit;
  byBit.ber = 3e-4;  // loses a data frame 6 times as often as an ACK
  kit::Settings byFrame;
  byFrame.loss = 0.3;  // every frame alike
  const struct {
    char own, like;
    const kit::Settings& settings;
    bool same;
  } cases[] = {
      {kNak, kit::kAckPacket, byBit, true},
      {kProbe, kit::kDataPacket, byBit, true},
      {kNak, kit::kDataPacket, byBit, false},
      {kNak, kit::kDataPacket, byFrame, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.same, losses(c.own, c.settings, 1000) ==
                          losses(c.like, c.settings, 1000))
        << c.own << " against " << c.like << ", ber " << c.settings.ber;
  }
}

}  // namespace
