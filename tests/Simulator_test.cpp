#include "simulator/Simulator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "model/Time.h"
#include "test_support.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::nan("");

/// What verification of examples/link.txt writes, up to its key press.
constexpr const char* kExampleSummary =
    "Verifying simulation settings.......\n"
    "Following are the settings for this simulation:\n"
    "Propagation Delay   : 5.000000\n"
    "Processing Delay    : 1.000000\n"
    "Bit Rate            : 100.000000\n"
    "Data Packet Size    : 800.000000\n"
    "Data Packet Overhead: 64.000000\n"
    "ACK Size            : 128.000000\n"
    "Simulation Duration : 500.000000\n"
    "Data Packet Rate    : 2.000000\n"
    "\n"
    "Press any key to continue...";

/// The eight settings, in the order of the settings file.
struct Settings {
  double propagationDelay, processingDelay, bitRate, dataPacketSize,
      dataOverhead, ackSize, duration, packetRate;
};

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override { apply({1, 1, 1, 1, 1, 1, 1, 1}); }

  void apply(const Settings& s) {
    sim_.propagationDelay = s.propagationDelay;
    Node::setProcessingDelay(s.processingDelay);
    sim_.bitRate = s.bitRate;
    Node::setDataPacketSize(s.dataPacketSize);
    Node::setDataOverhead(s.dataOverhead);
    Node::setACKSize(s.ackSize);
    sim_.duration = s.duration;
    Node::setPacketRate(s.packetRate);
  }

  Settings current() const {
    return {sim_.propagationDelay,
            Node::getProcessingDelay(),
            sim_.bitRate,
            Node::getDataPacketSize(),
            Node::getDataOverhead(),
            Node::getACKSize(),
            sim_.duration,
            Node::getPacketRate()};
  }

  /// Loads `content` as a settings file; its output goes to output_.
  int load(const std::string& content) {
    return loadPath(dir_.writeFile("settings.txt", content));
  }

  int loadPath(const std::string& path) {
    std::snprintf(sim_.settingsFile, sizeof sim_.settingsFile, "%s",
                  path.c_str());
    CaptureStdout();
    const int result = sim_.readSettings();
    output_ = GetCapturedStdout();
    return result;
  }

  /// Verifies with `keys` as standard input; its output goes to output_.
  int verify(const std::string& keys = "k") {
    ScopedStdin in(keys);
    CaptureStdout();
    const int result = sim_.verify();
    output_ = GetCapturedStdout();
    return result;
  }

  /// The output of a rejected verification after its heading line.
  std::string rejection() {
    EXPECT_EQ(-1, verify());
    const std::string heading = "Verifying simulation settings.......\n";
    EXPECT_EQ(0u, output_.find(heading)) << output_;
    return output_.substr(heading.size());
  }

  Packet* packet(double readyToSendTime, double size) {
    packets_.emplace_back(new Packet);
    packets_.back()->setReadyToSendTime(readyToSendTime);
    packets_.back()->setSize(size);
    return packets_.back().get();
  }

  /// Runs until `duration` with bit rate 100 and propagation delay 1.
  void runUntil(double duration) {
    sim_.bitRate = 100;
    sim_.propagationDelay = 1;
    sim_.duration = duration;
    EXPECT_EQ(1, sim_.simulate());
  }

  static std::vector<Packet*> contents(PacketQueue& queue) {
    std::vector<Packet*> result;
    while (queue.getLength() > 0) result.push_back(queue.dequeuePacket(0, 2));
    return result;
  }

  ScopedTempDir dir_;
  Simulator sim_;
  std::string output_;
  std::vector<std::unique_ptr<Packet>> packets_;
};

void expectSettings(const Settings& want, const Settings& got,
                    const std::string& context) {
  const double* w = &want.propagationDelay;
  const double* g = &got.propagationDelay;
  for (int i = 0; i < 8; ++i) {
    if (std::isnan(w[i])) {
      EXPECT_TRUE(std::isnan(g[i])) << context << " setting " << i;
    } else {
      EXPECT_EQ(w[i], g[i]) << context << " setting " << i;
    }
  }
}

// --- Loading ---------------------------------------------------------------

