// Reading an exercise file, drawing a student's values, and what the
// student is handed: the sheet, the settings file and the variables.

#include "exercise.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "kit/trace_format.h"
#include "kit/variables.h"
#include "text.h"

namespace exercise {

namespace {

/// The settings file's keys, in its order, with the names formulas read
/// them by (the stats row's columns) and examples/link.txt's values, which
/// a key the exercise leaves out takes.
struct SettingKey {
  const char* key;
  const char* alias;
  const char* fallback;
};
constexpr SettingKey kSettings[] = {
    {"Propagation Delay", "propagation_delay", "5"},
    {"Processing Delay", "processing_delay", "1"},
    {"Bit Rate", "bit_rate", "100"},
    {"Data Packet Size", "data_packet_size", "800"},
    {"Data Packet Overhead", "data_packet_overhead", "64"},
    {"ACK Size", "ack_size", "128"},
    {"Simulation Duration", "duration", "500"},
    {"Packet Rate", "packet_rate", "2"},
};

/// What a value of each kind must be, as a refusal says it.
enum class Rule {
  kPositive,  // a decimal number above 0
  kDuration,  // above 0, at most kMaxDuration
  kVariable,  // what linksim-arq's table of variables takes (kit/variables.h)
  kOwn,       // not the exercise's to set
};

/// Why `text` cannot be a value under `rule`, or "" when it can.
std::string refusal(const std::string& name, Rule rule,
                    const std::string& text) {
  double number = 0.0;
  const bool decimal = readDecimal(text, &number);
  std::string must;
  switch (rule) {
    case Rule::kPositive:
      if (decimal && number > 0.0) return "";
      must = "a decimal number above 0";
      break;
    case Rule::kDuration:
      if (decimal && number > 0.0 && number <= kMaxDuration) return "";
      must = "a decimal number above 0 and at most " +
             formatNumber(kMaxDuration) + " (every grading runs it)";
      break;
    case Rule::kVariable: {
      const kit::Variable& variable = *kit::findVariable(name.c_str());
      if (kit::accepts(variable, text.c_str())) return "";
      // The protocols, as a sentence lists them.
      if (name == kit::kArqVariable) {
        return name + " must be " + kit::wordList(kit::protocolNames()) +
               ", not '" + text + "'";
      }
      return kit::refusal(variable) + ", not '" + text + "'";
    }
    case Rule::kOwn:
      return name + " is set by linksim-exercise for each run";
  }
  return name + " must be " + must + ", not '" + text + "'";
}

/// The rule of a scenario line's values; parameters have none.
bool ruleOf(const ValueLine& value, Rule* rule) {
  if (value.target == Target::kSetting) {
    *rule =
        value.name == "Simulation Duration" ? Rule::kDuration : Rule::kPositive;
    return true;
  }
  const kit::Variable* variable = kit::findVariable(value.name.c_str());
  if (value.target != Target::kVariable || variable == nullptr) return false;
  *rule =
      variable->type == kit::VariableType::kFile ? Rule::kOwn : Rule::kVariable;
  return true;
}

bool isName(const std::string& text) {
  if (text.empty() ||
      !(std::isalpha(static_cast<unsigned char>(text[0])) || text[0] == '_')) {
    return false;
  }
  for (const char c : text) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
      return false;
    }
  }
  return true;
}

/// A number of a range: an optional minus, digits, an optional point and
/// at most 6 decimals; `*scaled` its digits as a whole number, `*decimals`
/// how many follow the point.
bool readRangeNumber(const std::string& text, long long* whole,
                     std::string* fraction, bool* negative) {
  std::size_t at = 0;
  *negative = !text.empty() && text[0] == '-';
  if (*negative) ++at;
  const std::size_t point = text.find('.', at);
  const std::string integer = text.substr(
      at, point == std::string::npos ? std::string::npos : point - at);
  *fraction = point == std::string::npos ? "" : text.substr(point + 1);
  if ((integer.empty() && fraction->empty()) ||
      (!integer.empty() && !allDigits(integer)) ||
      (!fraction->empty() && !allDigits(*fraction)) || fraction->size() > 6 ||
      integer.size() > 12 ||
      (point != std::string::npos && fraction->empty())) {
    return false;
  }
  *whole = integer.empty() ? 0 : std::strtoll(integer.c_str(), nullptr, 10);
  return true;
}

