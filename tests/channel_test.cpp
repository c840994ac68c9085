// The lossy channel in bursts (kit/channel.h), drawn frame by frame as a
// run draws them: over many frames each direction loses the long-run share
// p asked for, in runs of lost frames of mean length b, whatever the other
// direction does between its frames; and b = 1 / (1 - p) loses the very
// frames that independent loss does. A frame kind a protocol declares is
// lost as any frame of its size is, the kit's own included, by the same
// draws, and one that cannot be declared ends the program. The kit's generator
// draws what std::mt19937_64 draws, so a seed loses the frames it always has.

#include "kit/channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "kit/frames.h"
#include "kit/random.h"
#include "kit/variables.h"
#include "model/Packet.h"
#include "simulator/Node.h"

namespace {

/// `count` frames through `channel`, data and ACKs in turn, each from its
/// node as the kit makes them: for each, lost.
std::vector<bool> draw(kit::Channel& channel, long count, char type) {
  Packet data;
  data.setType(kit::kDataPacket);
  data.setSource(kSourceType);
  Packet ack;
  ack.setType(kit::kAckPacket);
  ack.setSource(kSinkType);
  std::vector<bool> lost;
  for (long i = 0; i < count; ++i) {
    const bool dataLost = channel.lost(data);
    const bool ackLost = channel.lost(ack);
    lost.push_back(type == kit::kDataPacket ? dataLost : ackLost);
  }
  return lost;
}

TEST(ChannelTest, LosesTheShareAskedForInBurstsOfTheMeanLengthAskedFor) {
  // p and b; with b = 1 at p = 0.5 the chain never stays bad and always
  // turns bad, losing every other frame; b = 4 is the shortest burst that
  // can lose 0.8.
  const struct {
    double p, b;
  } kCases[] = {{0.1, 1 / 0.9}, {0.1, 2}, {0.1, 20},
                {0.3, 5},       {0.5, 1}, {0.8, 4}};
  const long kFrames = 2000000;
  for (const auto& c : kCases) {
    for (const char type : {kit::kDataPacket, kit::kAckPacket}) {
      kit::Settings settings;
      settings.loss = c.p;
      settings.burst = c.b;
      settings.seed = 7;
      kit::Channel channel;
      channel.startRun(settings);
      const std::vector<bool> lost = draw(channel, kFrames, type);
      long losses = 0;
      long bursts = 0;
      for (size_t i = 0; i < lost.size(); ++i) {
        losses += lost[i];
        bursts += lost[i] && (i == 0 || !lost[i - 1]);
      }
      const double share = static_cast<double>(losses) / kFrames;
      const double meanBurst = static_cast<double>(losses) / bursts;
      // Some standard errors at most: the share's, widened by the chain's
      // memory, (1 + l) / (1 - l) with l = 1 - 1 / (b (1 - p)); the mean
      // burst's, a geometric length's over the bursts counted.
      const double l = 1 - 1 / (c.b * (1 - c.p));
      const double shareError =
          std::sqrt(c.p * (1 - c.p) / kFrames * (1 + l) / (1 - l));
      const double burstError = std::sqrt(c.b * (c.b - 1) / bursts);
      EXPECT_NEAR(share, c.p, 5 * shareError + 1e-9)
          << "p " << c.p << ", b " << c.b << ", frame " << type;
      EXPECT_NEAR(meanBurst, c.b, 5 * burstError + 1e-9)
          << "p " << c.p << ", b " << c.b << ", frame " << type;
    }
  }
}

TEST(ChannelTest, BurstsOfOneOverOneMinusPLoseWhatIndependentLossLoses) {
  for (const double p : {0.05, 0.3}) {
    kit::Settings independent;
    independent.loss = p;
    kit::Settings bursty = independent;
    bursty.burst = 1 / (1 - p);
    kit::Channel a;
    kit::Channel b;
    a.startRun(independent);
    b.startRun(bursty);
    EXPECT_EQ(draw(a, 100000, kit::kDataPacket),
              draw(b, 100000, kit::kDataPacket))
        << "p " << p;
  }
}

// LINKSIM_DROP's frames are lost on top of what the other models lose, and
// those draw what they draw without it; LINKSIM_ACK_LOSS given as the
// data's loss draws what leaving it unset draws.
TEST(ChannelTest, DroppedFramesAddToWhatTheOtherModelsDrawAsWithoutThem) {
  const double kModels[][3] = {// loss, ACK loss, burst
                               {0, NAN, NAN}, {0.3, NAN, NAN}, {0.3, NAN, 4},
                               {0.3, 0, NAN}, {0, 0.4, NAN},   {0.2, 0.2, 3}};
  for (const auto& model : kModels) {
    kit::Settings settings;
    settings.loss = model[0];
    settings.ackLoss = model[1];
    settings.burst = model[2];
    kit::Channel channel;
    std::vector<bool> alone[2];  // data, ACKs
    for (const int ack : {0, 1}) {
      channel.startRun(settings);
      alone[ack] =
          draw(channel, 1000, ack ? kit::kAckPacket : kit::kDataPacket);
    }
    if (model[1] == model[0]) {
      settings.ackLoss = NAN;
      channel.startRun(settings);
      EXPECT_EQ(draw(channel, 1000, kit::kAckPacket), alone[1]);
    }
    ASSERT_TRUE(kit::readDropList("data:2,999 ack:1,500", &settings.drop));
    alone[0][1] = alone[0][998] = alone[1][0] = alone[1][499] = true;
    for (const int ack : {0, 1}) {
      channel.startRun(settings);
      EXPECT_EQ(draw(channel, 1000, ack ? kit::kAckPacket : kit::kDataPacket),
                alone[ack])
          << model[0] << " " << model[1] << " " << model[2] << " " << ack;
    }
  }
}

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
  std::string error;
  ASSERT_TRUE(kit::declareFrame('N', "nak", &Node::getACKSize, &error))
      << error;
  const char nak = 'N';
  kit::Settings byBit;
  byBit.ber = 3e-4;  // loses a data frame 6 times as often as an ACK
  kit::Settings byFrame;
  byFrame.loss = 0.3;  // every frame alike
  EXPECT_EQ(losses(kit::kAckPacket, byBit), losses(nak, byBit));
  EXPECT_NE(losses(kit::kDataPacket, byBit), losses(nak, byBit));
  EXPECT_EQ(losses(kit::kDataPacket, byFrame), losses(nak, byFrame));
}