TEST_F(SimulatorTest, LoadsTheExampleFile) {
  EXPECT_EQ(1, loadPath(LINKSIM_EXAMPLES "/link.txt"));
  EXPECT_EQ("", output_);
  expectSettings({5, 1, 100, 800, 64, 128, 500, 2}, current(), "example");
}

TEST_F(SimulatorTest, KeyLinesAndTheirValues) {
  // Each line is loaded on top of all-ones settings.
  const struct {
    const char* line;
    Settings want;
  } cases[] = {
      {"Propagation Delay 5", {5, 1, 1, 1, 1, 1, 1, 1}},
      {"propagation delay 3", {3, 1, 1, 1, 1, 1, 1, 1}},
      {"PROCESSING DELAY 4", {1, 4, 1, 1, 1, 1, 1, 1}},
      {"  Bit   Rate   7  ", {1, 1, 7, 1, 1, 1, 1, 1}},
      {"Data Packet Size 150 bytes", {1, 1, 1, 150, 1, 1, 1, 1}},
      {"Data Packet Overhead 64", {1, 1, 1, 1, 64, 1, 1, 1}},
      {"ack size 40", {1, 1, 1, 1, 1, 40, 1, 1}},
      {"Simulation Duration 1e3", {1, 1, 1, 1, 1, 1, 1000, 1}},
      {"Packet Rate -2.5", {1, 1, 1, 1, 1, 1, 1, -2.5}},
      {"Bit Rate \t9", {1, 1, 9, 1, 1, 1, 1, 1}},
      {"Bit Rate 9\r", {1, 1, 9, 1, 1, 1, 1, 1}},
      {"Bit Rate 10ms", {1, 1, 10, 1, 1, 1, 1, 1}},
      {"Bit Rate 0x10", {1, 1, 16, 1, 1, 1, 1, 1}},
      {"Bit Rate fast", {1, 1, 0, 1, 1, 1, 1, 1}},
      {"Bit Rate inf", {1, 1, kInf, 1, 1, 1, 1, 1}},
      {"Bit Rate NaN", {1, 1, kNaN, 1, 1, 1, 1, 1}},
      // Lines that set nothing.
      {"Bit Rate", {1, 1, 1, 1, 1, 1, 1, 1}},
      {"Bit\tRate 9", {1, 1, 1, 1, 1, 1, 1, 1}},
      {"Data Packet Rate 4", {1, 1, 1, 1, 1, 1, 1, 1}},
      {"Data Size 4", {1, 1, 1, 1, 1, 1, 1, 1}},
      {"# Bit Rate 4", {1, 1, 1, 1, 1, 1, 1, 1}},
      {"", {1, 1, 1, 1, 1, 1, 1, 1}},
      {"     ", {1, 1, 1, 1, 1, 1, 1, 1}},
  };
  for (const auto& c : cases) {
    SetUp();
    EXPECT_EQ(1, load(std::string(c.line) + "\n")) << c.line;
    expectSettings(c.want, current(), c.line);
  }
}

TEST_F(SimulatorTest, LastLineWinsAndOmittedKeysKeepTheirValues) {
  ASSERT_EQ(1, loadPath(LINKSIM_EXAMPLES "/link.txt"));
  EXPECT_EQ(1, load("Simulation Duration 10\nSimulation Duration 20\n"
                    "ACK Size 40"));
  expectSettings({5, 1, 100, 800, 64, 40, 20, 2}, current(), "second load");
}

TEST_F(SimulatorTest, CrLfFileLoadsTheSameValues) {
  EXPECT_EQ(1, load("Propagation Delay 5\r\nProcessing Delay 1\r\n"
                    "Bit Rate 100\r\nData Packet Size 800\r\n"
                    "Data Packet Overhead 64\r\nACK Size 128\r\n"
                    "Simulation Duration 500\r\nPacket Rate 2\r\n"));
  expectSettings({5, 1, 100, 800, 64, 128, 500, 2}, current(), "CR LF");
}

TEST_F(SimulatorTest, EmptyFileLoadsAndChangesNothing) {
  EXPECT_EQ(1, load(""));
  EXPECT_EQ("", output_);
  expectSettings({1, 1, 1, 1, 1, 1, 1, 1}, current(), "empty");
}

