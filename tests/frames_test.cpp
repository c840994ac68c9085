// A frame kind a protocol declares is lost by the channel as any frame of
// its size is, the kit's own included, by the same draws.

#include <gtest/gtest.h>

#include <vector>

#include "model/Packet.h"
#include "protocol_kit.h"
#include "simulator/Node.h"

namespace {

/// Whether each of 1000 frames of type `type` is lost, on a channel started
/// afresh with `settings`.
std::vector<bool> losses(char type, const kit::Settings& settings) {
  kit::Channel channel;
  channel.startRun(settings);
  Packet frame;
  frame.setType(type);
  std::vector<bool> lost;
  for (int i = 0; i < 1000; ++i) lost.push_back(channel.lost(frame));
  return lost;
}

TEST(FrameKindsTest, AFrameOfItsOwnIsLostAsAnyFrameOfItsSize) {
  Node::setDataPacketSize(800.0);
  Node::setDataOverhead(64.0);
  Node::setACKSize(128.0);
  const char nak = kit::declareFrame('N', "nak", &Node::getACKSize);
  kit::Settings byBit;
  byBit.ber = 3e-4;  // loses a data frame 6 times as often as an ACK
  kit::Settings byFrame;
  byFrame.loss = 0.3;  // every frame alike
  EXPECT_EQ(losses(kit::kAckPacket, byBit), losses(nak, byBit));
  EXPECT_NE(losses(kit::kDataPacket, byBit), losses(nak, byBit));
  EXPECT_EQ(losses(kit::kDataPacket, byFrame), losses(nak, byFrame));
}

}  // namespace
