#ifndef LINKSIM_CONSOLE_CONSOLE_H_
#define LINKSIM_CONSOLE_CONSOLE_H_

/// The command loop: start-up lines, then clear, prompt, read one command
/// line, carry it out, pause, until "exit" or the end of standard input.
/// Reads standard input, writes standard output, and returns 0, or
/// EXIT_FAILURE after one line on standard error for each of two failures:
/// - a read of standard input failed ("linksim: read error: " and the
///   reason): the input ends there as at its end, and is not read again;
/// - a write to standard output failed ("linksim: write error: " and the
///   reason): the session ends at once, with nothing more read, written or
///   run. Output is checked before every read and shell command, so what a
///   command writes is checked when it returns.
/// It also returns EXIT_FAILURE when the protocol lost output of its own
/// (Simulator::reportLostOutput), which it said on standard error itself.
/// It may run more than once in a process; each run starts with a new
/// simulator and no command state (the clock and the shared link parameters
/// live on).
int runConsole();

/// The exit status of a program whose protocol refuses to start
/// (Node::startProtocol): a variable it cannot use.
constexpr int kProtocolRefused = 2;

/// runSettingsFile's results, which are linksim-arq's exit statuses.
constexpr int kBatchDone = 0;  ///< the run ran, and all it wrote was written
/// Standard output, or a protocol's own output such as a trace, was lost,
/// as one line on standard error said.
constexpr int kBatchOutputLost = 1;
/// The command line is not `linksim-arq [FILE]`: the status a refused
/// variable ends the program with too (kProtocolRefused).
constexpr int kBatchUsage = 2;
/// The settings file cannot be loaded, or its settings are rejected.
constexpr int kBatchSettingsRefused = 3;

/// One run of the settings file `path`, as `load` and `run` at the prompt
/// would make it, but with nothing of the console's: no start-up or
/// shutdown line, prompt, clear, settings shown or pause, and standard
/// input never read. Standard output holds what the run writes alone (a
/// protocol's lines and summary). A file that cannot be loaded, or
/// settings that verification would reject, are said on standard error
/// with the console's own message ("Error in opening settings file",
/// "Invalid value for Bit Rate (0.000000)", ...), and nothing runs.
/// Returns kBatchDone, kBatchSettingsRefused, or kBatchOutputLost after
/// "linksim: write error: " and the reason when standard output failed (or
/// after the protocol's own line, Simulator::reportLostOutput).
int runSettingsFile(const char* path);

/// Clears the screen, prompts, reads one command line and recognises it.
/// At the end of input, or a failed read, it writes a newline and reads as
/// "exit"; once output has failed it reads as "exit" at once, clearing,
/// writing and reading nothing. Returns 1.
int getCommand();

/// Splits the last command line into its tokens. Returns 1 when there is at
/// least one, else 0.
int parseCommand();

/// The help hook, called with 0. It writes nothing.
void help(int topic);

/// What clears the terminal before each prompt. The default runs the shell
/// command "clear", where there is a shell (asked once, at the first
/// prompt); a Ctrl-C or Ctrl-\ that ends clear ends linksim by the same
/// signal, as it would have without the shell command. A harness that
/// drives the loop in process many times a second installs its own; null
/// restores the default.
using ClearScreenHook = void (*)();
void setClearScreenHook(ClearScreenHook hook);

#endif  // LINKSIM_CONSOLE_CONSOLE_H_