long long scaleTo(long long whole, const std::string& fraction, bool negative,
                  int decimals) {
  long long scaled = whole;
  for (int i = 0; i < decimals; ++i) {
    scaled = scaled * 10 +
             (i < static_cast<int>(fraction.size()) ? fraction[i] - '0' : 0);
  }
  return negative ? -scaled : scaled;
}

/// Reads "A .. B" or "A .. B by S" into `*choices`; "" or what is wrong.
std::string readRange(const std::string& range, Choices* choices) {
  const std::size_t dots = range.find("..");
  const std::string low = trimmed(range.substr(0, dots));
  std::string rest = trimmed(range.substr(dots + 2));
  std::string step = "1";
  const std::size_t by = rest.find(" by ");
  if (by != std::string::npos) {
    step = trimmed(rest.substr(by + 4));
    rest = trimmed(rest.substr(0, by));
  }
  long long whole[3];
  std::string fraction[3];
  bool negative[3];
  const std::string* texts[] = {&low, &rest, &step};
  int decimals = 0;
  for (int i = 0; i < 3; ++i) {
    if (!readRangeNumber(*texts[i], &whole[i], &fraction[i], &negative[i])) {
      return "a range is A .. B or A .. B by S, of decimal numbers with at "
             "most 6 decimals and 12 digits before the point, not '" +
             range + "'";
    }
    decimals = std::max(decimals, static_cast<int>(fraction[i].size()));
  }
  const long long first = scaleTo(whole[0], fraction[0], negative[0], decimals);
  const long long last = scaleTo(whole[1], fraction[1], negative[1], decimals);
  const long long by_step =
      scaleTo(whole[2], fraction[2], negative[2], decimals);
  if (by_step <= 0) return "the step of '" + range + "' must be above 0";
  if (last < first) return "the range '" + range + "' is empty";
  const long long count = (last - first) / by_step + 1;
  if (count > kMaxCombinations) {
    return "the range '" + range + "' has " + std::to_string(count) +
           " values, more than " + std::to_string(kMaxCombinations);
  }
  choices->list.clear();
  choices->first = first;
  choices->step = by_step;
  choices->count = count;
  choices->decimals = decimals;
  return "";
}

/// The pieces of a template: literal text, and the formulas in braces.
/// "{{" and "}}" stand for a brace.
struct Piece {
  bool literal = true;
  std::string text;  // the literal, or the formula's text
};

bool splitTemplate(const std::string& text, std::vector<Piece>* pieces,
                   std::string* error) {
  pieces->clear();
  std::string literal;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if ((c == '{' || c == '}') && at + 1 < text.size() && text[at + 1] == c) {
      literal += c;
      ++at;
      continue;
    }
    if (c == '}') {
      *error = "a '}' with no '{' before it (write '}}' for a brace)";
      return false;
    }
    if (c != '{') {
      literal += c;
      continue;
    }
    const std::size_t close = text.find('}', at);
    if (close == std::string::npos) {
      *error = "a '{' that is not closed (write '{{' for a brace)";
      return false;
    }
    pieces->push_back({true, literal});
    literal.clear();
    pieces->push_back({false, text.substr(at + 1, close - at - 1)});
    at = close;
  }
  pieces->push_back({true, literal});
  return true;
}

bool hasTemplate(const std::string& text) {
  return text.find('{') != std::string::npos ||
         text.find('}') != std::string::npos;
}

/// The drawn values a template reads, by alias: a text, or nothing.
using TextOf = std::function<const std::string*(const std::string& alias)>;

/// `text` with each {formula} replaced by its value, read from `lookup`:
/// {name} alone is the value's text as drawn, anything else a number.
bool fill(const std::string& text, const TextOf& lookup, std::string* out,
          std::string* error) {
  std::vector<Piece> pieces;
  if (!splitTemplate(text, &pieces, error)) return false;
  out->clear();
  for (const Piece& piece : pieces) {
    if (piece.literal) {
      *out += piece.text;
      continue;
    }
    const std::string name = trimmed(piece.text);
    if (const std::string* drawn = lookup(name)) {
      *out += *drawn;
      continue;
    }
    Formula formula;
    if (!formula.parse(piece.text, error)) {
      *error = "{" + piece.text + "}: " + *error;
      return false;
    }
    double value = 0.0;
    const Formula::Lookup number = [&](const std::string& alias, double* v) {
      const std::string* drawn = lookup(alias);
      if (drawn == nullptr) return false;
      if (!readDecimal(*drawn, v)) *v = std::nan("");
      return true;
    };
    if (!formula.evaluate(number, &value, error)) {
      *error = "{" + piece.text + "}: " + *error + " among the values drawn";
      return false;
    }
    if (!std::isfinite(value)) {
      *error = "{" + piece.text + "} gives no number";
      return false;
    }
    *out += formatNumber(value);
  }
  return true;
}

