// Each question's answer from a run's outputs, a student's answers, and the
// grading.

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <vector>

#include "exercise.h"
#include "kit/trace_format.h"
#include "text.h"

namespace exercise {

namespace {

/// The lines of `text`, without their line ends; a last line without one
/// counts, an empty end does not.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') --stop;
    lines.push_back(text.substr(start, stop - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> fieldsOf(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    fields.push_back(line.substr(start, comma - start));
    if (comma == std::string::npos) return fields;
    start = comma + 1;
  }
}

/// A figure of the summary: "summary: LABEL: ITEM, ITEM, ...", each item a
/// number and words ("22 sent again", "mean 243.5", or a number alone),
/// named by the label and the item's words: its first number is its value,
/// and any other ("3 of 40 delivered") is left out of its name.
struct Figure {
  std::string name;  // normalized
  double value;
  int line;
};

void readSummary(const std::vector<std::string>& lines,
                 std::vector<Figure>* figures,
                 std::vector<std::string>* labels) {
  const std::string prefix = "summary: ";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    const std::size_t colon = line.find(": ", prefix.size());
    const std::string label = normalizedFigure(line.substr(
        prefix.size(), colon == std::string::npos ? std::string::npos
                                                  : colon - prefix.size()));
    labels->push_back(label);
    if (colon == std::string::npos) continue;
    std::string items = line.substr(colon + 2);
    std::size_t start = 0;
    for (;;) {
      const std::size_t comma = items.find(", ", start);
      const std::string item = items.substr(start, comma - start);
      std::string words;
      bool found = false;
      double value = 0.0;
      for (const std::string& word : splitWords(item)) {
        double number = 0.0;
        if (!readDecimal(word, &number)) {
          words += " " + word;
        } else if (!found) {
          found = true;
          value = number;
        }
      }
      if (found) {
        figures->push_back(
            {normalizedFigure(label + words), value, static_cast<int>(i) + 1});
      }
      if (comma == std::string::npos) break;
      start = comma + 2;
    }
  }
}

/// One row of the trace, as read for the questions.
struct Row {
  double clock;
  int node;
  int event;
  std::string frame;
  long long sequence;
  long long packet;
  bool wrong;  // a deliver row of a packet out of its turn
  int line;
};

bool readTrace(const std::vector<std::string>& lines, std::vector<Row>* rows,
               Problem* problem) {
  problem->line = 0;
  if (lines.empty() || lines[0] != kit::kTraceHeader) {
    problem->message = "the run's trace does not start with its header";
    return false;
  }
  long long delivered = 0;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> fields = fieldsOf(lines[i]);
    Row row{};
    row.line = static_cast<int>(i) + 1;
    row.node = fields.size() != 6                 ? -1
               : fields[1] == kit::kTraceNodes[0] ? kit::kAtSource
               : fields[1] == kit::kTraceNodes[1] ? kit::kAtSink
                                                  : -1;
    row.event = -1;
    for (int event = 0; row.node >= 0 && event < kit::kTraceEventCount;
         ++event) {
      if (fields[2] == kit::kTraceEvents[event].name) row.event = event;
    }
    if (row.event < 0 || !readDecimal(fields[0], &row.clock) ||
        !readWhole(fields[4], &row.sequence) ||
        !readWhole(fields[5], &row.packet)) {
      problem->message = "line " + std::to_string(row.line) +
                         " of the run's trace is no trace row";
      return false;
    }
    row.frame = fields[3];
    if (row.event == kit::kDeliver) row.wrong = row.packet != delivered++;
    rows->push_back(row);
  }
  return true;
}

/// What the rows of a question are: "resend data", "deliver data wrong at
/// sink packet 3", as the report says it.
std::string rowsNamed(const Source& source, const DrawnQuestion& drawn) {
  std::string name =
      std::string(kit::kTraceEvents[source.event].name) + " " + source.frame;
  if (source.node >= 0)
    name += std::string(" at ") + kit::kTraceNodes[source.node];
  if (drawn.byPacket) name += " packet " + std::to_string(drawn.packet);
  if (drawn.bySequence) name += " sequence " + std::to_string(drawn.sequence);
  if (source.wrong) name += " wrong";
  return name;
}

bool matches(const Source& source, const DrawnQuestion& drawn, const Row& row) {
  return row.event == source.event && row.frame == source.frame &&
         (source.node < 0 || row.node == source.node) &&
         (!drawn.byPacket || row.packet == drawn.packet) &&
         (!drawn.bySequence || row.sequence == drawn.sequence) &&
         (!source.wrong || row.wrong);
}

/// The n-th in English: 1st, 2nd, 3rd, 4th, 11th, 21st.
std::string ordinal(long long n) {
  const long long tens = n % 100;
  const long long ones = n % 10;
  const char* suffix = (tens >= 11 && tens <= 13) ? "th"
                       : ones == 1                ? "st"
                       : ones == 2                ? "nd"
                       : ones == 3                ? "rd"
                                                  : "th";
  return std::to_string(n) + suffix;
}

void setValue(Expected* expected, double value) {
  if (!std::isfinite(value)) return;
  expected->none = false;
  expected->value = value;
  expected->text = formatNumber(value);
}

}  // namespace

