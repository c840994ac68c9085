#include "variables.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "protocol_list.h"
#include "trace_format.h"

// POSIX: the process's variables, NAME=value. POSIX leaves declaring it to
// the program, and glibc's <unistd.h> declares it only for _GNU_SOURCE; the
// same declaration, with C linkage, agrees with it where it does.
// NOLINTNEXTLINE(readability-redundant-declaration)
extern "C" char** environ;

namespace kit {

bool allDigits(const char* text) {
  if (*text == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

int readCount(const char* text, long most) {
  if (!allDigits(text)) return 0;
  errno = 0;
  const long count = std::strtol(text, nullptr, 10);
  if (errno != 0 || count < 1 || count > most) return 0;
  return static_cast<int>(count);
}

bool readDecimal(const char* text, double* value) {
  if (*text == '\0' || text[std::strspn(text, "0123456789.eE+-")] != '\0') {
    return false;
  }
  char* end = nullptr;
  const double read = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(read)) return false;
  *value = read;
  return true;
}

bool readDropList(const char* text, DropList* drop) {
  DropList read;
  const char* at = text;
  for (;;) {
    while (*at == ' ') ++at;
    if (*at == '\0') break;
    const char* colon = std::strchr(at, ':');
    const size_t word = std::strcspn(at, " :");
    if (colon == nullptr || at + word != colon ||
        !isFrameName(at, static_cast<size_t>(colon - at))) {
      return false;
    }
    const std::string kind(at, colon);
    auto group = std::find_if(read.begin(), read.end(),
                              [&](const auto& g) { return g.first == kind; });
    if (group == read.end()) group = read.insert(read.end(), {kind, {}});
    at = colon;
    do {
      ++at;  // past the ':' or ','
      const size_t digits = std::strspn(at, "0123456789");
      if (digits == 0 || *at == '0') return false;
      errno = 0;
      char* end = nullptr;
      const long long place = std::strtoll(at, &end, 10);
      if (errno != 0 || end != at + digits) return false;
      group->second.push_back(place);
      at = end;
    } while (*at == ',');
    if (*at != ' ' && *at != '\0') return false;
  }
  if (read.empty()) return false;
  for (auto& group : read) {
    std::vector<long long>& places = group.second;
    std::sort(places.begin(), places.end());
    places.erase(std::unique(places.begin(), places.end()), places.end());
  }
  *drop = std::move(read);
  return true;
}

std::string dropText(const DropList& drop) {
  std::string text;
  for (const auto& group : drop) {
    for (const long long place : group.second) {
      if (!text.empty()) text += ' ';
      text += group.first + ':' + std::to_string(place);
    }
  }
  return text;
}

const std::vector<std::string>& protocolNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> made;
#define LINKSIM_NAME(file) made.emplace_back(#file);
    LINKSIM_PROTOCOLS(LINKSIM_NAME)
#undef LINKSIM_NAME
    for (std::string& name : made) {
      std::replace(name.begin(), name.end(), '_', '-');
    }
    return made;
  }();
  return names;
}

std::string wordList(const std::vector<std::string>& words) {
  std::string list;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) list += i + 1 == words.size() ? " or " : ", ";
    list += words[i];
  }
  return list;
}

namespace {

/// A probability, 0 <= p < 1, into `*value`.
bool readProbability(const char* text, double* value) {
  double read = 0.0;
  if (!readDecimal(text, &read) || !(read >= 0.0 && read < 1.0)) return false;
  *value = read;
  return true;
}

bool parseProtocol(const char* text, Settings* /*settings*/) {
  const std::vector<std::string>& names = protocolNames();
  return std::find(names.begin(), names.end(), text) != names.end();
}

bool parseWindow(const char* text, Settings* settings) {
  const int window = readCount(text, kMaxWindow);
  if (window == 0) return false;
  settings->window = window;
  return true;
}

bool parseLoss(const char* text, Settings* settings) {
  return readProbability(text, &settings->loss);
}

bool parseAckLoss(const char* text, Settings* settings) {
  return readProbability(text, &settings->ackLoss);
}

bool parseBer(const char* text, Settings* settings) {
  return readProbability(text, &settings->ber);
}

bool parseArrivals(const char* text, Settings* settings) {
  const bool poisson = std::strcmp(text, "poisson") == 0;
  if (!poisson && std::strcmp(text, "periodic") != 0) return false;
  settings->poisson = poisson;
  return true;
}

bool parseSeed(const char* text, Settings* settings) {
  if (!allDigits(text)) return false;
  errno = 0;
  const unsigned long long seed = std::strtoull(text, nullptr, 10);
  if (errno != 0) return false;
  settings->seed = seed;
  return true;
}

bool parseTimeout(const char* text, Settings* settings) {
  double timeout = 0.0;
  if (!readDecimal(text, &timeout) || !(timeout > 0.0)) return false;
  settings->timeout = timeout;
  return true;
}

bool parseSequenceBits(const char* text, Settings* settings) {
  const int bits = readCount(text, 31);
  if (bits == 0) return false;
  settings->sequenceBits = bits;
  return true;
}

bool parseBurst(const char* text, Settings* settings) {
  double burst = 0.0;
  if (!readDecimal(text, &burst) || !(burst >= 1.0)) return false;
  settings->burst = burst;
  return true;
}

bool parseDrop(const char* text, Settings* settings) {
  return readDropList(text, &settings->drop);
}

/// A file's name is whatever the file system takes: readSettings asks it.
bool parseTrace(const char* text, Settings* settings) {
  settings->trace = text;
  return true;
}

bool parseStats(const char* text, Settings* settings) {
  settings->stats = text;
  return true;
}

constexpr const char* kProbabilityRule =
    "must be a decimal number from 0 up to but not including 1";
constexpr const char* kFileRule = "must name a file that can be written";

}  // namespace