/// The names a template's formulas read.
std::vector<std::string> templateNames(const std::string& text) {
  std::vector<std::string> names;
  std::vector<Piece> pieces;
  std::string error;
  if (!splitTemplate(text, &pieces, &error)) return names;
  for (const Piece& piece : pieces) {
    Formula formula;
    if (piece.literal || !formula.parse(piece.text, &error)) continue;
    for (const std::string& name : formula.names()) names.push_back(name);
  }
  return names;
}

const ValueLine* findValue(const Exercise& exercise, const std::string& alias) {
  for (const ValueLine& value : exercise.values) {
    if (value.alias == alias) return &value;
  }
  return nullptr;
}

/// The reader's state: the exercise so far, and the first problem.
class Reader {
 public:
  Reader(Exercise* out, Problem* problem) : out(out), problem(problem) {}

  bool fail(int line, const std::string& message) {
    problem->line = line;
    problem->message = message;
    return false;
  }

  bool read(const std::string& text) {
    int number = 0;
    bool header = false;
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = trimmed(text.substr(start, end - start));
      start = end + 1;
      ++number;
      if (line.empty() || line[0] == '#') continue;
      if (!header) {
        if (line != "linksim-exercise 1") {
          return fail(number,
                      "an exercise file starts with the line "
                      "'linksim-exercise 1'");
        }
        header = true;
        continue;
      }
      if (!readLine(number, line)) return false;
    }
    if (!header) {
      return fail(0,
                  "an exercise file starts with the line 'linksim-exercise "
                  "1', and this one is empty");
    }
    return finish();
  }

 private:
  bool readLine(int number, const std::string& line) {
    static const char* const kKeywords[] = {
        "title", "salt", "intro", "question", "answer", "within", "note"};
    const std::size_t colon = line.find(':');
    for (const char* keyword : kKeywords) {
      if (colon == std::strlen(keyword) &&
          line.compare(0, colon, keyword) == 0) {
        return keywordLine(number, keyword, trimmed(line.substr(colon + 1)));
      }
    }
    if (line.compare(0, 4, "let ") == 0) return letLine(number, line.substr(4));
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) {
      return valueLine(number, trimmed(line.substr(0, equals)),
                       trimmed(line.substr(equals + 1)));
    }
    return fail(number, "not a line of an exercise: '" + shortened(line) +
                            "' (title:, salt:, intro:, NAME = VALUE, let, "
                            "question:, answer:, within: or note:)");
  }

  bool keywordLine(int number, const std::string& keyword,
                   const std::string& rest) {
    if (keyword == "intro") {
      out->intro += out->intro.empty() ? rest : "\n" + rest;
      return true;
    }
    if (keyword == "title" || keyword == "salt") {
      std::string& field = keyword == "title" ? out->title : out->salt;
      int& seen = keyword == "title" ? titleLine : saltLine;
      if (seen != 0) {
        return fail(number, keyword + " is given twice (first on line " +
                                std::to_string(seen) + ")");
      }
      if (keyword == "title" && rest.empty()) {
        return fail(number, "the title is empty");
      }
      seen = number;
      field = rest;
      return true;
    }
    if (keyword == "question") {
      if (!closeQuestion()) return false;
      if (rest.empty()) return fail(number, "the question has no text");
      std::string error;
      std::vector<Piece> pieces;
      if (!splitTemplate(rest, &pieces, &error)) return fail(number, error);
      Question question;
      question.line = number;
      question.text = rest;
      out->questions.push_back(std::move(question));
      return true;
    }
    if (out->questions.empty()) {
      return fail(number, keyword + ": comes before any question:");
    }
    Question& question = out->questions.back();
    if (keyword == "note") {
      question.note += question.note.empty() ? rest : " " + rest;
      return true;
    }
    if (keyword == "within") {
      if (withinLine != 0) {
        return fail(number, "within: is given twice for the question on line " +
                                std::to_string(question.line));
      }
      withinLine = number;
      return readWithin(number, rest, &question);
    }
    // answer
    if (question.answerLine != 0) {
      return fail(number, "answer: is given twice for the question on line " +
                              std::to_string(question.line));
    }
    question.answerLine = number;
    question.answer = rest;
    return readSource(number, rest, &question.source);
  }

  bool readWithin(int number, const std::string& rest, Question* question) {
    if (rest == "exact") return true;
    std::string figure = rest;
    question->relative = !figure.empty() && figure.back() == '%';
    if (question->relative)
      figure = trimmed(figure.substr(0, figure.size() - 1));
    double within = 0.0;
    if (!readDecimal(figure, &within) || within < 0.0 || figure[0] == '-') {
      return fail(number,
                  "within: takes exact, a number from 0 up or a "
                  "percentage such as 2%, not '" +
                      shortened(rest) + "'");
    }
    question->within = question->relative ? within / 100.0 : within;
    return true;
  }

  bool readSource(int number, const std::string& rest, Source* source) {
    const std::vector<std::string> words = splitWords(rest);
    if (words.empty()) return fail(number, "the answer: line is empty");
    const std::string& kind = words[0];
    const std::string after = trimmed(rest.substr(kind.size()));
    if (kind == "summary") {
      source->kind = SourceKind::kSummary;
      source->figure = normalizedFigure(after);
      if (source->figure.empty()) {
        return fail(number,
                    "answer: summary names a figure of the summary, "
                    "such as 'summary data frames sent again'");
      }
      return true;
    }
    if (kind == "stats") {
      source->kind = SourceKind::kStats;
      source->figure = after;
      if (words.size() != 2 || !isName(after)) {
        return fail(number,
                    "answer: stats names one column of the stats "
                    "row, such as 'stats data_resent'");
      }
      return true;
    }
    if (kind == "formula") {
      source->kind = SourceKind::kFormula;
      std::string error;
      if (!source->formula.parse(after, &error)) return fail(number, error);
      return true;
    }
    if (kind == "count") {
      source->kind = SourceKind::kCount;
    } else if (kind == "clock" || kind == "packet" || kind == "sequence") {
      source->kind = SourceKind::kRow;
      source->field = kind == "clock"    ? RowField::kClock
                      : kind == "packet" ? RowField::kPacket
                                         : RowField::kSequence;
    } else {
      return fail(number, "no kind of answer is '" + shortened(kind) +
                              "' (summary, stats, count, clock, packet, "
                              "sequence or formula)");
    }
    return readRows(number, words, source);
  }

  /// "EVENT FRAME [at NODE] [number N] [packet P] [sequence S] [wrong]".
  bool readRows(int number, const std::vector<std::string>& words,
                Source* source) {
    if (words.size() < 3) {
      return fail(number, "answer: " + words[0] +
                              " names a trace event and a frame kind, such "
                              "as '" +
                              words[0] + " resend data'");
    }
    source->event = -1;
    for (int event = 0; event < kit::kTraceEventCount; ++event) {
      if (words[1] == kit::kTraceEvents[event].name) source->event = event;
    }
    if (source->event < 0) {
      std::string events;
      for (const auto& event : kit::kTraceEvents) {
        events += events.empty() ? "" : ", ";
        events += event.name;
      }
      return fail(number, "no trace event is '" + shortened(words[1]) + "' (" +
                              events + ")");
    }
    if (!kit::isFrameName(words[2].data(), words[2].size())) {
      return fail(number, "'" + shortened(words[2]) +
                              "' is no frame kind (data, ack or a "
                              "protocol's own, in lowercase)");
    }
    source->frame = words[2];
    for (std::size_t i = 3; i < words.size(); ++i) {
      const std::string& word = words[i];
      if (word == "wrong") {
        if (source->event != kit::kDeliver) {
          return fail(number, "wrong picks deliver rows only");
        }
        source->wrong = true;
        continue;
      }
      const bool takesValue = word == "at" || word == "number" ||
                              word == "packet" || word == "sequence";
      if (!takesValue || i + 1 >= words.size()) {
        return fail(number, takesValue
                                ? word + " needs a value after it"
                                : "'" + shortened(word) +
                                      "' is no filter of trace rows (at, "
                                      "number, packet, sequence or wrong)");
      }
      const std::string& value = words[++i];
      if (word == "at") {
        source->node = value == kit::kTraceNodes[0]   ? kit::kAtSource
                       : value == kit::kTraceNodes[1] ? kit::kAtSink
                                                      : -2;
        if (source->node == -2) {
          return fail(number, "at takes source or sink, not '" +
                                  shortened(value) + "'");
        }
      } else if (word == "number") {
        if (source->kind == SourceKind::kCount) {
          return fail(number, "a count counts every row: it takes no number");
        }
        source->number = value;
      } else if (word == "packet") {
        source->packet = value;
      } else {
        source->sequence = value;
      }
    }
    return true;
  }

  bool letLine(int number, const std::string& rest) {
    const std::size_t equals = rest.find('=');
    const std::string name = trimmed(rest.substr(0, equals));
    if (equals == std::string::npos || !isName(name)) {
      return fail(number, "a let line is 'let NAME = FORMULA'");
    }
    if (!claim(number, name)) return false;
    Let let;
    let.line = number;
    let.name = name;
    std::string error;
    if (!let.formula.parse(rest.substr(equals + 1), &error)) {
      return fail(number, error);
    }
    out->lets.push_back(std::move(let));
    return true;
  }

  /// Takes `alias` for a value or a let: false where one has it already.
  bool claim(int number, const std::string& alias) {
    for (const auto& taken : claimed) {
      if (taken.first == alias) {
        return fail(number, alias + " is set twice (first on line " +
                                std::to_string(taken.second) + ")");
      }
    }
    claimed.emplace_back(alias, number);
    return true;
  }

  bool valueLine(int number, const std::string& name, const std::string& text) {
    ValueLine value;
    value.line = number;
    if (!nameValue(number, name, &value)) return false;
    if (!claim(number, value.alias)) return false;
    if (text.empty()) return fail(number, value.name + " has no value");
    Rule rule = Rule::kOwn;
    const bool ruled = ruleOf(value, &rule);
    if (ruled && rule == Rule::kOwn) {
      return fail(number, refusal(value.name, rule, text));
    }
    if (hasTemplate(text)) {
      value.templated = true;
      value.choices.list = {text};
      if (!checkTemplate(number, value, ruled, rule)) return false;
    } else if (text.find("..") != std::string::npos) {
      const std::string error = readRange(text, &value.choices);
      if (!error.empty()) return fail(number, error);
    } else {
      std::size_t at = 0;
      for (;;) {
        const std::size_t bar = text.find('|', at);
        const std::string item = trimmed(text.substr(at, bar - at));
        if (item.empty()) {
          return fail(number,
                      "the list '" + shortened(text) + "' has an empty value");
        }
        if (item.find('`') != std::string::npos) {
          return fail(number, "a value may not hold a backquote");
        }
        value.choices.list.push_back(item);
        if (bar == std::string::npos) break;
        at = bar + 1;
      }
      if (value.choices.size() > kMaxCombinations) {
        return fail(number, "the list has more than " +
                                std::to_string(kMaxCombinations) + " values");
      }
    }
    if (ruled && !value.templated) {
      // A range's values lie between its ends, one step apart: the first,
      // the second and the last show whether every one is taken.
      const long long size = value.choices.size();
      const bool range = value.choices.list.empty();
      for (long long i = 0; i < size; ++i) {
        if (range && i > 1 && i < size - 1) i = size - 1;
        const std::string why = refusal(value.name, rule, value.choices.at(i));
        if (!why.empty()) return fail(number, why);
      }
    }
    out->values.push_back(std::move(value));
    return true;
  }

  bool nameValue(int number, const std::string& name, ValueLine* value) {
    const std::string spaced = collapsedSpaces(name);
    for (const SettingKey& setting : kSettings) {
      if (equalsIgnoringCase(spaced, setting.key)) {
        value->target = Target::kSetting;
        value->name = setting.key;
        value->alias = setting.alias;
        return true;
      }
    }
    if (spaced.compare(0, 8, "LINKSIM_") == 0) {
      if (kit::findVariable(spaced.c_str()) != nullptr) {
        value->target = Target::kVariable;
        value->name = spaced;
        value->alias = spaced;
        return true;
      }
      return fail(number, "linksim-arq has no variable " + shortened(spaced));
    }
    if (!isName(spaced)) {
      return fail(number, "'" + shortened(spaced) +
                              "' is no setting of the settings file, no "
                              "LINKSIM_ variable and no name (a letter, then "
                              "letters, digits or _)");
    }
    for (const SettingKey& setting : kSettings) {
      if (spaced == setting.alias) {
        return fail(number, spaced + " is the name formulas read " +
                                setting.key + " by: set it by its key");
      }
    }
    value->target = Target::kParameter;
    value->name = spaced;
    value->alias = spaced;
    return true;
  }

  /// A templated value, over every combination of the values it reads,
  /// which must be drawn before it and not be templates themselves.
  bool checkTemplate(int number, const ValueLine& value, bool ruled,
                     Rule rule) {
    std::string error;
    std::vector<Piece> pieces;
    if (!splitTemplate(value.choices.list[0], &pieces, &error)) {
      return fail(number, error);
    }
    std::vector<const ValueLine*> reads;
    long long combinations = 1;
    for (const std::string& name : templateNames(value.choices.list[0])) {
      const ValueLine* source = findValue(*out, name);
      if (source == nullptr) {
        return fail(number, "{" + name + "} names no value set before it");
      }
      if (source->templated) {
        return fail(number, "{" + name +
                                "} is a template itself: a "
                                "template reads drawn values only");
      }
      bool again = false;
      for (const ValueLine* seen : reads) again = again || seen == source;
      if (again) continue;
      reads.push_back(source);
      combinations *= source->choices.size();
      if (combinations > kMaxCombinations) break;
    }
    checked += combinations;
    if (checked > kMaxCombinations) {
      return fail(number, "the templates take more than " +
                              std::to_string(kMaxCombinations) +
                              " combinations of values to check");
    }
    std::vector<long long> index(reads.size(), 0);
    std::vector<std::string> texts(reads.size());
    const TextOf lookup = [&](const std::string& alias) -> const std::string* {
      for (std::size_t i = 0; i < reads.size(); ++i) {
        if (reads[i]->alias == alias) return &texts[i];
      }
      return nullptr;
    };
    for (;;) {
      for (std::size_t i = 0; i < reads.size(); ++i) {
        texts[i] = reads[i]->choices.at(index[i]);
      }
      std::string filled;
      if (!fill(value.choices.list[0], lookup, &filled, &error)) {
        return fail(number, error);
      }
      if (ruled) {
        std::string why = refusal(value.name, rule, filled);
        if (!why.empty()) {
          for (std::size_t i = 0; i < reads.size(); ++i) {
            why += (i == 0 ? " (with " : ", ") + reads[i]->alias + " = " +
                   reads[i]->choices.at(index[i]);
          }
          return fail(number, why + (reads.empty() ? "" : ")"));
        }
      }
      std::size_t digit = 0;
      while (digit < index.size() &&
             ++index[digit] == reads[digit]->choices.size()) {
        index[digit++] = 0;
      }
      if (digit == index.size()) break;
    }
    return true;
  }

  bool closeQuestion() {
    withinLine = 0;
    if (!out->questions.empty() && out->questions.back().answerLine == 0) {
      return fail(out->questions.back().line,
                  "the question has no answer: line");
    }
    return true;
  }

  bool finish() {
    if (titleLine == 0) return fail(0, "the exercise has no title: line");
    if (out->questions.empty()) {
      return fail(0, "the exercise has no question: line");
    }
    if (!closeQuestion()) return false;
    // Whichever comes first, the second of the two is the line named.
    bool loss = false;
    bool ber = false;
    for (const ValueLine& value : out->values) {
      loss = loss || value.name == "LINKSIM_LOSS";
      ber = ber || value.name == "LINKSIM_BER";
      if (loss && ber) {
        return fail(value.line,
                    "LINKSIM_LOSS and LINKSIM_BER cannot both "
                    "be set");
      }
    }
    // Every question's templates, as the first student to be drawn the
    // first value of everything would see them.
    Draw first;
    return draw(*out, std::string(), &first, problem, true) == kDone;
  }

  Exercise* out;
  Problem* problem;
  std::vector<std::pair<std::string, int>> claimed;
  int titleLine = 0;
  int saltLine = 0;
  int withinLine = 0;
  long long checked = 0;

 public:
  static int draw(const Exercise& exercise, const std::string& student,
                  Draw* out, Problem* problem, bool firstOfEach);
};

