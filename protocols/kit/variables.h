#ifndef LINKSIM_PROTOCOLS_KIT_VARIABLES_H_
#define LINKSIM_PROTOCOLS_KIT_VARIABLES_H_

// The LINKSIM_ variables, each one row of kVariables: its name, which
// protocols read it, its type and range, its default, one line of help, and
// how a value of it is read on its own. Reading and refusing them
// (kit/environment.h), the warning of one a protocol does not read, the
// stats row's settings, linksim-arq(1)'s list (a test holds the two equal),
// linksim-exercise's checks and the lab page's controls (variablesJson) all
// come from this table. Every read goes through one lookup, the
// environment's unless a test fills a map in its place.
//
// Nothing here needs the simulator: linksim-exercise reads the table too.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kit {

constexpr long kMaxWindow = 65536;

/// Which variables a protocol reads, beside those every one reads: a set
/// of these bits.
constexpr unsigned kReadsWindow = 1;  // LINKSIM_WINDOW
/// LINKSIM_LOSS, _ACK_LOSS, _BER, _BURST, _DROP and _SEED.
constexpr unsigned kReadsLoss = 2;
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
/// Not a protocol's either: the variable of a program that chooses its
/// protocol by name (linksim-arq's LINKSIM_ARQ, programVariable).
constexpr unsigned kChoosesProtocol = 64;

/// The frames LINKSIM_DROP names: for each kind, by its name, the places
/// on the link of those to lose, counted from 1, ascending, each once.
using DropList = std::vector<std::pair<std::string, std::vector<long long>>>;

/// What the variables ask for.
struct Settings {
  int window = 8;
  double loss = 0.0;              // per frame, when ber is not set
  double ackLoss = std::nan("");  // the ACK direction's; NaN: loss's
  double ber = std::nan("");      // per bit; NaN when not set
  std::uint64_t seed = 1;
  double timeout = std::nan("");  // NaN: derive one from the link
  std::string trace;              // empty: no trace
  std::string stats;              // empty: no stats
  int sequenceBits = 31;          // sequence numbers modulo 2^sequenceBits
  double burst = std::nan("");    // mean run of lost frames; NaN: no bursts
  bool poisson = false;           // arrivals: Poisson, else periodic
  DropList drop;                  // frames lost by their place on the link
};

/// How a variable's value is written.
enum class VariableType {
  kWhole,     ///< a whole number, digits only
  kDecimal,   ///< a decimal number such as 0.05, .5 or 1e-3
  kChoice,    ///< one of the words its range lists
  kFile,      ///< a file's name
  kDropList,  ///< frames by kind and place: data:3,7 ack:2
};

/// One variable.
struct Variable {
  const char* name;
  /// The kReads bits of the protocols that read it; 0: every protocol.
  unsigned readBy;
  VariableType type;
  /// What a value must be, as its refusal says it after the name.
  const char* rule;
  /// The values it takes, in short; for a choice, the words, apart by ", ".
  const char* range;
  /// What it is when unset.
  const char* fallback;
  const char* help;
  /// The stats column that says what a run used, or null.
  const char* column;
  /// Reads `text`, a value given alone, into `*settings`; false where it
  /// breaks the rule. What it may not be beside other variables is
  /// readSettings' to refuse.
  bool (*parse)(const char* text, Settings* settings);
};

/// True when `text` is all decimal digits, and some.
bool allDigits(const char* text);

/// The whole number from 1 to `most` that `text` names, digits only
/// (strtol alone would take a sign, spaces or a trailing word); 0 for
/// anything else.
int readCount(const char* text, long most);

/// Reads `text` whole as a decimal number such as 0.05, .5 or 1e-3 into
/// `*value`; false for anything else: spaces, hexadecimal, inf, nan,
/// trailing text, or a value too large to hold.
bool readDecimal(const char* text, double* value);