// In the order the values are read, and the first bad one refused.
// clang-format off
constexpr Variable kVariables[kVariableCount] = {
    {kArqVariable, kChoosesProtocol, VariableType::kChoice,
     "must be one of", nullptr, "stop-and-wait",
     "the protocol linksim-arq runs", "protocol", &parseProtocol},
    {"LINKSIM_WINDOW", kReadsWindow, VariableType::kWhole,
     "must be a whole number from 1 to 65536", "1 to 65536", "8",
     "frames in flight: the window", "window", &parseWindow},
    {"LINKSIM_LOSS", kReadsLoss, VariableType::kDecimal, kProbabilityRule,
     "0 <= p < 1", "0", "each frame lost with this probability", "loss",
     &parseLoss},
    {"LINKSIM_ACK_LOSS", kReadsLoss, VariableType::kDecimal, kProbabilityRule,
     "0 <= p < 1", "LINKSIM_LOSS",
     "the loss of the ACK direction apart from the data's", "ack_loss",
     &parseAckLoss},
    {"LINKSIM_BER", kReadsLoss, VariableType::kDecimal, kProbabilityRule,
     "0 <= b < 1", "none", "instead of a loss, a bit error rate", "ber",
     &parseBer},
    {"LINKSIM_ARRIVALS", kReadsArrivals, VariableType::kChoice,
     "must be periodic or poisson", "periodic, poisson", "periodic",
     "packet k at k / rate, or gaps of mean 1 / rate", "arrivals",
     &parseArrivals},
    {"LINKSIM_SEED", kReadsLoss | kDrawsArrivals, VariableType::kWhole,
     "must be a whole number from 0 to 18446744073709551615",
     "0 to 2^64 - 1", "1",
     "the loss generator's seed (and Poisson arrivals' draws)", "seed",
     &parseSeed},
    {"LINKSIM_TIMEOUT", kReadsTimeout, VariableType::kDecimal,
     "must be a finite number above 0", "a number above 0",
     "derived from the link", "the retransmission timeout, in ticks",
     "timeout", &parseTimeout},
    {"LINKSIM_SEQUENCE_BITS", kReadsSequence, VariableType::kWhole,
     "must be a whole number from 1 to 31", "1 to 31", "31",
     "k: frames carry their packet's number modulo 2^k", "sequence_bits",
     &parseSequenceBits},
    {"LINKSIM_BURST", kReadsLoss, VariableType::kDecimal,
     "must be a decimal number from 1 up", "from 1 up", "none",
     "mean run of lost frames, LINKSIM_LOSS the long-run loss", "burst",
     &parseBurst},
    {"LINKSIM_DROP", kReadsLoss, VariableType::kDropList,
     "must be a drop list such as 'data:3,7 ack:2'", "KIND:N[,N...] ...",
     "none", "the frames to lose, by their order on the link", "drop",
     &parseDrop},
    {"LINKSIM_TRACE", 0, VariableType::kFile, kFileRule, "a file", "none",
     "a file each run writes its events to", nullptr, &parseTrace},
    {"LINKSIM_STATS", 0, VariableType::kFile, kFileRule, "a file", "none",
     "a file each run appends a row of its figures to", nullptr,
     &parseStats},
};
// clang-format on
static_assert(kVariables[kVariableCount - 1].name != nullptr,
              "kVariableCount counts the rows");

const Variable* findVariable(const char* name) {
  for (const Variable& variable : kVariables) {
    if (std::strcmp(variable.name, name) == 0) return &variable;
  }
  return nullptr;
}