int Reader::draw(const Exercise& exercise, const std::string& student,
                 Draw* out, Problem* problem, bool firstOfEach) {
  out->student = student;
  out->values.clear();
  out->questions.clear();
  const TextOf lookup = [out](const std::string& alias) -> const std::string* {
    for (const Drawn& drawn : out->values) {
      if (drawn.from->alias == alias) return &drawn.text;
    }
    return nullptr;
  };
  std::string error;
  for (const ValueLine& value : exercise.values) {
    Drawn drawn;
    drawn.from = &value;
    if (value.templated) {
      if (!fill(value.choices.list[0], lookup, &drawn.text, &error)) {
        problem->line = value.line;
        problem->message = error;
        return kRefused;
      }
    } else {
      const std::uint64_t size =
          static_cast<std::uint64_t>(value.choices.size());
      const std::uint64_t index =
          firstOfEach ? 0
                      : studentHash(exercise.salt, value.name, student) % size;
      drawn.text = value.choices.at(static_cast<long long>(index));
    }
    out->values.push_back(std::move(drawn));
  }
  for (const Question& question : exercise.questions) {
    DrawnQuestion drawn;
    problem->line = question.line;
    if (!fill(question.text, lookup, &drawn.text, &error)) {
      problem->message = error;
      return kRefused;
    }
    const Source& source = question.source;
    problem->line = question.answerLine;
    std::string text;
    const struct {
      const std::string* pattern;
      bool* used;
      long long* value;
      long long least;
      const char* what;
    } filters[] = {
        {&source.number, nullptr, &drawn.number, 1, "number"},
        {&source.packet, &drawn.byPacket, &drawn.packet, 0, "packet"},
        {&source.sequence, &drawn.bySequence, &drawn.sequence, -2147483648LL,
         "sequence"},
    };
    for (const auto& filter : filters) {
      if (filter.pattern->empty()) continue;
      if (!fill(*filter.pattern, lookup, &text, &error)) {
        problem->message = error;
        return kRefused;
      }
      if (!readWhole(text, filter.value) || *filter.value < filter.least) {
        problem->message = std::string(filter.what) + " takes a whole number" +
                           (filter.least == 1   ? " from 1"
                            : filter.least == 0 ? " from 0"
                                                : "") +
                           ", not '" + shortened(text) + "'";
        return kRefused;
      }
      if (filter.used != nullptr) *filter.used = true;
    }
    out->questions.push_back(std::move(drawn));
  }
  problem->line = 0;
  return kDone;
}