int expect(const Exercise& exercise, const Draw& draw, const RunOutputs& run,
           std::vector<Expected>* out, Problem* problem) {
  out->assign(exercise.questions.size(), Expected());
  const std::vector<std::string> output = linesOf(run.output);
  std::vector<Figure> figures;
  std::vector<std::string> labels;
  readSummary(output, &figures, &labels);

  std::vector<std::string> trace;  // the run's trace, a line each
  std::vector<Row> rows;
  bool traced = false;
  std::vector<std::string> columns;
  std::vector<std::string> stats;
  bool statsRead = false;
  const auto needTrace = [&]() {
    if (traced) return true;
    traced = true;
    trace = linesOf(run.trace);
    return readTrace(trace, &rows, problem);
  };
  const auto needStats = [&]() {
    if (statsRead) return true;
    statsRead = true;
    const std::vector<std::string> lines = linesOf(run.stats);
    if (lines.size() < 2) {
      problem->line = 0;
      problem->message = "the run wrote no stats row";
      return false;
    }
    columns = fieldsOf(lines[0]);
    stats = fieldsOf(lines.back());
    if (stats.size() != columns.size()) {
      problem->line = 0;
      problem->message = "the run's stats row does not fit its header";
      return false;
    }
    return true;
  };
  // A stats column's value: true with NaN for an empty one; false for a
  // column the row has not.
  const auto column = [&](const std::string& name, double* value,
                          std::string* text) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (columns[i] != name) continue;
      if (text != nullptr) *text = stats[i];
      if (!readDecimal(stats[i], value)) *value = std::nan("");
      return true;
    }
    return false;
  };

  // Lets, in order, then the values drawn, then the stats columns.
  std::vector<double> lets(exercise.lets.size(), std::nan(""));
  std::size_t letsDone = 0;
  const Formula::Lookup figure = [&](const std::string& name, double* value) {
    for (std::size_t i = 0; i < draw.values.size(); ++i) {
      if (draw.values[i].from->alias == name) {
        if (!readDecimal(draw.values[i].text, value)) *value = std::nan("");
        return true;
      }
    }
    for (std::size_t i = 0; i < letsDone; ++i) {
      if (exercise.lets[i].name == name) {
        *value = lets[i];
        return true;
      }
    }
    return !run.stats.empty() && needStats() && column(name, value, nullptr);
  };
  const auto names = [&](const Formula& formula) {
    std::string with;
    for (const std::string& name : formula.names()) {
      double value = 0.0;
      figure(name, &value);
      with += (with.empty() ? ", with " : ", ") + name + " = " +
              (std::isfinite(value) ? formatNumber(value) : "none");
    }
    return with;
  };
  std::string error;
  for (; letsDone < exercise.lets.size(); ++letsDone) {
    const Let& let = exercise.lets[letsDone];
    problem->message.clear();
    if (!let.formula.evaluate(figure, &lets[letsDone], &error)) {
      if (problem->message.empty()) {
        problem->line = let.line;
        problem->message = error;
      }
      return kRefused;
    }
  }

  for (std::size_t q = 0; q < exercise.questions.size(); ++q) {
    const Question& question = exercise.questions[q];
    const Source& source = question.source;
    const DrawnQuestion& drawn = draw.questions[q];
    Expected& expected = (*out)[q];
    expected.text = "none";
    problem->line = question.answerLine;
    switch (source.kind) {
      case SourceKind::kSummary: {
        bool labelled = false;
        for (const std::string& label : labels) {
          labelled =
              labelled || source.figure.compare(0, label.size(), label) == 0;
        }
        for (const Figure& found : figures) {
          if (found.name != source.figure) continue;
          setValue(&expected, found.value);
          expected.place = Place::kOutput;
          expected.line = found.line;
          expected.from = "from line " + std::to_string(found.line) +
                          " of the run's output: " + output[found.line - 1];
          break;
        }
        if (expected.place == Place::kNowhere) {
          if (!labelled) {
            std::string known;
            for (const Figure& found : figures) {
              known += (known.empty() ? "" : ", ") + found.name;
            }
            problem->message = "the run's summary has no figure '" +
                               source.figure + "' (it has " + known + ")";
            return kRefused;
          }
          expected.from = "the run's summary has no figure " + source.figure;
        }
        break;
      }
      case SourceKind::kStats: {
        if (!needStats()) return kRefused;
        double value = 0.0;
        std::string text;
        if (!column(source.figure, &value, &text)) {
          problem->message =
              "the run's stats row has no column " + source.figure;
          return kRefused;
        }
        setValue(&expected, value);
        expected.place = Place::kStats;
        expected.from = "from the stats column " + source.figure + ": " +
                        (text.empty() ? "empty" : text);
        break;
      }
      case SourceKind::kCount: {
        if (!needTrace()) return kRefused;
        for (const Row& row : rows) {
          if (matches(source, drawn, row)) expected.lines.push_back(row.line);
        }
        setValue(&expected, static_cast<double>(expected.lines.size()));
        expected.place = Place::kTrace;
        expected.from = "from the trace's rows " + rowsNamed(source, drawn);
        if (expected.lines.empty()) {
          expected.from = "no row of the trace is " + rowsNamed(source, drawn);
        } else {
          expected.line = expected.lines[0];
          expected.from += ", on line";
          expected.from += expected.lines.size() > 1 ? "s " : " ";
          for (std::size_t i = 0; i < expected.lines.size() && i < 10; ++i) {
            expected.from +=
                (i == 0 ? "" : ", ") + std::to_string(expected.lines[i]);
          }
          if (expected.lines.size() > 10) expected.from += ", ...";
        }
        break;
      }
      case SourceKind::kRow: {
        if (!needTrace()) return kRefused;
        long long seen = 0;
        for (const Row& row : rows) {
          if (!matches(source, drawn, row) || ++seen < drawn.number) continue;
          setValue(&expected, source.field == RowField::kClock ? row.clock
                              : source.field == RowField::kPacket
                                  ? static_cast<double>(row.packet)
                                  : static_cast<double>(row.sequence));
          expected.place = Place::kTrace;
          expected.line = row.line;
          expected.from = "from line " + std::to_string(row.line) +
                          " of the trace: " + trace[row.line - 1];
          break;
        }
        if (expected.place == Place::kNowhere) {
          expected.from = "the trace has no " + ordinal(drawn.number) +
                          " row " + rowsNamed(source, drawn);
        }
        break;
      }
      case SourceKind::kFormula: {
        double value = 0.0;
        problem->message.clear();
        if (!source.formula.evaluate(figure, &value, &error)) {
          if (problem->message.empty()) problem->message = error;
          return kRefused;
        }
        setValue(&expected, value);
        expected.place = Place::kFormula;
        expected.from =
            "from the formula " + source.formula.text() + names(source.formula);
        break;
      }
    }
  }
  problem->line = 0;
  problem->message.clear();
  return kDone;
}

