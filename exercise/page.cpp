// The exercise core's entry for the lab's page, compiled to WebAssembly
// beside linksim-arq (web/wasm.cmake). The page opens an exercise for a
// student, reads the student's answers, runs the scenario with linksim-arq
// itself and then has the run graded here, every step as linksim-exercise's
// sheet and grade take it, so that the page's grading is the command's,
// word for word, its refusals included.
//
// One call, lab_exercise(request, size). The request is netstrings
// ("LENGTH:BYTES,"): the step, then its arguments; the answer is JSON,
// valid until the next call. FILE is the exercise's name in messages, as
// the command's path is in its; ANSWERS is the answers file's text, named
// kAnswersFile in messages; a "problem" is the line the command would
// write on standard error, and no other field comes with it.
//
//   open FILE TEXT STUDENT
//     {"title", "sheet", "settings" (the settings file's text),
//      "variables": [[NAME, VALUE], ...] (in the file's order),
//      "questions": [TEXT, ...]}
//   answers FILE TEXT STUDENT ANSWERS
//     {}: the answers can be graded
//   grade FILE TEXT STUDENT ANSWERS STATUS OUTPUT ERRORS TRACE STATS
//     STATUS, OUTPUT, ERRORS, TRACE and STATS are the run's exit status,
//     standard output and error, and the files LINKSIM_TRACE and
//     LINKSIM_STATS named ("" where it wrote none): {"status" (the
//     command's: 0 all right, 1 some wrong), "report" (what it writes on
//     standard output), "answers": [{"right", "place", "line", "lines",
//     "from"}, ...]}, where "lines" are the trace's lines the answer comes
//     from and "line" the first of them, or the output's line of a figure
//     of the summary.

#include <cstddef>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "exercise.h"
#include "kit/variables.h"