/// Markdown's characters escaped, so that an identifier shows as typed.
std::string escapedMarkdown(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (std::strchr("\\`*_[]<>#|~", c) != nullptr) out += '\\';
    out += c;
  }
  return out;
}

/// `value` as one word of a POSIX shell's command line.
std::string shellWord(const std::string& value) {
  bool plain = !value.empty();
  for (const char c : value) {
    plain = plain && (std::isalnum(static_cast<unsigned char>(c)) ||
                      std::strchr("_.,:/+-=@%", c) != nullptr);
  }
  if (plain) return value;
  std::string quoted = "'";
  for (const char c : value) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

}  // namespace

std::string Choices::at(long long index) const {
  if (!list.empty()) return list[static_cast<std::size_t>(index)];
  const long long scaled = first + index * step;
  long long power = 1;
  for (int i = 0; i < decimals; ++i) power *= 10;
  const unsigned long long magnitude =
      scaled < 0 ? 0ULL - static_cast<unsigned long long>(scaled)
                 : static_cast<unsigned long long>(scaled);
  std::string text = scaled < 0 ? "-" : "";
  text += std::to_string(magnitude / power);
  if (decimals > 0 && magnitude % power != 0) {
    std::string fraction = std::to_string(magnitude % power);
    fraction.insert(0, decimals - fraction.size(), '0');
    // 0.30 of a range "0.05 .. 0.3 by 0.05" is written as 0.3.
    fraction.erase(fraction.find_last_not_of('0') + 1);
    text += "." + fraction;
  }
  return text;
}