int readAnswers(const std::string& text, std::size_t questions,
                std::vector<Answer>* out, Problem* problem) {
  out->assign(questions, Answer());
  if (checkText(text, problem) != kDone) return kRefused;
  const std::vector<std::string> lines = linesOf(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string answer = trimmed(lines[i]);
    if (answer.empty()) continue;
    problem->line = static_cast<int>(i) + 1;
    if (i >= questions) {
      problem->message =
          "an answer past the last question (the exercise "
          "has " +
          std::to_string(questions) + ")";
      return kRefused;
    }
    Answer& read = (*out)[i];
    read.text = answer;
    if (equalsIgnoringCase(answer, "none")) {
      read.state = Answer::kNone;
    } else if (readDecimal(answer, &read.value)) {
      read.state = Answer::kNumber;
    } else {
      problem->message = "not a number: '" + shortened(answer) +
                         "' (an answer is a number, none, or a blank line)";
      return kRefused;
    }
  }
  problem->line = 0;
  return kDone;
}

bool isRight(const Question& question, const Expected& expected,
             const Answer& answer) {
  if (expected.none) return answer.state == Answer::kNone;
  if (answer.state != Answer::kNumber) return false;
  // "Exact" is to the digits the outputs are written in: a clock read from
  // the trace, a figure from the summary, a formula's 15 digits. The same
  // slack lets an answer at the very margin, 12.24 for 12 within 2%, be
  // right although its difference is a rounding above the margin.
  const double scale = std::fmax(1.0, std::fabs(expected.value));
  const double within =
      (question.relative ? question.within * std::fabs(expected.value)
                         : question.within) +
      1e-9 * scale;
  return std::fabs(answer.value - expected.value) <= within;
}