namespace {

/// The answers file's name in messages.
constexpr const char* kAnswersFile = "answers.txt";
/// The places of exercise::Place, by its order, as the answer names them.
constexpr const char* kPlaces[] = {"none", "output", "trace", "stats",
                                   "formula"};

/// The answer of a step that ends in `problem` about `file`.
std::string problemAnswer(const std::string& file,
                          const exercise::Problem& problem) {
  return "{\"problem\":" +
         kit::jsonString("linksim-exercise: " +
                         exercise::problemText(file, problem)) +
         "}";
}

/// Splits the netstrings of [data, data + size) into `*fields`; false for
/// anything else.
bool readFields(const char* data, std::size_t size,
                std::vector<std::string>* fields) {
  std::size_t at = 0;
  while (at < size) {
    std::size_t length = 0;
    std::size_t digits = 0;
    for (; at < size && data[at] >= '0' && data[at] <= '9' && digits < 10;
         ++at, ++digits) {
      length = length * 10 + static_cast<std::size_t>(data[at] - '0');
    }
    if (digits == 0 || at >= size || data[at] != ':' ||
        size - at - 1 <= length || data[at + 1 + length] != ',') {
      return false;
    }
    fields->emplace_back(data + at + 1, length);
    at += length + 2;
  }
  return true;
}

/// What the command refuses in a file it reads before its reader sees it.
bool tooLarge(const std::string& text, exercise::Problem* problem) {
  if (text.size() <= exercise::kMaxFileBytes) return false;
  problem->line = 0;
  problem->message = "too large: more than " +
                     std::to_string(exercise::kMaxFileBytes) + " bytes";
  return true;
}

/// The exercise and the student's draw, read as the command reads them:
/// the file, the identifier, and for `answers` (where not null) the
/// answers file, before the draw. An empty string, or the answer that
/// says what is wrong.
std::string openFor(const std::vector<std::string>& fields,
                    exercise::Exercise* read, exercise::Draw* drawn,
                    std::vector<exercise::Answer>* answers) {
  const std::string& file = fields[1];
  exercise::Problem problem;
  if (tooLarge(fields[2], &problem) ||
      exercise::readExercise(fields[2], read, &problem) != exercise::kDone) {
    return problemAnswer(file, problem);
  }
  const std::string student = exercise::trimmed(fields[3]);
  if (student.empty()) {
    return "{\"problem\":" +
           kit::jsonString(
               "linksim-exercise: the student's identifier is empty") +
           "}";
  }
  if (answers != nullptr &&
      (tooLarge(fields[4], &problem) ||
       exercise::readAnswers(fields[4], read->questions.size(), answers,
                             &problem) != exercise::kDone)) {
    return problemAnswer(kAnswersFile, problem);
  }
  if (exercise::draw(*read, student, drawn, &problem) != exercise::kDone) {
    return problemAnswer(file, problem);
  }
  return "";
}

std::string open(const std::vector<std::string>& fields) {
  exercise::Exercise read;
  exercise::Draw drawn;
  std::string refused = openFor(fields, &read, &drawn, nullptr);
  if (!refused.empty()) return refused;
  std::string variables;
  for (const auto& variable : exercise::variables(drawn)) {
    variables += (variables.empty() ? "[" : ",[") +
                 kit::jsonString(variable.first) + "," +
                 kit::jsonString(variable.second) + "]";
  }
  std::string questions;
  for (const exercise::DrawnQuestion& question : drawn.questions) {
    questions +=
        (questions.empty() ? "" : ",") + kit::jsonString(question.text);
  }
  return "{\"title\":" + kit::jsonString(read.title) +
         ",\"sheet\":" + kit::jsonString(exercise::sheet(read, drawn)) +
         ",\"settings\":" + kit::jsonString(exercise::settingsText(drawn)) +
         ",\"variables\":[" + variables + "],\"questions\":[" + questions +
         "]}";
}

/// The answers step, or the grade step, which reads the answers first too.
std::string grade(const std::vector<std::string>& fields) {
  exercise::Exercise read;
  exercise::Draw drawn;
  std::vector<exercise::Answer> answers;
  std::string refused = openFor(fields, &read, &drawn, &answers);
  if (!refused.empty() || fields[0] == "answers") {
    return refused.empty() ? "{}" : refused;
  }
  const exercise::RunOutputs run{fields[6], fields[8], fields[9]};
  std::string error;
  const int ran =
      exercise::judgeRun(std::atoi(fields[5].c_str()), fields[7], run, &error);
  const std::string& file = fields[1];
  const std::string student = exercise::trimmed(fields[3]);
  if (ran != exercise::kRan) {
    return problemAnswer(file, exercise::runProblem(read, student, ran, error));
  }
  std::vector<exercise::Expected> expected;
  exercise::Problem problem;
  if (exercise::expect(read, drawn, run, &expected, &problem) !=
      exercise::kDone) {
    problem.message += " (for " + student + ")";
    return problemAnswer(file, problem);
  }
  const exercise::Graded graded = exercise::grade(read, expected, answers);
  std::string each;
  for (std::size_t q = 0; q < expected.size(); ++q) {
    const exercise::Expected& found = expected[q];
    std::vector<int> lines = found.lines;
    if (lines.empty() && found.place == exercise::Place::kTrace &&
        found.line > 0) {
      lines.push_back(found.line);
    }
    std::string numbers;
    for (const int line : lines) {
      numbers += (numbers.empty() ? "" : ",") + std::to_string(line);
    }
    const bool right = exercise::isRight(read.questions[q], found, answers[q]);
    each += q == 0 ? "{" : ",{";
    each += std::string("\"right\":") + (right ? "true" : "false");
    each +=
        ",\"place\":" + kit::jsonString(kPlaces[static_cast<int>(found.place)]);
    each += ",\"line\":" + std::to_string(found.line);
    each += ",\"lines\":[" + numbers + "]";
    each += ",\"from\":" + kit::jsonString(found.from) + "}";
  }
  const bool allRight = graded.right == read.questions.size();
  return std::string("{\"status\":") + (allRight ? "0" : "1") +
         ",\"report\":" + kit::jsonString(graded.report) + ",\"answers\":[" +
         each + "]}";
}

}  // namespace

/// The page's one call: see the file's comment.
extern "C" const char* lab_exercise(const char* request, std::size_t size) {
  static std::string answer;
  std::vector<std::string> fields;
  // Each step's name and how many fields it takes.
  static const std::pair<const char*, std::size_t> kSteps[] = {
      {"open", 4}, {"answers", 5}, {"grade", 10}};
  bool known = false;
  if (readFields(request, size, &fields) && !fields.empty()) {
    for (const auto& step : kSteps) {
      known =
          known || (fields[0] == step.first && fields.size() == step.second);
    }
  }
  if (!known) {
    answer = "{\"problem\":\"the page asked for no step the core has\"}";
  } else {
    answer = fields[0] == "open" ? open(fields) : grade(fields);
  }
  return answer.c_str();
}
