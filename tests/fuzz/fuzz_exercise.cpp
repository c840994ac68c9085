// linksim-exercise's readers: arbitrary bytes as an exercise file, as a
// student's answers file, and as a run's output, trace and stats.
//
// Properties:
// - each reader ends, and a refusal is one line of text naming a line of
//   the input (0 for the input as a whole);
// - an exercise read is read the same again, and draws, writes a sheet, a
//   key's header and row, and grades without failing for any student;
// - answers read are one for each question, and a line left out is one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "exercise.h"
#include "fuzz_support.h"

namespace {

/// Asks every kind of answer of a run, whatever the run holds.
const char* const kEveryKind =
    "linksim-exercise 1\ntitle: every kind\nk = 0 .. 3\n"
    "let u = acknowledged / duration\n"
    "question: a\nanswer: summary data frames sent again\n"
    "question: b\nanswer: count deliver data wrong\n"
    "question: c\nanswer: clock acknowledged data packet {k}\n"
    "question: d\nanswer: sequence resend data at source number 2\n"
    "question: e\nanswer: formula u * 2 - min(timeouts, 3)\n";

int linesIn(const std::string& text) {
  int lines = 1;
  for (const char c : text) lines += c == '\n' ? 1 : 0;
  return lines;
}

void checkProblem(const exercise::Problem& problem, const std::string& text) {
  FUZZ_CHECK(!problem.message.empty());
  FUZZ_CHECK(problem.message.find('\n') == std::string::npos);
  FUZZ_CHECK(problem.line >= 0 && problem.line <= linesIn(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  exercise::Problem problem;

  exercise::Exercise read;
  if (exercise::readExercise(bytes, &read, &problem) != exercise::kDone) {
    checkProblem(problem, bytes);
  } else {
    exercise::Exercise again;
    FUZZ_CHECK(exercise::readExercise(bytes, &again, &problem) ==
               exercise::kDone);
    FUZZ_CHECK(exercise::keyHeader(read) == exercise::keyHeader(again));
    for (const char* student : {"alice", "s1234567"}) {
      exercise::Draw drawn;
      if (exercise::draw(read, student, &drawn, &problem) != exercise::kDone) {
        checkProblem(problem, bytes);
        continue;
      }
      exercise::Draw twice;
      FUZZ_CHECK(exercise::draw(again, student, &twice, &problem) ==
                 exercise::kDone);
      FUZZ_CHECK(exercise::sheet(read, drawn) == exercise::sheet(again, twice));
      FUZZ_CHECK(!exercise::settingsText(drawn).empty());
      // Its questions asked of a run that is the exercise's own text.
      const exercise::RunOutputs run{bytes, bytes, bytes};
      std::vector<exercise::Expected> expected;
      if (exercise::expect(read, drawn, run, &expected, &problem) !=
          exercise::kDone) {
        checkProblem(problem, bytes);
        continue;
      }
      FUZZ_CHECK(expected.size() == read.questions.size());
      const std::vector<exercise::Answer> none(read.questions.size());
      const exercise::Graded graded = exercise::grade(read, expected, none);
      FUZZ_CHECK(graded.right <= read.questions.size());
      FUZZ_CHECK(!exercise::keyRow(read, drawn, expected).empty());
    }
  }

  std::vector<exercise::Answer> answers;
  if (exercise::readAnswers(bytes, 4, &answers, &problem) != exercise::kDone) {
    checkProblem(problem, bytes);
  } else {
    FUZZ_CHECK(answers.size() == 4);
  }

  static exercise::Exercise every;
  static const bool everyRead =
      exercise::readExercise(kEveryKind, &every, &problem) == exercise::kDone;
  FUZZ_CHECK(everyRead);
  exercise::Draw drawn;
  FUZZ_CHECK(exercise::draw(every, "x", &drawn, &problem) == exercise::kDone);
  std::vector<exercise::Expected> expected;
  if (exercise::expect(every, drawn, {bytes, bytes, bytes}, &expected,
                       &problem) != exercise::kDone) {
    checkProblem(problem, kEveryKind);
  }
  return 0;
}
