#ifndef LINKSIM_EXERCISE_EXERCISE_H_
#define LINKSIM_EXERCISE_EXERCISE_H_

// The core of linksim-exercise: functions on strings and numbers, with no
// process and no file, so that the command and the lab's page grade alike.
//
//   readExercise   the text of an exercise file -> an Exercise
//   draw           an Exercise and a student's identifier -> that student's
//                  values (studentHash), question texts and row filters
//   settingsText, variables, sheet
//                  what the student loads, sets and reads
//   expect         a run's outputs, as text -> each question's answer and
//                  where it comes from
//   readAnswers, grade
//                  a student's answers file -> right or wrong, and a score
//   keyHeader, keyRow
//                  the class's key, a CSV row per student
//
// The file format is docs/linksim-exercise.1's; in short: a first line
// "linksim-exercise 1", then `title:`, `salt:`, `intro:` lines, scenario
// lines NAME = VALUE (a fixed value, a range A .. B [by S] or a list
// A | B | C), `let NAME = FORMULA` lines, and questions, each a `question:`
// line followed by its `answer:`, `within:` and `note:` lines. Every
// failure is a Problem: the line it is about (0 for the file as a whole)
// and one line of text saying what is wrong.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "formula.h"

namespace exercise {

/// Results of the functions below.
constexpr int kDone = 0;     ///< what was asked is in the output
constexpr int kRefused = 1;  ///< the input is not what it must be: see Problem

/// The most bytes an exercise, answers or students file may hold.
constexpr std::size_t kMaxFileBytes = 1 << 20;
/// The most values a range or a list may give, and the most combinations
/// of values that the templates of one file are checked over.
constexpr long long kMaxCombinations = 100000;
/// The longest run an exercise may ask for, in ticks: every grading runs
/// it, and a class's key once per student.
constexpr double kMaxDuration = 1e6;

/// What went wrong, and on which line of the input (from 1; 0 when it is
/// about the input as a whole).
struct Problem {
  int line = 0;
  std::string message;
};

/// What a scenario line sets.
enum class Target {
  kSetting,    ///< one of the settings file's eight keys
  kVariable,   ///< a LINKSIM_ variable of linksim-arq
  kParameter,  ///< a value of the exercise's own, for its questions
};

/// The values one scenario line allows: a list of texts, or a range of
/// decimal numbers first, first + step, ... held as integers scaled by
/// 10^decimals, so that every value's text is exact.
struct Choices {
  std::vector<std::string> list;  // empty for a range
  long long first = 0;
  long long step = 0;
  long long count = 0;
  int decimals = 0;