/// Reads a drop list into `*drop`: groups KIND:N[,N...] apart by spaces,
/// KIND a frame kind's name (isFrameName), each N a whole number from 1
/// without leading zeros; a kind may come again. False, leaving `*drop`
/// as it was, for anything else, or no group.
bool readDropList(const char* text, DropList* drop);

/// `drop` as a list with no comma, one KIND:N apart by spaces for each
/// frame, which reads back as the same list: a CSV field as it is.
std::string dropText(const DropList& drop);

/// The names of linksim-arq's protocols, in its list's order
/// (protocols/protocol_list.h), each its file's name with '-' for '_'.
const std::vector<std::string>& protocolNames();

/// "a, b, c or d": `words` for a sentence.
std::string wordList(const std::vector<std::string>& words);

/// linksim-arq's own variable, the protocol it runs.
constexpr const char* kArqVariable = "LINKSIM_ARQ";

/// How many rows kVariables has.
constexpr std::size_t kVariableCount = 13;
/// Every variable, in the order readSettings reads and refuses them.
extern const Variable kVariables[kVariableCount];

/// The row of the variable `name`, or null.
const Variable* findVariable(const char* name);

/// True when a protocol that reads `reads` (kReads bits) reads `variable`.
inline bool reads(const Variable& variable, unsigned reads) {
  return variable.readBy == 0 || (variable.readBy & reads) != 0;
}

/// The kReads bits of the variables a protocol that reads `reads` takes
/// with `settings`: the seed too where Poisson arrivals draw from it.
inline unsigned readsWith(unsigned reads, const Settings& settings) {
  const bool draws = (reads & kReadsArrivals) != 0 && settings.poisson;
  return reads | (draws ? kDrawsArrivals : 0);
}

/// The refusal of a value of `variable`: its name and its rule.
std::string refusal(const Variable& variable);

/// True when `text` is a value `variable` takes given alone (a choice of
/// linksim-arq's protocols for LINKSIM_ARQ; any name for a file). With
/// other variables or in a run it may still be refused (readSettings).
bool accepts(const Variable& variable, const char* text);

/// A protocol, for the table's readers: its name and what it reads.
struct Reader {
  const char* name;
  unsigned reads;
};

/// The table as JSON, one object per variable in its order:
///   [{"name": "LINKSIM_WINDOW", "readers": ["go-back-n", ...],
///     "type": "whole", "range": "1 to 65536", "default": "8",
///     "help": "..."}, ...]
/// on one line, without spaces between its tokens; a choice has
/// "choices" too, its words, after "range". Readers are the names of the
/// `count` protocols of `readers` that read the variable (every one for
/// LINKSIM_ARQ, which the program reads); the types are "whole",
/// "decimal", "choice", "file" and "frames".
std::string variablesJson(const Reader* readers, std::size_t count);

/// The table for a usage message: a line or more per variable, its name,
/// then its help, what it takes and its default, wrapped to 79 columns.
std::string variablesHelp();

/// `text` as a JSON string, its quotes, backslashes and control characters
/// escaped.
std::string jsonString(const std::string& text);

/// Where the variables are read: the process's environment, unless a map
/// fills the lookup in its place (a test's). Not copyable: it is the one
/// lookup, variables().
class Lookup {
 public:
  using Map = std::map<std::string, std::string>;
  constexpr Lookup() = default;
  Lookup(const Lookup&) = delete;
  Lookup& operator=(const Lookup&) = delete;

  /// The value of `name`, or null where it is unset.
  const char* get(const char* name) const;

  /// The names of every LINKSIM_ variable set, in the environment's order
  /// (or the map's).
  std::vector<std::string> names() const;

  /// From now on the variables are `map`'s, which must outlive its use;
  /// null: the environment's again.
  void fill(const Map* map) { filled = map; }

 private:
  const Map* filled = nullptr;
};

/// The lookup every read of a variable goes through.
Lookup& variables();

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_VARIABLES_H_