// A kind that cannot be declared is refused, saying which and why, in every
// build; declared silently, its frames would count as data.
TEST(FrameKindsTest, AKindThatCannotBeDeclaredIsRefusedSayingWhichAndWhy) {
  const std::string lowercase =
      " cannot be declared: its name must be a lowercase letter, then "
      "lowercase letters, digits, '_' or '-'";
  const struct {
    char type;
    const char* name;
    double (*bits)();
    std::string message;  // after "the frame kind "
  } kRefused[] = {
      {'N', "Nak", &Node::getACKSize, "'N' named \"Nak\"" + lowercase},
      {'N', "", &Node::getACKSize, "'N' named \"\"" + lowercase},
      {'N', nullptr, &Node::getACKSize, "'N' named \"\"" + lowercase},
      {'\n', "n l", &Node::getACKSize, "10 named \"n l\"" + lowercase},
      {'N', "nak", nullptr,
       "'N' named \"nak\" cannot be declared: it has no size"},
      {'A', "nak", &Node::getACKSize,
       "'A' named \"nak\" cannot be declared: another kind has its type"},
      {'N', "ack", &Node::getACKSize,
       "'N' named \"ack\" cannot be declared: another kind has its name"},
      {'D', "data", &Node::getACKSize,
       "'D' named \"data\" cannot be declared: it is declared already, with "
       "another size"},
  };
  for (const auto& refused : kRefused) {
    std::string error;
    EXPECT_FALSE(
        kit::declareFrame(refused.type, refused.name, refused.bits, &error));
    EXPECT_EQ(error, "the frame kind " + refused.message);
  }
  // Kinds up to the trace's most, 16, are declared; the next is refused.
  // The table is the process's: put back as it was for the tests after.
  const kit::FrameKinds saved = kit::frameKinds;
  static const char* const kNames[] = {"ka", "kb", "kc", "kd", "ke", "kf",
                                       "kg", "kh", "ki", "kj", "kk", "kl",
                                       "km", "kn", "ko", "kp"};
  std::string error;
  int declared = 0;
  while (declared < 16 &&
         kit::declareFrame(static_cast<char>('a' + declared), kNames[declared],
                           &Node::getACKSize, &error)) {
    ++declared;
  }
  EXPECT_EQ(kit::frameKindCount(), 16);
  EXPECT_NE(error.find("at most 16 kinds"), std::string::npos) << error;
  kit::frameKinds = saved;
}

TEST(RandomTest, DrawsWhatMt19937_64DrawsFromTheSameSeed) {
  // Past three refills of the state, from seeds whose first words are
  // zero, all ones and the arrivals' stream's; seeding again starts over.
  for (const std::uint64_t seed :
       {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{5489},
        ~std::uint64_t{0}, std::uint64_t{7} ^ 0x9e3779b97f4a7c15U}) {
    kit::Random kit(12345);
    kit.seed(seed);
    std::mt19937_64 standard(seed);
    for (int i = 0; i < 1000; ++i) {
      ASSERT_EQ(kit(), standard()) << "seed " << seed << ", draw " << i;
    }
  }
  // The standard's own check: the 10000th number from the default seed.
  kit::Random unseeded;
  for (int i = 1; i < 10000; ++i) unseeded();
  EXPECT_EQ(unseeded(), 9981545732273789042U);
}

}  // namespace
