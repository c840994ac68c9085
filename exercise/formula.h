#ifndef LINKSIM_EXERCISE_FORMULA_H_
#define LINKSIM_EXERCISE_FORMULA_H_

// Arithmetic on named figures, the one kind of computation an exercise file
// may ask for: it is data, read into a list of steps, never code that runs.
//
//   formula  := sum
//   sum      := product (("+" | "-") product)*
//   product  := unary (("*" | "/") unary)*
//   unary    := "-" unary | power
//   power    := primary ("^" unary)?          (right-associative)
//   primary  := number | name | name "(" sum ("," sum)* ")" | "(" sum ")"
//
// A number is decimal (0.5, .5, 1e-3); a name is a letter or "_", then
// letters, digits or "_"; the functions are min and max (one argument or
// more), floor, ceil, abs and sqrt (one). Spaces may stand between any two
// parts. Parentheses nest at most kMaxDepth deep, so no formula can exhaust
// the stack. What a name stands for is the caller's (Formula::evaluate).

#include <functional>
#include <string>
#include <vector>

namespace exercise {

/// Parentheses and unary minus nest at most this deep.
constexpr int kMaxDepth = 64;

class Formula {
 public:
  /// Reads `text` whole; false, with `*error` saying why, for anything that
  /// is not a formula.
  bool parse(const std::string& text, std::string* error);

  /// A name's value: true with `*value` set, or false for a name that stands
  /// for nothing (evaluate then fails with `*error` naming it). A value may
  /// be NaN, for a figure the run does not have.
  using Lookup = std::function<bool(const std::string& name, double* value)>;

  /// The value with each name as `lookup` gives it; false for a name it
  /// does not know. NaN or an infinity is a value, not a failure: the
  /// caller decides what a figure the run does not have means.
  bool evaluate(const Lookup& lookup, double* value, std::string* error) const;

  /// The distinct names the formula reads, in the order they first appear.
  const std::vector<std::string>& names() const { return used; }

  /// The text it was read from, spaces at its ends taken off.
  const std::string& text() const { return source; }

 private:
  enum class Op { kNumber, kName, kAdd, kSub, kMul, kDiv, kPow, kNeg, kCall };
  /// One step of a stack machine: push a number or a name's value, or
  /// apply an operator or a function to what is on the stack.
  struct Step {
    Op op;
    double number;  // kNumber
    int index;      // kName: into `used`; kCall: the function
    int arguments;  // kCall
  };

  std::vector<Step> steps;
  std::vector<std::string> used;
  std::string source;

  friend class FormulaParser;
};

}  // namespace exercise

#endif  // LINKSIM_EXERCISE_FORMULA_H_