std::uint64_t studentHash(const std::string& salt, const std::string& name,
                          const std::string& student) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a's offset basis
  const auto mix = [&hash](const std::string& bytes) {
    for (const char c : bytes) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 0x100000001b3ULL;  // FNV's 64-bit prime
    }
  };
  mix(salt);
  mix(std::string(1, '\0'));
  mix(name);
  mix(std::string(1, '\0'));
  mix(student);
  // SplitMix64's finalizer: FNV-1a's low bits, which `mod` reads, follow
  // the last bytes closely; these rounds spread every byte over all 64.
  std::uint64_t z = hash + 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

int readExercise(const std::string& text, Exercise* out, Problem* problem) {
  *out = Exercise();
  *problem = Problem();
  if (checkText(text, problem) != kDone) return kRefused;
  Reader reader(out, problem);
  if (!reader.read(text)) return kRefused;
  return kDone;
}

int draw(const Exercise& exercise, const std::string& student, Draw* out,
         Problem* problem) {
  return Reader::draw(exercise, student, out, problem, false);
}

std::string settingsText(const Draw& draw) {
  std::string text;
  for (const SettingKey& setting : kSettings) {
    const char* value = setting.fallback;
    for (const Drawn& drawn : draw.values) {
      if (drawn.from->target == Target::kSetting &&
          drawn.from->name == setting.key) {
        value = drawn.text.c_str();
      }
    }
    text += std::string(setting.key) + " " + value + "\n";
  }
  return text;
}

