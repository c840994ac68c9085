#include "console/console.h"

#include <signal.h>
#include <strings.h>
#include <sys/wait.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "simulator/Simulator.h"
#include "simulator/lineutil.h"

namespace {

enum CommandCode : uint8_t {
  kNone = 0,
  kLoad = 1,
  kUnload = 2,
  kExit = 3,
  kRun = 4,
  kHelp = 5,
};

/// Recognition is driven by this table alone. A later row overrides an
/// earlier one; since the keywords differ, at most one matches.
struct CommandEntry {
  const char* keyword;
  CommandCode code;
};
const CommandEntry kCommands[] = {
    {"load", kLoad}, {"unload", kUnload}, {"exit", kExit},
    {"run", kRun},   {"help", kHelp},
};

constexpr int kMaxCommandLine = 255;

// The console's command state.
uint8_t command = kNone;
char commandString[kMaxCommandLine + 1];
int numTokens = 0;
TokenList tokens;  // read only while numTokens > 0

/// errno of the first write to standard output that failed, 0 while none
/// has. Once one has, the session is over: nothing more is read or run.
int writeError = 0;
/// errno of the first read of standard input that failed, 0 while none has.
/// From then on standard input reads as ended, without another read.
int readError = 0;

/// Records a failed write; the first one's reason is what is reported.
void noteWriteError(int error) {
  // A write can also fail inside a printf, where its errno is not kept.
  if (writeError == 0) writeError = error != 0 ? error : EIO;
}

/// Everything written so far reaches the terminal before the program waits
/// for input or runs a shell command. False when output has been lost.
bool flushOutput() {
  if (writeError != 0) return false;
  if (std::fflush(stdout) != 0) {
    noteWriteError(errno);
  } else if (std::ferror(stdout) != 0) {
    noteWriteError(0);
  }
  return writeError == 0;
}

/// Records a failed read, if the last read of standard input was one.
void noteReadError(int error) {
  if (readError == 0 && std::ferror(stdin) != 0) {
    readError = error != 0 ? error : EIO;
  }
}

/// Reads one character; the end of input, or a failed read, is a key like any
/// other. Reads nothing, and gives EOF, once output has been lost or a read
/// has failed.
int readKey() {
  if (!flushOutput() || readError != 0) return EOF;
  const int c = std::getchar();
  if (c == EOF) noteReadError(errno);
  return c;
}

enum class LineResult { kLine, kTooLong, kEndOfInput };

/// Reads one line into commandString without its newline. A longer line is
/// consumed whole and leaves commandString empty: cutting it could turn it
/// into a different command, such as a load of another file. A failed read
/// ends the input; the part of a line read before it is dropped for the same
/// reason.
LineResult readCommandLine() {
  commandString[0] = '\0';
  if (readError != 0) return LineResult::kEndOfInput;
  int stored = 0;
  bool tooLong = false;
  int c = 0;
  while ((c = std::getchar()) != EOF && c != '\n') {
    if (stored < kMaxCommandLine) {
      commandString[stored++] = static_cast<char>(c);
    } else {
      tooLong = true;
    }
  }
  if (c == EOF) {
    noteReadError(errno);
    if (stored == 0 || readError != 0) return LineResult::kEndOfInput;
  }
  commandString[tooLong ? 0 : stored] = '\0';
  return tooLong ? LineResult::kTooLong : LineResult::kLine;
}

/// A Ctrl-C or Ctrl-\ typed while a shell command runs reaches the command,
/// but not linksim, since system() ignores both signals meanwhile; when it
/// has ended the command, linksim ends as the signal would have ended it.
/// A signal linksim was started ignoring changes nothing.
void passOnSignal(int status) {
  if (status == -1 || !WIFSIGNALED(status)) return;
  const int sig = WTERMSIG(status);
  if (sig != SIGINT && sig != SIGQUIT) return;
  struct sigaction action {};
  if (sigaction(sig, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) {
    return;
  }
  std::fflush(stdout);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void runShellClear() {
  // Asking whether there is a shell starts one, so it is asked only once.
  // Where there is none, the screen is simply not cleared.
  static const bool haveShell = std::system(nullptr) != 0;
  if (haveShell) passOnSignal(std::system("clear"));
}

ClearScreenHook clearScreenHook = runShellClear;

/// False, clearing nothing, once output has been lost.
bool clearScreen() {
  if (!flushOutput()) return false;
  clearScreenHook();
  return true;
}

bool hasActiveSettings(const Simulator& simulator) {
  return simulator.settingsFile[0] != '\0';
}

void load(Simulator& simulator) {
  if (numTokens <= 1) {
    std::puts("Invalid command or syntax");
    return;
  }
  if (hasActiveSettings(simulator)) {
    std::fputs(
        "This will remove the current settings. Do you want to continue(Y/N): ",
        stdout);
    const int answer = readKey();
    if (writeError != 0) return;  // nobody saw the question
    // The end of input, or a failed read, is no n: the load goes on.
    if (std::tolower(answer) == 'n') return;
  }
  std::snprintf(simulator.settingsFile, sizeof simulator.settingsFile, "%s",
                tokens[1].get());
  const ReadResult result = simulator.readSettings();
  if (result < 0) {
    std::printf("Failed in loading settings. Error # %d\n",
                static_cast<int>(result));
    simulator.settingsFile[0] = '\0';
  } else {
    std::fputs("Settings loaded successfully\n", stdout);
  }
}

void unload(Simulator& simulator) {
  if (hasActiveSettings(simulator)) {
    simulator.settingsFile[0] = '\0';
  } else {
    std::puts("Currently there is no active settings");
  }
}

void shutDown(const Simulator& simulator) {
  if (hasActiveSettings(simulator)) {
    std::puts("Removing active settings....................");
  }
  std::puts("Shutting down Tarvex...........");
  std::puts("Returning to OS.................................");
}

void run(Simulator& simulator) {
  if (!hasActiveSettings(simulator)) {
    std::puts("Currently there is no active topology");
    return;
  }
  errno = 0;
  const VerifyResult verified = simulator.verify();
  if (verified == kOutputLost) {
    noteWriteError(errno);
    return;
  }
  noteReadError(errno);  // of the key the summary waited for
  if (verified <= 0) {
    std::puts("Verifcation process terminated unsuccessfully");
  } else if (simulator.simulate() < 0) {
    std::puts("Problem in simulation. Terminating abnormally");
  } else {
    std::puts("Simulation completed successfully");
  }
}

/// Writes one line to standard error for input, and one for output, that
/// failed; true when either did.
bool reportFailures() {
  flushOutput();  // the shutdown lines
  if (readError != 0) {
    std::fprintf(stderr, "linksim: read error: %s\n", std::strerror(readError));
  }
  if (writeError != 0) {
    std::fprintf(stderr, "linksim: write error: %s\n",
                 std::strerror(writeError));
  }
  return readError != 0 || writeError != 0;
}

}  // namespace

int parseCommand() {
  numTokens = tokenCount(commandString, " ");
  if (numTokens == 0) return 0;
  tokens = parseLine(commandString, " ");
  return 1;
}

int getCommand() {
  command = kExit;
  if (!clearScreen()) return 1;
  std::fputs("Tarvex Command Line>>", stdout);
  if (!flushOutput()) return 1;
  const LineResult line = readCommandLine();
  parseCommand();
  command = kNone;
  if (line == LineResult::kEndOfInput) {
    // Ends the prompt's line so the shutdown lines start on their own.
    std::putchar('\n');
    command = kExit;
    return 1;
  }
  if (numTokens > 0) {
    for (const CommandEntry& entry : kCommands) {
      if (strcasecmp(tokens[0].get(), entry.keyword) == 0) command = entry.code;
    }
  }
  return 1;
}

void help(int /*topic*/) {}

int runSettingsFile(const char* path) {
  writeError = 0;
  readError = 0;
  int result = kBatchDone;
  {
    Simulator simulator;
    // A name too long for the field would be cut into another file's name.
    if (std::strlen(path) >= sizeof simulator.settingsFile) {
      std::fputs("Error in opening settings file\n", stderr);
      result = kBatchSettingsRefused;
    } else {
      std::memcpy(simulator.settingsFile, path, std::strlen(path) + 1);
      if (simulator.readSettings(stderr) < 0 || simulator.check(stderr) < 0) {
        result = kBatchSettingsRefused;
      } else {
        simulator.simulate();
      }
    }
  }
  const bool failed = reportFailures();
  if (result != kBatchDone) return result;
  return failed || Simulator::outputLost() ? kBatchOutputLost : kBatchDone;
}

void setClearScreenHook(ClearScreenHook hook) {
  clearScreenHook = hook != nullptr ? hook : runShellClear;
}

int runConsole() {
  command = kNone;
  numTokens = 0;
  tokens.reset();
  writeError = 0;
  readError = 0;

  std::puts("Starting Tarvex.......................");
  {
    Simulator simulator;
    std::puts("Getting Ready..........................................");
    std::puts("Displaying command line................................");
    do {
      getCommand();
      if (writeError != 0) break;  // ends at once, with nothing more written
      switch (command) {
        case kLoad:
          load(simulator);
          break;
        case kUnload:
          unload(simulator);
          break;
        case kExit:
          shutDown(simulator);
          break;
        case kRun:
          run(simulator);
          break;
        case kHelp:
          help(0);
          break;
        default:
          std::puts("Invalid command or syntax");
          break;
      }
      if (command != kExit) {
        std::puts("Press any key to return to menu");
        readKey();
      }
    } while (command != kExit);
  }
  tokens.reset();
  numTokens = 0;
  const bool failed = reportFailures();
  return failed || Simulator::outputLost() ? EXIT_FAILURE : 0;
}