Graded grade(const Exercise& exercise, const std::vector<Expected>& expected,
             const std::vector<Answer>& answers) {
  Graded graded;
  for (std::size_t q = 0; q < exercise.questions.size(); ++q) {
    const Question& question = exercise.questions[q];
    const Answer& answer = answers[q];
    const bool right = isRight(question, expected[q], answer);
    graded.right += right ? 1 : 0;
    std::string how = "expected " + expected[q].text;
    if (!expected[q].none && question.within > 0.0) {
      how += " " + tolerance(question);
    }
    graded.report += "q" + std::to_string(q + 1) + " " +
                     (right                              ? "right: "
                      : answer.state == Answer::kLeftOut ? "left out"
                                                         : "wrong: ") +
                     answer.text + " (" + how + ")\n  " + expected[q].from +
                     "\n";
    if (!right && !question.note.empty()) {
      graded.report += "  why: " + question.note + "\n";
    }
  }
  graded.report += "score: " + std::to_string(graded.right) + " of " +
                   std::to_string(exercise.questions.size()) + "\n";
  return graded;
}

int judgeRun(int status, const std::string& errors, const RunOutputs& outputs,
             std::string* error) {
  if (status == 2) {
    *error = firstLine(errors, "linksim-arq refused the scenario");
    return kRunRefused;
  }
  // A variable linksim-arq does not read would leave the run another
  // experiment than the exercise's, and every answer wrong.
  const std::size_t ignored = errors.find(" is ignored: ");
  if (ignored != std::string::npos) {
    const std::size_t line = errors.rfind('\n', ignored);
    *error =
        firstLine(errors.substr(line == std::string::npos ? 0 : line + 1), "");
    return kRunRefused;
  }
  // 3: the settings file refused, or a setting rejected, said on
  // standard error.
  if (status != 0 || outputs.output.find("summary: ") == std::string::npos) {
    *error = "linksim-arq's run failed (status " + std::to_string(status) +
             "): " + firstLine(errors, "it wrote no summary");
    return kRunFailed;
  }
  return kRan;
}

Problem runProblem(const Exercise& exercise, const std::string& student,
                   int ran, const std::string& error) {
  Problem problem;
  if (ran != kRunRefused) {
    problem.message =
        "cannot run the scenario drawn for " + student + ": " + error;
    return problem;
  }
  std::size_t longest = 0;
  for (const ValueLine& value : exercise.values) {
    if (value.target == Target::kVariable &&
        error.find(value.name) != std::string::npos &&
        value.name.size() > longest) {
      problem.line = value.line;
      longest = value.name.size();
    }
  }
  problem.message =
      "linksim-arq refuses the scenario drawn for " + student + ": " + error;
  return problem;
}

std::string problemText(const std::string& file, const Problem& problem) {
  return file + (problem.line > 0 ? ":" + std::to_string(problem.line) : "") +
         ": " + problem.message;
}

}  // namespace exercise
