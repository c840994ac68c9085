#ifndef LINKSIM_PROTOCOLS_KIT_ENVIRONMENT_H_
#define LINKSIM_PROTOCOLS_KIT_ENVIRONMENT_H_

// What the environment tells a protocol built on the kit, read the same way
// by every one of them:
//   LINKSIM_WINDOW   frames in flight, a whole number from 1 to 65536 (8)
//   LINKSIM_LOSS     each frame lost with this probability, 0 <= p < 1 (0)
//   LINKSIM_BER      instead, a bit error rate, 0 <= b < 1
//   LINKSIM_SEED     the loss generator's seed, 0 to 2^64 - 1 (1)
//   LINKSIM_TIMEOUT  the retransmission timeout, a finite number above 0
//                    (unset: the protocol derives one from the link)
//   LINKSIM_TRACE    a file each run writes its events to (unset: none)
//   LINKSIM_STATS    a file each run appends a row of its figures to
//                    (unset: none)
//   Neither file may be standard output, nor both one file, and a FIFO
//   must have a reader.
//   LINKSIM_SEQUENCE_BITS  k: frames carry their packet's number modulo
//                    2^k, a whole number from 1 to 31 (31)
//   LINKSIM_BURST    the mean length of a run of lost frames, from 1 up,
//                    with LINKSIM_LOSS the long-run loss (unset: each frame
//                    lost on its own)
//   LINKSIM_ARRIVALS periodic (packet k arrives at k / rate) or poisson
//                    (exponential gaps of mean 1 / rate) (periodic)
// A value a protocol cannot use ends the program where it starts, before it
// writes a line: one line on standard error naming the variable and what it
// accepts, and exit status 2. A guess would run a different experiment than
// the one asked for. A protocol reads only the variables that mean
// something to it; any other LINKSIM_ variable draws a warning at start,
// since a misspelled one would otherwise run the experiment without it.

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