  long long size() const {
    return list.empty() ? count : static_cast<long long>(list.size());
  }
  /// The text of the value at `index`, 0 <= index < size().
  std::string at(long long index) const;
};

/// A scenario line.
struct ValueLine {
  int line = 0;
  std::string name;   ///< as the sheet and the key show it
  std::string alias;  ///< the name formulas and templates read it by
  Target target = Target::kParameter;
  Choices choices;
  bool templated = false;  ///< holds {...}, filled in from other values
};

/// `let NAME = FORMULA`: a figure of its own, from the run's.
struct Let {
  int line = 0;
  std::string name;
  Formula formula;
};

/// Where a question's answer comes from.
enum class SourceKind {
  kSummary,  ///< a figure of the run's summary
  kStats,    ///< a column of the run's stats row
  kCount,    ///< how many trace rows match
  kRow,      ///< a field of the n-th trace row that matches
  kFormula,  ///< arithmetic on the run's figures
};

/// The fields of a trace row an answer may be.
enum class RowField { kClock, kPacket, kSequence };

struct Source {
  SourceKind kind = SourceKind::kSummary;
  std::string figure;  ///< kSummary: the figure's name; kStats: the column
  RowField field = RowField::kClock;  ///< kRow
  // kCount and kRow: what a matching row holds. Node -1 is either; the
  // templates are "" where the filter is not used.
  int event = 0;  ///< a kit::TraceEvent
  std::string frame;
  int node = -1;
  std::string number = "1", packet, sequence;
  bool wrong = false;  ///< deliver rows of a packet out of its turn
  Formula formula;     ///< kFormula
};

struct Question {
  int line = 0;
  std::string text;  ///< may hold templates
  int answerLine = 0;
  std::string answer;  ///< the answer line as written, after "answer:"
  Source source;
  double within = 0.0;    ///< how far off an answer may be; 0: exact
  bool relative = false;  ///< within is a share of the answer, not a figure
  std::string note;
};

struct Exercise {
  std::string title;
  std::string salt;
  std::string intro;  ///< Markdown, lines joined by newlines
  std::vector<ValueLine> values;
  std::vector<Let> lets;
  std::vector<Question> questions;
};

/// Reads an exercise file's text into `*out`: kDone, or kRefused with
/// `*problem` naming the first line that is wrong.
int readExercise(const std::string& text, Exercise* out, Problem* problem);

/// The 64-bit number a student's value is drawn by: FNV-1a of the bytes of
/// `salt`, a zero byte, `name`, a zero byte and `student`, then
/// SplitMix64's finalizer. The value is choice number (hash mod size).
std::uint64_t studentHash(const std::string& salt, const std::string& name,
                          const std::string& student);

/// `text` without the spaces, tabs and carriage returns at its ends.
std::string trimmed(const std::string& text);

/// One drawn value.
struct Drawn {
  const ValueLine* from = nullptr;
  std::string text;
};

/// A question as one student sees it: its text, and its filters filled in.
struct DrawnQuestion {
  std::string text;
  long long number = 1;
  bool byPacket = false;
  long long packet = 0;
  bool bySequence = false;
  long long sequence = 0;
};

struct Draw {
  std::string student;
  std::vector<Drawn> values;  ///< in the file's order
  std::vector<DrawnQuestion> questions;
};

/// Draws `student`'s values and fills in the questions: kDone, or
/// kRefused for a template that gives no value a setting or a variable
/// takes (readExercise checks them all where it can).
int draw(const Exercise& exercise, const std::string& student, Draw* out,
         Problem* problem);

/// The settings file the student loads: the eight keys, one a line, each
/// as drawn or, where the exercise sets none, examples/link.txt's value.
std::string settingsText(const Draw& draw);

/// The LINKSIM_ variables of the run, NAME and value, in the file's order.
std::vector<std::pair<std::string, std::string>> variables(const Draw& draw);

/// The student's sheet, in Markdown.
std::string sheet(const Exercise& exercise, const Draw& draw);

/// What a run wrote, as text: `output` the run's lines (its
/// "acknowledged" lines and its summary, as linksim-arq FILE writes
/// them), `trace` and `stats` the files LINKSIM_TRACE and LINKSIM_STATS
/// name.
struct RunOutputs {
  std::string output;
  std::string trace;
  std::string stats;
};

/// What a finished run of linksim-arq comes to: judgeRun's results, and
/// those of runArq (run.h), which makes the run.
constexpr int kRan = 0;         ///< the run's outputs are what it wrote
constexpr int kRunFailed = 1;   ///< `*error` says why there is no run
constexpr int kRunRefused = 2;  ///< linksim-arq refused a variable

/// Judges a run that linksim-arq ended with exit status `status`, having
/// written `errors` on standard error and `outputs`: kRan; kRunRefused,
/// `*error` the refusal's line, for status 2 or a variable it ignores
/// (which would run another experiment and make every answer wrong); or
/// kRunFailed, `*error` saying why, for any other failure.
int judgeRun(int status, const std::string& errors, const RunOutputs& outputs,
             std::string* error);

/// The problem grade and key report when `student`'s scenario ran to
/// `ran`, not kRan, with `error`: a refusal on the scenario line that sets
/// the variable it names (0 where none does).
Problem runProblem(const Exercise& exercise, const std::string& student,
                   int ran, const std::string& error);

/// "FILE:LINE: MESSAGE" for `problem` in `file` ("FILE: MESSAGE" for line
/// 0), as linksim-exercise says it after its name.
std::string problemText(const std::string& file, const Problem& problem);

/// Where an answer was found.
enum class Place { kNowhere, kOutput, kTrace, kStats, kFormula };

/// A question's answer for one run.
struct Expected {
  bool none = true;  ///< the run has no such figure or row
  double value = 0.0;
  std::string text;  ///< the value as written in the key, or "none"
  Place place = Place::kNowhere;
  int line = 0;  ///< of the output or the trace, from 1 (the header is 1)
  std::vector<int> lines;  ///< kCount: the matching rows' lines
  std::string from;        ///< one line saying where, for the report
};

/// Each question's answer from `run`: kDone, or kRefused where the
/// exercise asks for what no run has (a summary line or a stats column by
/// a name none has, a figure no formula can read) or the outputs are not
/// a run's. A figure the run merely lacks is an answer of "none".
int expect(const Exercise& exercise, const Draw& draw, const RunOutputs& run,
           std::vector<Expected>* out, Problem* problem);

/// One line of a student's answers file.
struct Answer {
  enum State { kLeftOut, kNone, kNumber } state = kLeftOut;
  double value = 0.0;
  std::string text;
};

/// Reads an answers file for `questions` questions: one a line, a blank
/// line for one left out, "none" where there is none. kRefused, naming
/// the line, for an answer that is no number, or one past the last
/// question. Lines left off the end are answers left out.
int readAnswers(const std::string& text, std::size_t questions,
                std::vector<Answer>* out, Problem* problem);

/// True when `answer` is `expected`'s, as close as the question asks.
bool isRight(const Question& question, const Expected& expected,
             const Answer& answer);

/// The grading's report, and how many answers are right.
struct Graded {
  std::size_t right = 0;
  std::string report;
};
Graded grade(const Exercise& exercise, const std::vector<Expected>& expected,
             const std::vector<Answer>& answers);

/// The key's header: student, each value drawn from more than one, by its
/// name, then q1, q2, ...
std::string keyHeader(const Exercise& exercise);
/// A student's row of the key, to go under keyHeader.
std::string keyRow(const Exercise& exercise, const Draw& draw,
                   const std::vector<Expected>& expected);

/// `value` in the fewest digits, up to 15 significant, that read as it.
std::string formatNumber(double value);

/// How close `question`'s answers must be, as the sheet and the grading
/// say it ("within 2%", "within 0.5"); empty for an exact answer.
std::string tolerance(const Question& question);

/// Checks that `text` is text: no control character but tab, carriage
/// return and newline, and valid UTF-8. kRefused names the line.
int checkText(const std::string& text, Problem* problem);

}  // namespace exercise

#endif  // LINKSIM_EXERCISE_EXERCISE_H_
