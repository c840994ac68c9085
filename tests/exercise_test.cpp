// linksim-exercise's core: the readers' refusals, word for word; the draw,
// pinned; the answers found in a run's outputs; the formulas; what a run's
// ending comes to, and the problem said of it.

#include "exercise.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "formula.h"

namespace {

const std::string kHead =
    "linksim-exercise 1\ntitle: T\n";  // every case's first two lines
const std::string kQuestion = "question: Q\nanswer: summary timeouts\n";

struct Refused {
  std::string text;
  int line;
  std::string message;
};

TEST(ExerciseTest, RefusesWhatIsNoExercise) {
  const Refused cases[] = {
      {"", 0,
       "an exercise file starts with the line 'linksim-exercise 1', and this "
       "one is empty"},
      {"hello\n", 1,
       "an exercise file starts with the line 'linksim-exercise 1'"},
      {std::string("linksim-exercise 1\n\0\n", 21), 2,
       "not a text file: it holds the byte 0x00, a control character"},
      {"linksim-exercise 1\ntitle: \xff\n", 2,
       "not a text file: it is not UTF-8"},
      {kHead + "hello\n", 3,
       "not a line of an exercise: 'hello' (title:, salt:, intro:, NAME = "
       "VALUE, let, question:, answer:, within: or note:)"},
      {"linksim-exercise 1\n" + kQuestion, 0,
       "the exercise has no title: line"},
      {kHead, 0, "the exercise has no question: line"},
      {kHead + "question: Q\n", 3, "the question has no answer: line"},
      {kHead + "question: Q\nanswer: median data\n", 4,
       "no kind of answer is 'median' (summary, stats, count, clock, packet, "
       "sequence or formula)"},
      {kHead + "question: Q\nanswer: count arrive data\n", 4,
       "no trace event is 'arrive' (send, resend, receive, lost, deliver, "
       "acknowledged, timeout, discard, buffer, end)"},
      {kHead + "question: Q\nanswer: count send Data\n", 4,
       "'Data' is no frame kind (data, ack or a protocol's own, in "
       "lowercase)"},
      {kHead + "question: Q\nanswer: count discard data number 2\n", 4,
       "a count counts every row: it takes no number"},
      {kHead + "question: Q\nanswer: clock resend data wrong\n", 4,
       "wrong picks deliver rows only"},
      {kHead + "question: Q\nanswer: formula (1 +\n", 4,
       "the formula ends too soon"},
      {kHead + kQuestion + "within: -1\n", 5,
       "within: takes exact, a number from 0 up or a percentage such as 2%, "
       "not '-1'"},
      {kHead + "k = 5 .. 3\n" + kQuestion, 3, "the range '5 .. 3' is empty"},
      {kHead + "k = 1 .. 3 by 0\n" + kQuestion, 3,
       "the step of '1 .. 3 by 0' must be above 0"},
      {kHead + "k = 1 | | 3\n" + kQuestion, 3,
       "the list '1 | | 3' has an empty value"},
      {kHead + "LINKSIM_WINDOW = 0 .. 4\n" + kQuestion, 3,
       "LINKSIM_WINDOW must be a whole number from 1 to 65536, not '0'"},
      {kHead + "LINKSIM_WINDOW = 1 .. 3 by 0.5\n" + kQuestion, 3,
       "LINKSIM_WINDOW must be a whole number from 1 to 65536, not '1.5'"},
      {kHead + "LINKSIM_LOSS = 0.5 | 1\n" + kQuestion, 3,
       "LINKSIM_LOSS must be a decimal number from 0 up to but not including "
       "1, not '1'"},
      {kHead + "LINKSIM_ARQ = go-back\n" + kQuestion, 3,
       "LINKSIM_ARQ must be stop-and-wait, go-back-n, selective-repeat or "
       "sliding-window, not 'go-back'"},
      {kHead + "LINKSIM_DROP = data:0\n" + kQuestion, 3,
       "LINKSIM_DROP must be a drop list such as 'data:3,7 ack:2', not "
       "'data:0'"},
      {kHead + "LINKSIM_LOS = 0.1\n" + kQuestion, 3,
       "linksim-arq has no variable LINKSIM_LOS"},
      {kHead + "LINKSIM_TRACE = t.csv\n" + kQuestion, 3,
       "LINKSIM_TRACE is set by linksim-exercise for each run"},
      {kHead + "Simulation Duration = 1e7\n" + kQuestion, 3,
       "Simulation Duration must be a decimal number above 0 and at most "
       "1000000 (every grading runs it), not '1e7'"},
      {kHead + "bit rate = 0\n" + kQuestion, 3,
       "Bit Rate must be a decimal number above 0, not '0'"},
      {kHead + "k = 1 .. 20\nLINKSIM_WINDOW = {2^k}\n" + kQuestion, 4,
       "LINKSIM_WINDOW must be a whole number from 1 to 65536, not '131072' "
       "(with k = 17)"},
      {kHead + "LINKSIM_WINDOW = {k}\n" + kQuestion, 3,
       "{k} names no value set before it"},
      {kHead + "k = 1\nk = 2\n" + kQuestion, 4,
       "k is set twice (first on line 3)"},
      {kHead + "LINKSIM_LOSS = 0.1\nLINKSIM_BER = 0.001\n" + kQuestion, 4,
       "LINKSIM_LOSS and LINKSIM_BER cannot both be set"},
      {kHead + "LINKSIM_BER = 0.001\nLINKSIM_LOSS = 0.1\n" + kQuestion, 4,
       "LINKSIM_LOSS and LINKSIM_BER cannot both be set"},
      {kHead + "question: Packet {n}?\nanswer: summary timeouts\n", 3,
       "{n}: no figure is named n among the values drawn"},
      {kHead + "question: Q\nanswer: clock send data packet {1/2}\n", 4,
       "packet takes a whole number from 0, not '0.5'"},
  };
  for (const Refused& c : cases) {
    exercise::Exercise read;
    exercise::Problem problem;
    EXPECT_EQ(exercise::readExercise(c.text, &read, &problem),
              exercise::kRefused)
        << c.text;
    EXPECT_EQ(problem.line, c.line) << c.text;
    EXPECT_EQ(problem.message, c.message) << c.text;
  }
}

TEST(ExerciseTest, ReadsAnswers) {
  const struct {
    std::string text;
    int line;  // of the refusal; 0 for none
    std::string message;
  } cases[] = {
      {"1\n\nnone\n", 0, ""},
      {"1\r\n-2.5\r\nNone", 0, ""},
      {"1\n2\n3\n\n\n", 0, ""},
      {"1\nabc\n", 2,
       "not a number: 'abc' (an answer is a number, none, or a blank line)"},
      {"1\n0x10\n", 2,
       "not a number: '0x10' (an answer is a number, none, or a blank line)"},
      {"1\n2\n3\n4\n", 4,
       "an answer past the last question (the exercise has 3)"},
      {"1\n\x01\n", 2,
       "not a text file: it holds the byte 0x01, a control character"},
  };
  for (const auto& c : cases) {
    std::vector<exercise::Answer> answers;
    exercise::Problem problem;
    const int result = exercise::readAnswers(c.text, 3, &answers, &problem);
    EXPECT_EQ(result, c.line == 0 ? exercise::kDone : exercise::kRefused)
        << c.text;
    EXPECT_EQ(problem.line, c.line) << c.text;
    EXPECT_EQ(problem.message, c.message) << c.text;
  }
}

// The draw is part of the file format: these numbers are every version's.
TEST(ExerciseTest, DrawIsPinned) {
  EXPECT_EQ(exercise::studentHash("", "k", "alice"), 0x3006e620436b3b1ULL);
  EXPECT_EQ(exercise::studentHash("2026", "LINKSIM_SEED", "s1234567"),
            0x2a4a0333e1d45dfdULL);
  const std::string text = kHead + "LINKSIM_LOSS = 0.05 .. 0.3 by 0.05\n" +
                           "k = 1 .. 1000\n" + kQuestion;
  exercise::Exercise read;
  exercise::Problem problem;
  ASSERT_EQ(exercise::readExercise(text, &read, &problem), exercise::kDone);
  const struct {
    const char* student;
    const char* loss;
    const char* k;
  } cases[] = {{"alice", "0.1", "986"}, {"bob", "0.15", "263"}};
  for (const auto& c : cases) {
    exercise::Draw drawn;
    ASSERT_EQ(exercise::draw(read, c.student, &drawn, &problem),
              exercise::kDone);
    EXPECT_EQ(drawn.values[0].text, c.loss) << c.student;
    EXPECT_EQ(drawn.values[1].text, c.k) << c.student;
  }
}

// A run's outputs, as text, and what each kind of answer reads of them.
TEST(ExerciseTest, FindsAnswersInARun) {
  const std::string text =
      kHead + "LINKSIM_LOSS = 0.2\nk = 1\nlet T = duration / 2\n" +
      "question: a\nanswer: summary data frames sent again\n"  // line 6
      "question: b\nanswer: summary ACKs lost\n"
      "question: c\nanswer: summary delay from arrival to delivery mean\n"
      "question: d\nanswer: stats timeouts\n"
      "question: e\nanswer: stats ber\n"
      "question: f\nanswer: count resend data\n"
      "question: g\nanswer: clock acknowledged data packet {k}\n"
      "question: h\nanswer: packet deliver data wrong\n"
      "question: i\nanswer: clock timeout data number 2\n"
      "question: j\nanswer: formula T * (1 - LINKSIM_LOSS) + k\n"
      "question: k\nanswer: count send ack at sink\n";
  exercise::RunOutputs run;
  run.output =
      "acknowledged packet 0 at 12.000000\n"
      "summary: data frames: 3 sent, 1 sent again, 1 lost\n"
      "summary: ACKs: 2 sent, 0 lost\n"
      "summary: delay from arrival to delivery: none delivered in order\n";
  run.trace =
      "clock,node,event,frame,sequence,packet\n"
      "1.000000,source,send,data,0,0\n"
      "5.000000,sink,deliver,data,0,0\n"
      "5.000000,sink,send,ack,0,0\n"
      "9.000000,source,resend,data,0,0\n"
      "12.000000,source,acknowledged,data,1,1\n"
      "13.000000,sink,deliver,data,0,0\n";
  run.stats = "timeouts,ber,duration\n7,,500\n";
  const char* const wanted[] = {"1",  "0", "none", "7",   "none", "1",
                                "12", "0", "none", "201", "1"};
  const int lines[] = {2, 3, 0, 0, 0, 5, 6, 7, 0, 0, 4};
  exercise::Exercise read;
  exercise::Problem problem;
  ASSERT_EQ(exercise::readExercise(text, &read, &problem), exercise::kDone)
      << problem.line << ": " << problem.message;
  exercise::Draw drawn;
  ASSERT_EQ(exercise::draw(read, "x", &drawn, &problem), exercise::kDone);
  std::vector<exercise::Expected> expected;
  ASSERT_EQ(exercise::expect(read, drawn, run, &expected, &problem),
            exercise::kDone)
      << problem.line << ": " << problem.message;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].text, wanted[i]) << "q" << i + 1;
    EXPECT_EQ(expected[i].line, lines[i]) << "q" << i + 1;
  }

  // A figure no run has is the exercise's mistake, not an answer of none.
  const std::string typo = kHead + "question: a\nanswer: summary timeout\n";
  ASSERT_EQ(exercise::readExercise(typo, &read, &problem), exercise::kDone);
  ASSERT_EQ(exercise::draw(read, "x", &drawn, &problem), exercise::kDone);
  EXPECT_EQ(exercise::expect(read, drawn, run, &expected, &problem),
            exercise::kRefused);
  EXPECT_EQ(problem.line, 4);
  EXPECT_EQ(problem.message,
            "the run's summary has no figure 'timeout' (it has data frames "
            "sent, data frames sent again, data frames lost, acks sent, acks "
            "lost)");
}