std::vector<std::pair<std::string, std::string>> variables(const Draw& draw) {
  std::vector<std::pair<std::string, std::string>> set;
  for (const Drawn& drawn : draw.values) {
    if (drawn.from->target == Target::kVariable) {
      set.emplace_back(drawn.from->name, drawn.text);
    }
  }
  return set;
}

std::string sheet(const Exercise& exercise, const Draw& draw) {
  std::string out = "# " + exercise.title +
                    "\n\nStudent: " + escapedMarkdown(draw.student) + "\n\n";
  if (!exercise.intro.empty()) out += exercise.intro + "\n\n";
  out += "## The scenario\n\n| Setting | Value |\n|---|---|\n";
  std::string protocol = kit::findVariable(kit::kArqVariable)->fallback;
  for (const Drawn& drawn : draw.values) {
    if (drawn.from->name == kit::kArqVariable) protocol = drawn.text;
  }
  out += "| protocol (`" + std::string(kit::kArqVariable) + "`) | `" +
         protocol + "` |\n";
  std::string command;
  for (const auto& variable : variables(draw)) {
    if (variable.first != kit::kArqVariable) {
      out += "| `" + variable.first + "` | `" + variable.second + "` |\n";
    }
    command += variable.first + "=" + shellWord(variable.second) + " ";
  }
  const std::string settings = settingsText(draw);
  for (std::size_t at = 0; at < settings.size();) {
    const std::size_t end = settings.find('\n', at);
    const std::string line = settings.substr(at, end - at);
    for (const SettingKey& setting : kSettings) {
      const std::size_t length = std::strlen(setting.key);
      if (line.compare(0, length, setting.key) == 0) {
        out += "| " + std::string(setting.key) + " | `" +
               line.substr(length + 1) + "` |\n";
      }
    }
    at = end + 1;
  }
  out += "\n## The settings file\n\nSave these lines as `link.txt`:\n\n";
  for (std::size_t at = 0; at < settings.size();) {
    const std::size_t end = settings.find('\n', at);
    out += "    " + settings.substr(at, end - at) + "\n";
    at = end + 1;
  }
  out += "\nand run the scenario:\n\n    " + command +
         "linksim-arq link.txt\n\n(or start `linksim-arq` with the same "
         "variables, then type `load link.txt` and `run`). Add "
         "`LINKSIM_TRACE=trace.csv` for the trace of every event, and "
         "`LINKSIM_STATS=stats.csv` for the stats row.\n\n## Questions\n\n";
  for (std::size_t i = 0; i < exercise.questions.size(); ++i) {
    const Question& question = exercise.questions[i];
    const std::string within = tolerance(question);
    out += std::to_string(i + 1) + ". " + draw.questions[i].text + " (" +
           (within.empty() ? "exact" : within) + ")\n";
  }
  out +=
      "\nWrite your answers in a plain text file, one a line in the "
      "questions' order: a number, `none` where the run has none, or a "
      "blank line for a question you leave out.\n";
  return out;
}

std::string keyHeader(const Exercise& exercise) {
  std::string header = "student";
  for (const ValueLine& value : exercise.values) {
    if (value.choices.size() > 1 || value.templated) {
      header += "," + csvField(value.name);
    }
  }
  for (std::size_t i = 0; i < exercise.questions.size(); ++i) {
    header += ",q" + std::to_string(i + 1);
  }
  return header + "\n";
}

std::string keyRow(const Exercise& exercise, const Draw& draw,
                   const std::vector<Expected>& expected) {
  std::string row = csvField(draw.student);
  for (std::size_t i = 0; i < exercise.values.size(); ++i) {
    const ValueLine& value = exercise.values[i];
    if (value.choices.size() > 1 || value.templated) {
      row += "," + csvField(draw.values[i].text);
    }
  }
  for (const Expected& answer : expected) row += "," + csvField(answer.text);
  return row + "\n";
}

}  // namespace exercise
