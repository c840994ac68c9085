// End-to-end tests: the real linksim binary, scripted standard input, and its
// standard output compared byte for byte.

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

const std::string kStartup =
    "Starting Tarvex.......................\n"
    "Getting Ready..........................................\n"
    "Displaying command line................................\n";
const std::string kPrompt = std::string(kClear) + "Tarvex Command Line>>";
const std::string kPause = "Press any key to return to menu\n";
const std::string kInvalid = "Invalid command or syntax\n";
const std::string kRemoving = "Removing active settings....................\n";
const std::string kShutdown =
    "Shutting down Tarvex...........\n"
    "Returning to OS.................................\n";
const std::string kLoaded = "Settings loaded successfully\n";
const std::string kConfirm =
    "This will remove the current settings. Do you want to continue(Y/N): ";
const std::string kSummary = kExampleSummary;
const std::string kCompleted = "Simulation completed successfully\n";
const std::string kNoFile =
    "Error in opening settings file\nFailed in loading settings. Error # -2\n";

class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.writeFile("link.txt", readFile(LINKSIM_EXAMPLES "/link.txt"));
  }

  /// Runs a session and expects the start-up lines, then `transcript`, and
  /// exit status 0.
  void expectSession(const std::string& input, const std::string& transcript) {
    const Transcript got = runLinksim(dir_, input);
    EXPECT_EQ(kStartup + transcript, got.output) << "input: " << input;
    EXPECT_EQ(0, got.status) << "input: " << input;
  }

  ScopedTempDir dir_;
};

TEST_F(ConsoleTest, ExitEndsTheProgramInAnyCase) {
  for (const char* input :
       {"exit\n", "EXIT\n", "eXiT now\n", "  exit  \n", "exit"}) {
    expectSession(input, kPrompt + kShutdown);
  }
}

TEST_F(ConsoleTest, UnrecognisedAndEmptyLinesAreInvalid) {
  expectSession("loads\n\nrun1\n\n\n\n   \n\nexit\n",
                kPrompt + kInvalid + kPause + kPrompt + kInvalid + kPause +
                    kPrompt + kInvalid + kPause + kPrompt + kInvalid + kPause +
                    kPrompt + kShutdown);
}

TEST_F(ConsoleTest, LoadRunUnloadExit) {
  expectSession("load link.txt\n\nRun\n\n\nunload\n\nexit\n",
                kPrompt + kLoaded + kPause + kPrompt + kSummary + kCompleted +
                    kPause + kPrompt + kPause + kPrompt + kShutdown);
}

TEST_F(ConsoleTest, ExitWithActiveSettingsRemovesThem) {
  expectSession("LOAD link.txt ignored.txt\n\nexit\n",
                kPrompt + kLoaded + kPause + kPrompt + kRemoving + kShutdown);
}

TEST_F(ConsoleTest, CommandsWithoutTheirSettings) {
  expectSession("load\n\nload    \n\nunload\n\nrun\n\nhelp me\n\nexit\n",
                kPrompt + kInvalid + kPause + kPrompt + kInvalid + kPause +
                    kPrompt + "Currently there is no active settings\n" +
                    kPause + kPrompt +
                    "Currently there is no active topology\n" + kPause +
                    kPrompt + kPause + kPrompt + kShutdown);
}

TEST_F(ConsoleTest, FailedLoadDropsTheActiveSettings) {
  expectSession("load link.txt\n\nload missing.txt\ny\nrun\n\nexit\n",
                kPrompt + kLoaded + kPause + kPrompt + kConfirm + kNoFile +
                    kPause + kPrompt +
                    "Currently there is no active topology\n" + kPause +
                    kPrompt + kShutdown);
  dir_.writeFile("dir/x", "");
  expectSession("load dir\n\nexit\n",
                kPrompt + kNoFile + kPause + kPrompt + kShutdown);
}

// The confirmation and the pauses each read one character; the rest of the
// line is what the next read sees.
TEST_F(ConsoleTest, ReloadAnsweredNoKeepsTheSettings) {
  for (const char* answer : {"n\n", "N\n", "no\n\n"}) {
    // "no": n answers, o satisfies the pause, the newline is an empty line.
    const bool rest = std::string(answer).size() > 2;
    expectSession(std::string("load link.txt\n\nload missing.txt\n") + answer +
                      "unload\n\nunload\n\nexit\n",
                  kPrompt + kLoaded + kPause + kPrompt + kConfirm + kPause +
                      (rest ? kPrompt + kInvalid + kPause : "") + kPrompt +
                      kPause + kPrompt +
                      "Currently there is no active settings\n" + kPause +
                      kPrompt + kShutdown);
  }
}