/// A device whose content the test writes: a pseudo-terminal in raw mode,
/// fed by a thread. Reading past the content waits, as a device that never
/// ends would.
class FedDevice {
 public:
  explicit FedDevice(std::string content)
      : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
    termios raw{};
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        tcgetattr(master_, &raw) != 0) {
      return;
    }
    cfmakeraw(&raw);
    tcsetattr(master_, TCSANOW, &raw);
    path_ = ptsname(master_);
    writer_ = std::thread([this, content = std::move(content)] {
      for (size_t done = 0; done < content.size();) {
        const ssize_t n =
            write(master_, content.data() + done, content.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
      }
    });
  }
  ~FedDevice() {
    if (writer_.joinable()) writer_.join();
    if (master_ >= 0) close(master_);
  }
  FedDevice(const FedDevice&) = delete;
  FedDevice& operator=(const FedDevice&) = delete;

  const std::string& path() const { return path_; }

 private:
  int master_;
  std::string path_;
  std::thread writer_;
};

constexpr size_t kDeviceLines = size_t{1} << 20;

TEST_F(SimulatorTest, RegularFileIsReadWholeWhateverItsLength) {
  EXPECT_EQ(1, load(std::string(kDeviceLines, '\n') + "Bit Rate 5\n"));
  expectSettings({1, 1, 5, 1, 1, 1, 1, 1}, current(), "long file");
}

/// The part of a line the loader matches keys on.
constexpr size_t kKeyPart = 65535;

// A line of any length is one line: its key and value are read from the
// whole of it, and what stands past the reader's 255 characters never
// starts a line of its own.
TEST_F(SimulatorTest, LongLineIsReadAsOneLine) {
  const std::string key = "Bit Rate 8";
  const std::string pad(kKeyPart - key.size(), ' ');
  const struct {
    std::string line;
    double bitRate;
  } cases[] = {
      // The next line stands on its own, after a line of 255 or 256.
      {std::string(245, ' ') + "Bit Rate 7\nBit Rate 3", 3},
      {std::string(246, ' ') + "Bit Rate 7\nBit Rate 2", 2},
      // A line as long as the key part, and longer ones whose key and value
      // stand within it: the rest is dropped, whatever it holds.
      {pad + key, 8},
      {pad.substr(1) + key + " " + std::string(70000, 'x'), 8},
      {"Bit Rate 6 " + std::string(1 << 20, 'x') + "\nBit Rate 2", 2},
      {"Bit Rate 4" + std::string(1, '\0') + std::string(70000, 'x'), 4},
      {std::string(70000, 'x') + " Bit Rate 3", 1},
  };
  for (const auto& c : cases) {
    SetUp();
    const std::string what =
        c.line.substr(0, 20) + "... of " + std::to_string(c.line.size());
    EXPECT_EQ(1, load(c.line + "\n")) << what;
    EXPECT_EQ(c.bitRate, current().bitRate) << what;
  }
}

TEST_F(SimulatorTest, DevNullLoadsAsAnEmptyFile) {
  EXPECT_EQ(1, loadPath("/dev/null"));
  EXPECT_EQ("", output_);
  expectSettings({1, 1, 1, 1, 1, 1, 1, 1}, current(), "/dev/null");
}