namespace kit {

constexpr long kMaxWindow = 65536;

/// The exit status of a program that refuses, where it starts, a variable
/// it cannot use or a kind of frame it cannot declare.
constexpr int kRefusedStatus = 2;

/// What the variables ask for.
struct Settings {
  int window = 8;
  double loss = 0.0;          // per frame, when ber is not set
  double ber = std::nan("");  // per bit; NaN when not set
  std::uint64_t seed = 1;
  double timeout = std::nan("");  // NaN: derive one from the link
  std::string trace;              // empty: no trace
  std::string stats;              // empty: no stats
  int sequenceBits = 31;          // sequence numbers modulo 2^sequenceBits
  double burst = std::nan("");    // mean run of lost frames; NaN: no bursts
  bool poisson = false;           // arrivals: Poisson, else periodic
};

/// Which variables a protocol reads, beside LINKSIM_TRACE and LINKSIM_STATS,
/// which every one does: a set of these bits.
constexpr unsigned kReadsWindow = 1;   // LINKSIM_WINDOW
constexpr unsigned kReadsLoss = 2;     // LINKSIM_LOSS, _BER and _SEED
constexpr unsigned kReadsTimeout = 4;  // LINKSIM_TIMEOUT
// LINKSIM_SEQUENCE_BITS: only a protocol whose receivers decide by the
// numbers the kit gives (Arq::numbers) may claim it.
constexpr unsigned kReadsSequence = 8;
constexpr unsigned kReadsArrivals = 16;  // LINKSIM_ARRIVALS
constexpr unsigned kReadsArq =
    kReadsWindow | kReadsLoss | kReadsTimeout | kReadsArrivals;
/// Not a protocol's to claim: set while Poisson arrivals draw from the
/// seed, which a protocol that reads no loss then reads all the same.
constexpr unsigned kDrawsArrivals = 32;

/// The variables the kit knows, and the bits that read each; 0 for those
/// read whatever the protocol. One more, the program's own (linksim-arq's
/// LINKSIM_ARQ), is programVariable.
constexpr struct {
  const char* name;
  unsigned readBy;
} kVariables[] = {
    {"LINKSIM_WINDOW", kReadsWindow},
    {"LINKSIM_LOSS", kReadsLoss},
    {"LINKSIM_BER", kReadsLoss},
    {"LINKSIM_SEED", kReadsLoss | kDrawsArrivals},
    {"LINKSIM_TIMEOUT", kReadsTimeout},
    {"LINKSIM_TRACE", 0},
    {"LINKSIM_STATS", 0},
    {"LINKSIM_SEQUENCE_BITS", kReadsSequence},
    {"LINKSIM_BURST", kReadsLoss},
    {"LINKSIM_ARRIVALS", kReadsArrivals},
};

/// The kReads bits of the variables a protocol that reads `reads` takes
/// with `settings`: the seed too where Poisson arrivals draw from it.
inline unsigned readsWith(unsigned reads, const Settings& settings) {
  const bool draws = (reads & kReadsArrivals) != 0 && settings.poisson;
  return reads | (draws ? kDrawsArrivals : 0);
}

/// A variable the program reads beside the kit's; null for none.
const char*& programVariable();

/// linksim-arq's own variable, the protocol it runs: its programVariable,
/// which any other program ignores.
constexpr const char* kArqVariable = "LINKSIM_ARQ";

/// True when `text` is all decimal digits, and some.
bool allDigits(const char* text);

/// The whole number from 1 to `most` that `text` names, digits only
/// (strtol alone would take a sign, spaces or a trailing word); 0 for
/// anything else.
int readCount(const char* text, long most);

/// The window `text` names: a whole number from 1 to kMaxWindow; 0 for
/// anything else.
int readWindow(const char* text);

/// What LINKSIM_WINDOW must hold, as the refusal says it.
std::string windowRule();

/// Reads `text` whole as a decimal number such as 0.05, .5 or 1e-3 into
/// `*value`; false for anything else: spaces, hexadecimal, inf, nan,
/// trailing text, or a value too large to hold.
bool readDecimal(const char* text, double* value);

/// `path`'s directory and its last name there: "." and the path itself for
/// a path without '/', "/" for a name just under the root.
std::pair<std::string, std::string> splitPath(const char* path);

/// Why `path`, the value of `variable` (LINKSIM_TRACE or LINKSIM_STATS),
/// can be no file for a run's rows, or an empty string: it must be a file
/// that can be written, or a missing one that its directory lets the run
/// create. It is neither created nor changed: only a run that writes it
/// does that. The open does not wait: a FIFO that no process reads would
/// hold it for ever. Standard output cannot be one: the rows would cut into
/// its lines, and their writes overwrite each other. `*held` keeps a FIFO
/// open.
std::string fileProblem(const char* variable, const char* path, int* held);

/// True when `one` and `other` name one file, as they are or once a run
/// creates them, however they are spelled ("t", "./t", a link).
bool sameFile(const char* one, const char* other);

/// Reads LINKSIM_BURST into `read`, whose loss is read already, where the
/// protocol reads loss (`lossy`): an empty string, or what is wrong. A
/// chain that stays bad with probability 1 - 1/b loses frames in runs of
/// mean b; to lose p of them in the long run it must turn bad with
/// probability p / (b (1 - p)), which must be at most 1 (give or take the
/// rounding of b = p / (1 - p) itself). Bursts are of whole frames, so a
/// bit error rate has none.
std::string readBurst(bool lossy, Settings* read);

/// Reads the variables in `reads` (kReads bits), LINKSIM_TRACE and
/// LINKSIM_STATS into `*settings`. Returns an empty string, or the message
/// for the first variable that holds no value the protocol can use, leaving
/// `*settings` as it was.
std::string readSettings(unsigned reads, Settings* settings);

/// Says on standard error, one line each, which LINKSIM_ variables the
/// protocol `name` does not read (those outside `reads`, as `settings`
/// make use of them) and which no part of the program reads at all: the
/// run goes on without them.
void warnUnread(const char* name, unsigned reads, const Settings& settings);

/// The settings when the program starts, for the protocol `name`, which
/// reads the variables in `reads`: a variable that holds no value it can
/// use ends the program there, before it writes a line; one it does not
/// read is warned of. From then on SIGPIPE is ignored, unless the program
/// was started with a handler for it: a write to a pipe or FIFO whose
/// reader has gone fails, and is said, instead of ending the program.
Settings settingsOrExit(const char* name, unsigned reads);

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_ENVIRONMENT_H_