TEST(ExerciseTest, Formulas) {
  const struct {
    const char* text;
    double value;  // NaN: none
    const char* error;
  } cases[] = {
      {"1 + 2 * 3", 7, ""},
      {"2^3^2", 512, ""},
      {"-2^2", -4, ""},
      {"(1 - p)^2 / 2", 0.405, ""},
      {"max(p, 0.5, floor(2.5))", 2, ""},
      {"min(p, none)", NAN, ""},
      {"1 / 0", INFINITY, ""},
      {"2 *", 0, "the formula ends too soon"},
      {"1e", 0, "unexpected 'e' in the formula"},
      {"pow(2, 3)", 0,
       "no function pow (min, max, floor, ceil, abs and sqrt are)"},
      {"sqrt(1, 2)", 0, "sqrt takes one argument"},
      {"q + 1", 0, "no figure is named q"},
      {"((1)", 0, "a '(' in the formula is not closed"},
  };
  const exercise::Formula::Lookup lookup = [](const std::string& name,
                                              double* value) {
    if (name == "p") *value = 0.1;
    if (name == "none") *value = NAN;
    return name == "p" || name == "none";
  };
  for (const auto& c : cases) {
    exercise::Formula formula;
    std::string error;
    double value = 0;
    const bool ok = formula.parse(c.text, &error) &&
                    formula.evaluate(lookup, &value, &error);
    EXPECT_EQ(error, c.error) << c.text;
    if (!ok) continue;
    if (std::isnan(c.value)) {
      EXPECT_TRUE(std::isnan(value)) << c.text;
    } else {
      EXPECT_DOUBLE_EQ(value, c.value) << c.text;
    }
  }
  exercise::Formula deep;
  std::string error;
  EXPECT_FALSE(deep.parse(std::string(100000, '(') + "1", &error));
  EXPECT_EQ(error, "the formula nests too deeply");
}

}  // namespace