TEST_F(ConsoleTest, ReloadAnsweredOtherwiseGoesOn) {
  // y: its newline satisfies the pause at once.
  expectSession("load link.txt\n\nload link.txt\ny\nexit\n",
                kPrompt + kLoaded + kPause + kPrompt + kConfirm + kLoaded +
                    kPause + kPrompt + kRemoving + kShutdown);
  // Just Enter: the pause then waits for the next character.
  expectSession("load link.txt\n\nload link.txt\n\n\nexit\n",
                kPrompt + kLoaded + kPause + kPrompt + kConfirm + kLoaded +
                    kPause + kPrompt + kRemoving + kShutdown);
}

TEST_F(ConsoleTest, KeyTypedAtThePauseLeavesAnEmptyCommandLine) {
  expectSession("help\nx\n\nexit\n", kPrompt + kPause + kPrompt + kInvalid +
                                         kPause + kPrompt + kShutdown);
}

TEST_F(ConsoleTest, RejectedSettingsAreNotRun) {
  // Nothing loaded yet reads 0.0: first the link's own values, then the
  // shared parameters.
  dir_.writeFile("empty.txt", "");
  dir_.writeFile("link-only.txt",
                 "Propagation Delay 5\nBit Rate 100\nSimulation Duration 9\n");
  dir_.writeFile("endless.txt", "Simulation Duration inf\n");
  const std::string verifying = "Verifying simulation settings.......\n";
  const std::string failed = "Verifcation process terminated unsuccessfully\n";
  expectSession(
      "load empty.txt\n\nrun\n\nload link-only.txt\ny\nrun\n\n"
      "load link.txt\ny\nload endless.txt\ny\nrun\n\nexit\n",
      kPrompt + kLoaded + kPause + kPrompt + verifying +
          "Invalid value for Propagation Delay (0.000000)\n" + failed + kPause +
          kPrompt + kConfirm + kLoaded + kPause + kPrompt + verifying +
          "Invalid value for Processing Delay (0.000000)\n" + failed + kPause +
          kPrompt + kConfirm + kLoaded + kPause + kPrompt + kConfirm + kLoaded +
          kPause + kPrompt + verifying +
          "Invalid value for Simulation Duration (inf)\n" + failed + kPause +
          kPrompt + kRemoving + kShutdown);
}

// End of input reads as "exit" at the prompt; elsewhere the read returns and
// the next prompt meets the end.
TEST_F(ConsoleTest, EndOfInputExits) {
  expectSession("", kPrompt + "\n" + kShutdown);
  expectSession("help\n", kPrompt + kPause + kPrompt + "\n" + kShutdown);
  expectSession("load link.txt\n\nrun\n",
                kPrompt + kLoaded + kPause + kPrompt + kSummary + kCompleted +
                    kPause + kPrompt + "\n" + kRemoving + kShutdown);
  expectSession("load link.txt\n\nload link.txt\n",
                kPrompt + kLoaded + kPause + kPrompt + kConfirm + kLoaded +
                    kPause + kPrompt + "\n" + kRemoving + kShutdown);
}

TEST_F(ConsoleTest, OverlongLinesAreRejectedWhole) {
  const std::string name(250, 'x');  // "load " + 250 = 255 characters
  dir_.writeFile(name, readFile(LINKSIM_EXAMPLES "/link.txt"));
  dir_.writeFile(name.substr(0, 249), readFile(LINKSIM_EXAMPLES "/link.txt"));
  expectSession("load " + name + "\n\nunload\n\nload " + name + "y\n\n" +
                    "exit" + std::string(300, ' ') + "\n\nexit\n",
                kPrompt + kLoaded + kPause + kPrompt + kPause + kPrompt +
                    kInvalid + kPause + kPrompt + kInvalid + kPause + kPrompt +
                    kShutdown);
}

TEST_F(ConsoleTest, BinaryInputIsJustAnInvalidCommand) {
  expectSession(std::string("\xff\x01\t\r\n\nlo\0ad link.txt\n\nexit\n", 27),
                kPrompt + kInvalid + kPause + kPrompt + kInvalid + kPause +
                    kPrompt + kShutdown);
}

}  // namespace
