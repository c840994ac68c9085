#include "formula.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace exercise {

namespace {

/// The functions a formula may call, by their index in a kCall step.
struct Function {
  const char* name;
  int fewest;  // arguments
  int most;
};
constexpr Function kFunctions[] = {
    {"min", 1, 64}, {"max", 1, 64}, {"floor", 1, 1},
    {"ceil", 1, 1}, {"abs", 1, 1},  {"sqrt", 1, 1},
};
constexpr int kFunctionCount = sizeof kFunctions / sizeof kFunctions[0];

bool isNameStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isNamePart(char c) { return isNameStart(c) || (c >= '0' && c <= '9'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

/// Recursive descent over the grammar in formula.h, writing the steps in
/// the order a stack machine applies them.
class FormulaParser {
 public:
  FormulaParser(const std::string& text, Formula* out) : text(text), out(out) {}

  bool parse(std::string* error) {
    if (!sum(0)) {
      *error = problem;
      return false;
    }
    skipSpaces();
    if (at < text.size()) {
      *error = "unexpected '" + std::string(1, text[at]) + "' in the formula";
      return false;
    }
    return true;
  }

 private:
  void skipSpaces() {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  }
  bool accept(char c) {
    skipSpaces();
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool fail(const std::string& why) {
    if (problem.empty()) problem = why;
    return false;
  }
  void push(Formula::Op op, double number = 0.0, int index = 0,
            int arguments = 0) {
    out->steps.push_back({op, number, index, arguments});
  }

  bool sum(int depth) {
    if (!product(depth)) return false;
    for (;;) {
      if (accept('+')) {
        if (!product(depth)) return false;
        push(Formula::Op::kAdd);
      } else if (accept('-')) {
        if (!product(depth)) return false;
        push(Formula::Op::kSub);
      } else {
        return true;
      }
    }
  }

  bool product(int depth) {
    if (!unary(depth)) return false;
    for (;;) {
      if (accept('*')) {
        if (!unary(depth)) return false;
        push(Formula::Op::kMul);
      } else if (accept('/')) {
        if (!unary(depth)) return false;
        push(Formula::Op::kDiv);
      } else {
        return true;
      }
    }
  }

  bool unary(int depth) {
    if (depth >= kMaxDepth) return fail("the formula nests too deeply");
    if (accept('-')) {
      if (!unary(depth + 1)) return false;
      push(Formula::Op::kNeg);
      return true;
    }
    if (!primary(depth)) return false;
    if (accept('^')) {
      if (!unary(depth + 1)) return false;
      push(Formula::Op::kPow);
    }
    return true;
  }

  bool primary(int depth) {
    skipSpaces();
    if (at >= text.size()) return fail("the formula ends too soon");
    const char c = text[at];
    if (c == '(') {
      ++at;
      if (!sum(depth + 1)) return false;
      return accept(')') || fail("a '(' in the formula is not closed");
    }
    if (isDigit(c) || c == '.') return number();
    if (isNameStart(c)) return name(depth);
    return fail("unexpected '" + std::string(1, c) + "' in the formula");
  }

  bool number() {
    // A decimal number as strtod reads one, but never hexadecimal, an
    // infinity or NaN: only digits, a point and an exponent are taken.
    const std::size_t start = at;
    while (at < text.size() && (isDigit(text[at]) || text[at] == '.')) ++at;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
      std::size_t exponent = at + 1;
      if (exponent < text.size() &&
          (text[exponent] == '+' || text[exponent] == '-')) {
        ++exponent;
      }
      if (exponent < text.size() && isDigit(text[exponent])) {
        at = exponent;
        while (at < text.size() && isDigit(text[at])) ++at;
      }
    }
    const std::string digits = text.substr(start, at - start);
    char* end = nullptr;
    const double value = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size() || !std::isfinite(value)) {
      return fail("'" + digits + "' is not a number");
    }
    push(Formula::Op::kNumber, value);
    return true;
  }

  bool name(int depth) {
    const std::size_t start = at;
    while (at < text.size() && isNamePart(text[at])) ++at;
    const std::string word = text.substr(start, at - start);
    if (!accept('(')) {
      int index = 0;
      while (index < static_cast<int>(out->used.size()) &&
             out->used[index] != word) {
        ++index;
      }
      if (index == static_cast<int>(out->used.size())) {
        out->used.push_back(word);
      }
      push(Formula::Op::kName, 0.0, index);
      return true;
    }
    int function = 0;
    while (function < kFunctionCount &&
           std::strcmp(kFunctions[function].name, word.c_str()) != 0) {
      ++function;
    }
    if (function == kFunctionCount) {
      return fail("no function " + word +
                  " (min, max, floor, ceil, abs and sqrt are)");
    }
    int arguments = 0;
    do {
      if (!sum(depth + 1)) return false;
      ++arguments;
    } while (accept(','));
    if (!accept(')')) return fail("a '(' in the formula is not closed");
    if (arguments < kFunctions[function].fewest ||
        arguments > kFunctions[function].most) {
      return fail(word + " takes " +
                  (kFunctions[function].most == 1 ? "one argument"
                                                  : "1 to 64 arguments"));
    }
    push(Formula::Op::kCall, 0.0, function, arguments);
    return true;
  }

  const std::string& text;
  Formula* out;
  std::size_t at = 0;
  std::string problem;
};

bool Formula::parse(const std::string& text, std::string* error) {
  steps.clear();
  used.clear();
  const std::size_t first = text.find_first_not_of(" \t");
  const std::size_t last = text.find_last_not_of(" \t");
  source = first == std::string::npos ? std::string()
                                      : text.substr(first, last - first + 1);
  if (source.empty()) {
    *error = "the formula is empty";
    return false;
  }
  FormulaParser parser(source, this);
  return parser.parse(error);
}

bool Formula::evaluate(const Lookup& lookup, double* value,
                       std::string* error) const {
  std::vector<double> values(used.size());
  for (std::size_t i = 0; i < used.size(); ++i) {
    if (!lookup(used[i], &values[i])) {
      *error = "no figure is named " + used[i];
      return false;
    }
  }
  std::vector<double> stack;
  stack.reserve(steps.size());
  for (const Step& step : steps) {
    if (step.op == Op::kNumber) {
      stack.push_back(step.number);
      continue;
    }
    if (step.op == Op::kName) {
      stack.push_back(values[step.index]);
      continue;
    }
    if (step.op == Op::kCall) {
      // The parser put `arguments` values on the stack for it.
      const std::size_t from = stack.size() - step.arguments;
      double result = stack[from];
      for (std::size_t i = from + 1; i < stack.size(); ++i) {
        // A figure the run lacks (NaN) leaves the result without one too,
        // where fmin and fmax would pass over it.
        const double next = stack[i];
        if (std::isnan(result) || std::isnan(next)) {
          result = std::nan("");
        } else if (step.index == 0) {
          result = next < result ? next : result;
        } else {
          result = next > result ? next : result;
        }
      }
      switch (step.index) {
        case 2:
          result = std::floor(result);
          break;
        case 3:
          result = std::ceil(result);
          break;
        case 4:
          result = std::fabs(result);
          break;
        case 5:
          result = std::sqrt(result);
          break;
        default:
          break;
      }
      stack.resize(from);
      stack.push_back(result);
      continue;
    }
    if (step.op == Op::kNeg) {
      stack.back() = -stack.back();
      continue;
    }
    const double right = stack.back();
    stack.pop_back();
    double& left = stack.back();
    switch (step.op) {
      case Op::kAdd:
        left += right;
        break;
      case Op::kSub:
        left -= right;
        break;
      case Op::kMul:
        left *= right;
        break;
      case Op::kDiv:
        left /= right;
        break;
      default:  // kPow
        left = std::pow(left, right);
        break;
    }
  }
  *value = stack.back();
  return true;
}

}  // namespace exercise