// A refused or failed load writes its message, returns -2 and changes
// nothing, even what it read before it failed.
TEST_F(SimulatorTest, FailedLoadsChangeNothing) {
  const std::string fifo = dir_.path() + "/fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  FedDevice device("Propagation Delay 9\n" + std::string(kDeviceLines, '\n'));
  ASSERT_NE("", device.path());
  // A device line is no longer than the key part: one more piece refuses it.
  FedDevice longLine("Bit Rate 5 " + std::string(kKeyPart - 10, 'x') + "\n");
  ASSERT_NE("", longLine.path());
  // Lines whose key or value would run past the key part, which falls after
  // "Bit Rate 1" or "Bit Ra": guessing could load a value the file does not
  // give.
  const std::string past = dir_.writeFile(
      "past.txt",
      "Bit Rate 5\n" + std::string(kKeyPart - 10, ' ') + "Bit Rate 10\n");
  const std::string valueCut = dir_.writeFile(
      "value_cut.txt", "Bit Rate " + std::string(kKeyPart, '0') + "5\n");
  const std::string keyCut = dir_.writeFile(
      "key_cut.txt", std::string(kKeyPart - 6, ' ') + "Bit Rate 5\n");
  const std::string spaces =
      dir_.writeFile("spaces.txt", std::string(kKeyPart + 1, ' ') + "\n");
  for (const std::string& path : {
           dir_.path() + "/missing.txt",
           dir_.path(),  // a directory
           fifo,         // refused at once, not waited on for a writer
           std::string("/dev/zero"),  // a device that never ends
           device.path(),             // a key line, then a line past the bound
           longLine.path(),
           past,
           valueCut,
           keyCut,
           spaces,
       }) {
    EXPECT_EQ(-2, loadPath(path)) << path;
    EXPECT_EQ("Error in opening settings file\n", output_) << path;
    expectSettings({1, 1, 1, 1, 1, 1, 1, 1}, current(), path);
  }
}

TEST_F(SimulatorTest, LoadWithoutANameFails) {
  sim_.settingsFile[0] = '\0';
  CaptureStdout();
  EXPECT_EQ(-1, sim_.readSettings());
  EXPECT_EQ("No topology file mentioned to load\n", GetCapturedStdout());
}

// --- Verification ----------------------------------------------------------

TEST_F(SimulatorTest, ShowsTheSummaryAndWaitsForOneKey) {
  apply({5, 1, 100, 800, 64, 128, 500, 2});
  EXPECT_EQ(1, verify("xy"));
  EXPECT_EQ(kExampleSummary, output_);
}

TEST_F(SimulatorTest, VerifyReadsExactlyOneCharacter) {
  ScopedStdin in("xy");
  CaptureStdout();
  EXPECT_EQ(1, sim_.verify());
  GetCapturedStdout();
  EXPECT_EQ('y', std::getchar());
}

TEST_F(SimulatorTest, EachValueIsCheckedWithItsOwnMessage) {
  const struct {
    Settings settings;
    const char* message;
  } cases[] = {
      {{0, 1, 1, 1, 1, 1, 1, 1},
       "Invalid value for Propagation Delay (0.000000)\n"},
      {{1, -0.0, 1, 1, 1, 1, 1, 1},
       "Invalid value for Processing Delay (-0.000000)\n"},
      {{1, 1, -5, 1, 1, 1, 1, 1}, "Invalid value for Bit Rate (-5.000000)\n"},
      {{1, 1, 1, 1, 1, 1, -kInf, 1},
       "Invalid value for Simulation Duration (-inf)\n"},
      {{1, 1, 1, 0, 1, 1, 1, 1},
       "Invalid value for Data Packet Size (0.000000)\n"},
      {{1, 1, 1, 1, 0, 1, 1, 1},
       "Invalid value for Data Packet Overhead (0.000000)\n"},
      {{1, 1, 1, 1, 1, 0, 1, 1}, "Invalid value for ACK Size (0.000000)\n"},
      {{1, 1, 1, 1, 1, 1, 1, -1},
       "Invalid value for Packet Rate (-1.000000)\n"},
  };
  for (const auto& c : cases) {
    apply(c.settings);
    EXPECT_EQ(c.message, rejection()) << c.message;
  }
}

TEST_F(SimulatorTest, OnlyTheFirstFailureInCheckOrderIsReported) {
  apply({1, 1, 1, 1, 1, 0, 0, 1});  // ACK size and duration both 0
  EXPECT_EQ("Invalid value for Simulation Duration (0.000000)\n", rejection());
  apply({-1, -1, -1, -1, -1, -1, -1, -1});
  EXPECT_EQ("Invalid value for Propagation Delay (-1.000000)\n", rejection());
}

TEST_F(SimulatorTest, DurationTheClockCannotReachIsRefused) {
  apply({1, 1, 1, 1, 1, 1, kInf, 1});
  EXPECT_EQ("Invalid value for Simulation Duration (inf)\n", rejection());
  apply({1, 1, 1, 1, 1, 1, kMaxDuration * 2, 1});
  EXPECT_EQ(
      "Invalid value for Simulation Duration (18014398509481984.000000)\n",
      rejection());
  sim_.duration = std::nextafter(kMaxDuration, kInf);
  EXPECT_EQ(-1, verify());
  sim_.duration = kMaxDuration;
  EXPECT_EQ(1, verify());
}