namespace {

/// The range of `variable`: LINKSIM_ARQ's is the protocols' names.
std::string rangeOf(const Variable& variable) {
  if (variable.range != nullptr) return variable.range;
  std::string names;
  for (const std::string& name : protocolNames()) {
    names += (names.empty() ? "" : ", ") + name;
  }
  return names;
}

/// The words a choice takes, in its range's order.
std::vector<std::string> choicesOf(const Variable& variable) {
  assert(variable.type == VariableType::kChoice);
  if (variable.range == nullptr) return protocolNames();
  const std::string range = variable.range;
  std::vector<std::string> choices;
  for (size_t at = 0, end = 0; end != std::string::npos; at = end + 2) {
    end = range.find(", ", at);
    choices.push_back(range.substr(at, end - at));
  }
  return choices;
}

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x",
                    static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string refusal(const Variable& variable) {
  std::string message = std::string(variable.name) + ' ' + variable.rule;
  if (variable.range == nullptr) message += ' ' + rangeOf(variable);
  return message;
}

bool accepts(const Variable& variable, const char* text) {
  Settings scratch;
  return variable.parse(text, &scratch);
}

std::string variablesJson(const Reader* readers, std::size_t count) {
  constexpr const char* kTypes[] = {"whole", "decimal", "choice", "file",
                                    "frames"};
  std::string json = "[";
  for (const Variable& variable : kVariables) {
    if (json.size() > 1) json += ',';
    json += "{\"name\":" + jsonString(variable.name) + ",\"readers\":[";
    bool first = true;
    for (std::size_t i = 0; i < count; ++i) {
      if (!reads(variable, readers[i].reads | kChoosesProtocol)) continue;
      json += (first ? "" : ",") + jsonString(readers[i].name);
      first = false;
    }
    const std::string range = rangeOf(variable);
    json +=
        "],\"type\":" + jsonString(kTypes[static_cast<int>(variable.type)]) +
        ",\"range\":" + jsonString(range);
    if (variable.type == VariableType::kChoice) {
      json += ",\"choices\":[";
      for (const std::string& choice : choicesOf(variable)) {
        json += (json.back() == '[' ? "" : ",") + jsonString(choice);
      }
      json += ']';
    }
    json += ",\"default\":" + jsonString(variable.fallback) +
            ",\"help\":" + jsonString(variable.help) + '}';
  }
  return json + ']';
}

std::string variablesHelp() {
  constexpr size_t kIndent = 25;  // the help's column, past the longest name
  constexpr size_t kWidth = 79;
  // A range and a default are not broken across lines: their spaces are
  // this until the words are wrapped.
  static constexpr char kHeld = '\1';
  const auto held = [](std::string text) {
    std::replace(text.begin(), text.end(), ' ', kHeld);
    return text;
  };
  std::string help;
  for (const Variable& variable : kVariables) {
    std::string words = variable.help;
    if (variable.type == VariableType::kChoice) {
      words += ": " + wordList(choicesOf(variable));
    } else if (variable.type != VariableType::kFile) {
      words += ", " + held(rangeOf(variable));
    }
    words += " " + held(std::string("(default: ") + variable.fallback + ')');
    std::string line = "  " + std::string(variable.name);
    line.resize(kIndent, ' ');
    for (size_t at = 0; at < words.size();) {
      size_t end = words.find(' ', at);
      if (end == std::string::npos) end = words.size();
      const size_t length = end - at;
      if (line.size() > kIndent && line.size() + 1 + length > kWidth) {
        help += line + '\n';
        line.assign(kIndent, ' ');
      }
      if (line.size() > kIndent) line += ' ';
      line += words.substr(at, length);
      at = end + 1;
    }
    help += line + '\n';
  }
  std::replace(help.begin(), help.end(), kHeld, ' ');
  return help;
}

const char* Lookup::get(const char* name) const {
  if (filled == nullptr) return std::getenv(name);
  const auto found = filled->find(name);
  return found == filled->end() ? nullptr : found->second.c_str();
}

std::vector<std::string> Lookup::names() const {
  std::vector<std::string> names;
  if (filled != nullptr) {
    for (const auto& entry : *filled) {
      if (entry.first.compare(0, 8, "LINKSIM_") == 0) {
        names.push_back(entry.first);
      }
    }
    return names;
  }
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const char* entry = *variable;
    if (std::strncmp(entry, "LINKSIM_", 8) != 0) continue;
    names.emplace_back(entry, std::strcspn(entry, "="));
  }
  return names;
}

Lookup& variables() {
  static Lookup lookup;  // constant: initialised before any code runs
  return lookup;
}

}  // namespace kit