namespace {

exercise::Exercise readOrFail(const std::string& text) {
  exercise::Exercise read;
  exercise::Problem problem;
  EXPECT_EQ(exercise::readExercise(text, &read, &problem), exercise::kDone)
      << problem.line << ": " << problem.message;
  return read;
}

TEST(ExerciseTest, RangesAndListsGiveTheirTexts) {
  const struct {
    const char* values;
    long long size;
    const char* first;
    const char* last;
  } cases[] = {
      {"0.05 .. 0.3 by 0.05", 6, "0.05", "0.3"},
      {"1 .. 1000", 1000, "1", "1000"},
      {"-2 .. 2 by 1.5", 3, "-2", "1"},
      {"0.1 .. 0.1", 1, "0.1", "0.1"},
      {"3 | 5 | data:3,7 ack:2", 3, "3", "data:3,7 ack:2"},
      {"0.000001 .. 0.000003", 1, "0.000001", "0.000001"},
  };
  for (const auto& c : cases) {
    const exercise::Exercise read =
        readOrFail(kHead + "x = " + c.values + "\n" + kQuestion);
    ASSERT_EQ(read.values.size(), 1u) << c.values;
    const exercise::Choices& choices = read.values[0].choices;
    EXPECT_EQ(choices.size(), c.size) << c.values;
    EXPECT_EQ(choices.at(0), c.first) << c.values;
    EXPECT_EQ(choices.at(choices.size() - 1), c.last) << c.values;
  }
}

// Two students' values differ: over a class, nearly every tuple is its own.
TEST(ExerciseTest, StudentsDrawTheirOwnValues) {
  const exercise::Exercise read = readOrFail(
      kHead + "LINKSIM_LOSS = 0.05 .. 0.3 by 0.05\nLINKSIM_SEED = 1 .. 1000\n" +
      "Propagation Delay = 10 .. 40 by 5\n" + kQuestion);
  std::vector<std::string> seen;
  exercise::Problem problem;
  for (int i = 0; i < 300; ++i) {
    exercise::Draw drawn;
    ASSERT_EQ(exercise::draw(read, "s" + std::to_string(1000000 + i), &drawn,
                             &problem),
              exercise::kDone);
    const std::string tuple = drawn.values[0].text + "," +
                              drawn.values[1].text + "," + drawn.values[2].text;
    seen.push_back(tuple);
  }
  std::sort(seen.begin(), seen.end());
  const auto distinct = std::unique(seen.begin(), seen.end()) - seen.begin();
  EXPECT_GE(distinct, 295);
}

TEST(ExerciseTest, SheetAndKeyQuoteWhatTheyShow) {
  const exercise::Exercise read = readOrFail(
      kHead + "LINKSIM_DROP = data:3 ack:2\nBit Rate = 200\nk = 1 | 2\n" +
      "question: Lost {LINKSIM_DROP}, {{k}} = {k}?\nanswer: summary "
      "timeouts\n");
  exercise::Draw drawn;
  exercise::Problem problem;
  ASSERT_EQ(exercise::draw(read, "o'neil, *j*", &drawn, &problem),
            exercise::kDone);
  const std::string sheet = exercise::sheet(read, drawn);
  const char* const shown[] = {
      "Student: o'neil, \\*j\\*\n",
      "    LINKSIM_DROP='data:3 ack:2' linksim-arq link.txt\n",
      "    Propagation Delay 5\n    Processing Delay 1\n    Bit Rate 200\n",
      "1. Lost data:3 ack:2, {k} = ",
  };
  for (const char* text : shown) {
    EXPECT_NE(sheet.find(text), std::string::npos) << text << "\n" << sheet;
  }
  EXPECT_EQ(exercise::keyHeader(read), "student,k,q1\n");
  std::vector<exercise::Expected> expected(1);
  expected[0].text = "none";
  EXPECT_EQ(exercise::keyRow(read, drawn, expected),
            "\"o'neil, *j*\"," + drawn.values[2].text + ",none\n");
}

TEST(ExerciseTest, AnswersAreRightWithinTheirMargin) {
  const struct {
    double within;
    bool relative;
    bool none;  // the run has no such figure
    const char* answer;
    bool right;
  } cases[] = {
      {0, false, false, "12", true},
      {0, false, false, "12.0000000001", true},
      {0, false, false, "12.001", false},
      {0.01, false, false, "12.01", true},
      {0.01, false, false, "11.98", false},
      {0.02, true, false, "12.24", true},
      {0.02, true, false, "12.25", false},
      {0, false, false, "none", false},
      {0, false, true, "none", true},
      {0, false, true, "0", false},
      {0, false, false, "", false},
  };
  for (const auto& c : cases) {
    exercise::Question question;
    question.within = c.within;
    question.relative = c.relative;
    exercise::Expected expected;
    expected.none = c.none;
    expected.value = 12;
    std::vector<exercise::Answer> answers;
    exercise::Problem problem;
    ASSERT_EQ(exercise::readAnswers(c.answer, 1, &answers, &problem),
              exercise::kDone);
    EXPECT_EQ(exercise::isRight(question, expected, answers[0]), c.right)
        << c.answer << " within " << c.within;
  }
}

TEST(ExerciseTest, ReadsTheSummaryAndRefusesABrokenTrace) {
  exercise::Exercise read = readOrFail(
      kHead + "question: a\nanswer: summary misdelivered of delivered\n" +
      "question: b\nanswer: summary nak frames lost\n" +
      "question: c\nanswer: summary delay from arrival to delivery max\n");
  exercise::RunOutputs run;
  run.output =
      "summary: nak frames: 3 sent, 0 sent again, 2 lost\n"
      "summary: delay from arrival to delivery: none delivered\n"
      "summary: misdelivered: 3 of 40 delivered\n";
  exercise::Draw drawn;
  exercise::Problem problem;
  ASSERT_EQ(exercise::draw(read, "x", &drawn, &problem), exercise::kDone);
  std::vector<exercise::Expected> expected;
  ASSERT_EQ(exercise::expect(read, drawn, run, &expected, &problem),
            exercise::kDone)
      << problem.message;
  EXPECT_EQ(expected[0].text, "3");
  EXPECT_EQ(expected[1].text, "2");
  EXPECT_EQ(expected[2].text, "none");

  read = readOrFail(kHead + "question: a\nanswer: count send data\n");
  ASSERT_EQ(exercise::draw(read, "x", &drawn, &problem), exercise::kDone);
  const struct {
    const char* trace;
    const char* message;
  } traces[] = {
      {"", "the run's trace does not start with its header"},
      {"clock,node,event,frame,sequence,packet\n1.000000,source,send,data\n",
       "line 2 of the run's trace is no trace row"},
      {"clock,node,event,frame,sequence,packet\n1,middle,send,data,0,0\n",
       "line 2 of the run's trace is no trace row"},
      // A packet no whole number, or none a count could hold.
      {"clock,node,event,frame,sequence,packet\n1,source,send,data,0,1.5\n",
       "line 2 of the run's trace is no trace row"},
      {"clock,node,event,frame,sequence,packet\n1,source,send,data,1e300,0\n",
       "line 2 of the run's trace is no trace row"},
  };
  for (const auto& c : traces) {
    run.trace = c.trace;
    EXPECT_EQ(exercise::expect(read, drawn, run, &expected, &problem),
              exercise::kRefused)
        << c.trace;
    EXPECT_EQ(problem.message, c.message) << c.trace;
  }
}

TEST(ExerciseTest, JudgesARunByItsEnding) {
  const exercise::Exercise read = readOrFail(
      kHead + "LINKSIM_SEED = 3\nLINKSIM_ARQ = sliding-window\n" + kQuestion);
  const std::string ignored =
      "linksim: warning: LINKSIM_SEED is ignored: sliding-window does not "
      "read it";
  const struct {
    int status;
    std::string errors, output;
    int ran;
    std::string said;  // the problem, with its line, where not kRan
  } cases[] = {
      {0, "linksim: warning: odd\n", "summary: timeouts: 0\n", exercise::kRan,
       ""},
      {2, "linksim: LINKSIM_ARQ=x names no protocol\nmore\n", "",
       exercise::kRunRefused,
       "F:4: linksim-arq refuses the scenario drawn for s: linksim: "
       "LINKSIM_ARQ=x names no protocol"},
      {0, "linksim: warning: odd\n" + ignored + "\n", "summary: timeouts: 0\n",
       exercise::kRunRefused,
       "F:3: linksim-arq refuses the scenario drawn for s: " + ignored},
      {3, "linksim: Bit Rate 0 is rejected\n", "", exercise::kRunFailed,
       "F: cannot run the scenario drawn for s: linksim-arq's run failed "
       "(status 3): linksim: Bit Rate 0 is rejected"},
      {0, "", "acknowledged packet 0 at 1.000000\n", exercise::kRunFailed,
       "F: cannot run the scenario drawn for s: linksim-arq's run failed "
       "(status 0): it wrote no summary"},
  };
  for (const auto& c : cases) {
    exercise::RunOutputs run;
    run.output = c.output;
    std::string error;
    EXPECT_EQ(exercise::judgeRun(c.status, c.errors, run, &error), c.ran)
        << c.errors;
    if (c.ran == exercise::kRan) continue;
    EXPECT_EQ(exercise::problemText(
                  "F", exercise::runProblem(read, "s", c.ran, error)),
              c.said)
        << c.errors;
  }
}

}  // namespace