TEST_F(SimulatorTest, NaNInfinityAndTinyValuesPass) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  apply({kNaN, kInf, tiny, kNaN, kInf, tiny, kNaN, kInf});
  EXPECT_EQ(1, verify());
  EXPECT_NE(std::string::npos, output_.find("Propagation Delay   : nan\n"));
  EXPECT_NE(std::string::npos, output_.find("Processing Delay    : inf\n"));
  EXPECT_NE(std::string::npos,
            output_.find("Bit Rate            : 0.000000\n"));
}

TEST_F(SimulatorTest, NodeTypesAreChecked) {
  sim_.source.setType('x');
  EXPECT_EQ("Source not defined\n", rejection());
  sim_.source.setType('1');
  sim_.sink.setType('1');
  EXPECT_EQ("Sink not defined\n", rejection());
}

// --- The run loop ----------------------------------------------------------

TEST_F(SimulatorTest, RunsOneTickPerWholeUnitBelowTheDuration) {
  const struct {
    double duration;
    double ticks;
  } cases[] = {{3, 3}, {2.5, 3}, {0.5, 1}, {kNaN, 0}};
  for (const auto& c : cases) {
    sim_.duration = c.duration;
    EXPECT_EQ(1, sim_.simulate()) << c.duration;
    EXPECT_EQ(c.ticks, Time::getTime())
        << c.duration;  // the clock counts ticks
  }
}

TEST_F(SimulatorTest, PacketMovesInTheTickItsTransferCompletes) {
  Packet* p = packet(0, 100);  // due at 0 + 1 + 100/100 = 2
  sim_.source.outgoingQueue.enqueuePacket(p, 2);
  runUntil(1);  // tick 0: due 2 > 0 + 1
  EXPECT_EQ(1, sim_.source.outgoingQueue.getLength());
  runUntil(2);  // tick 1: due 2 <= 1 + 1
  EXPECT_EQ(0, sim_.source.outgoingQueue.getLength());
  EXPECT_EQ(std::vector<Packet*>({p}), contents(sim_.sink.incomingQueue));
}

TEST_F(SimulatorTest, DueExactlyAtTheEndOfTheTickMovesLaterWaits) {
  sim_.sink.outgoingQueue.enqueuePacket(packet(1, 100), 2);  // due 3
  sim_.sink.outgoingQueue.enqueuePacket(packet(1.001, 100), 2);
  runUntil(3);  // ticks 0, 1, 2: the first is due at the end of tick 2
  EXPECT_EQ(1, sim_.sink.outgoingQueue.getLength());
  EXPECT_EQ(1, sim_.source.incomingQueue.getLength());
}

TEST_F(SimulatorTest, OnlyTheEarliestIsTestedAndOrderFollowsReadyTime) {
  Packet* a = packet(0, 900);  // due 10
  Packet* b = packet(1, 100);  // due 3, but a is earlier
  Packet* c = packet(1, 100);  // equal to b, queued later
  sim_.source.outgoingQueue.enqueuePacket(b, 2);
  sim_.source.outgoingQueue.enqueuePacket(a, 2);
  sim_.source.outgoingQueue.enqueuePacket(c, 2);
  runUntil(9);  // ticks 0 to 8: a is not yet due, so nothing moves
  EXPECT_EQ(3, sim_.source.outgoingQueue.getLength());
  runUntil(10);  // tick 9: a, then the equal b and c in queue order
  EXPECT_EQ(std::vector<Packet*>({a, b, c}), contents(sim_.sink.incomingQueue));
}

TEST_F(SimulatorTest, NaNDueTimeStopsDelivery) {
  sim_.source.outgoingQueue.enqueuePacket(packet(kNaN, 1), 2);
  runUntil(5);
  EXPECT_EQ(1, sim_.source.outgoingQueue.getLength());
  EXPECT_EQ(0, sim_.sink.incomingQueue.getLength());
  contents(sim_.source.outgoingQueue);
}

}  // namespace
