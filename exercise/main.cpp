// linksim-exercise: the sheet a student is handed, the grading of the
// student's answers from a run of linksim-arq, and the class's key.
//
//   linksim-exercise sheet EXERCISE STUDENT
//   linksim-exercise grade EXERCISE STUDENT ANSWERS
//   linksim-exercise key EXERCISE STUDENTS
//
// Exit status: 0 done (for grade, every answer right), 1 some answer wrong
// (grade), 2 a file it cannot read or that is not what it must be (one line
// on standard error naming the file and the line), a run that fails, a
// command line it cannot use, or output it cannot write. SIGPIPE is
// ignored, so a reader that leaves is a write error, said, not a silent end.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "exercise.h"
#include "run.h"

namespace {

constexpr int kAllRight = 0;   ///< done; for grade, every answer right
constexpr int kSomeWrong = 1;  ///< grade: an answer wrong or left out
constexpr int kCannot = 2;     ///< bad input, a failed run or lost output

constexpr const char* kUsage =
    "usage: linksim-exercise sheet EXERCISE STUDENT\n"
    "       linksim-exercise grade EXERCISE STUDENT ANSWERS\n"
    "       linksim-exercise key EXERCISE STUDENTS\n"
    "sheet writes STUDENT's sheet (Markdown): the scenario with the values\n"
    "drawn for that identifier, the settings file to load, the questions.\n"
    "grade runs the scenario with linksim-arq and grades ANSWERS (one answer\n"
    "a line, a blank line for one left out): each right or wrong, the answer\n"
    "expected and where it comes from, and the score.\n"
    "key writes the class's key as CSV, a row for each identifier in\n"
    "STUDENTS (one a line).\n"
    "Exit status: 0 done (grade: all right), 1 some answer wrong, 2 a file\n"
    "it cannot read, a failed run, or a bad command line.\n"
    "The sets that ship, and how to write an exercise: man linksim-exercise.\n";

const char* program = "linksim-exercise";

/// Says `message` about `file` (and `line`, where not 0) on standard error.
int refuse(const std::string& file, int line, const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", program,
               exercise::problemText(file, {line, message}).c_str());
  return kCannot;
}

/// Reads the regular file `path` whole into `*text`, refusing what is no
/// such file or larger than the readers take: false, said, otherwise.
bool readInput(const std::string& path, std::string* text) {
  // O_NONBLOCK: a FIFO with no writer must not hold the command.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    refuse(path, 0, std::string("cannot read: ") + std::strerror(errno));
    return false;
  }
  struct stat file {};
  bool ok = fstat(fd, &file) == 0;
  if (!ok) {
    refuse(path, 0, std::string("cannot read: ") + std::strerror(errno));
  } else if (S_ISDIR(file.st_mode)) {
    ok = false;
    refuse(path, 0, "cannot read: it is a directory");
  } else if (!S_ISREG(file.st_mode)) {
    ok = false;
    refuse(path, 0, "cannot read: it is not a regular file");
  } else if (file.st_size > static_cast<off_t>(exercise::kMaxFileBytes)) {
    ok = false;
    refuse(path, 0,
           "too large: more than " + std::to_string(exercise::kMaxFileBytes) +
               " bytes");
  }
  text->clear();
  char buffer[1 << 16];
  while (ok) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ok = false;
      refuse(path, 0, std::string("cannot read: ") + std::strerror(errno));
    } else if (got == 0) {
      break;
    } else if (text->size() + static_cast<std::size_t>(got) >
               exercise::kMaxFileBytes) {
      ok = false;  // it grew since fstat
      refuse(path, 0,
             "too large: more than " + std::to_string(exercise::kMaxFileBytes) +
                 " bytes");
    } else {
      text->append(buffer, static_cast<std::size_t>(got));
    }
  }
  close(fd);
  return ok;
}

/// True when standard output took everything written to it; false, said.
bool flushed(const char* what) {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
  std::fprintf(stderr, "%s: cannot write the %s: %s\n", program, what,
               std::strerror(errno));
  return false;
}

/// The exercise, read: false, said, where it is not one.
bool loadExercise(const std::string& path, exercise::Exercise* read) {
  std::string text;
  if (!readInput(path, &text)) return false;
  exercise::Problem problem;
  if (exercise::readExercise(text, read, &problem) != exercise::kDone) {
    refuse(path, problem.line, problem.message);
    return false;
  }
  return true;
}

/// The student's identifier, as every command takes it: false, said, for
/// one that is empty.
bool identifier(const char* given, std::string* student) {
  *student = exercise::trimmed(given);
  if (student->empty()) {
    std::fprintf(stderr, "%s: the student's identifier is empty\n", program);
    return false;
  }
  return true;
}

/// Runs `student`'s scenario and reads each question's answer from it;
/// runs with the same settings and variables are made once.
class Grader {
 public:
  Grader(const std::string& path, const exercise::Exercise& read,
         std::string arq)
      : path(path), read(read), arq(std::move(arq)) {}

  /// False, said, where the scenario cannot be drawn or run.
  bool expect(const std::string& student, exercise::Draw* drawn,
              std::vector<exercise::Expected>* expected) {
    exercise::Problem problem;
    if (exercise::draw(read, student, drawn, &problem) != exercise::kDone) {
      refuse(path, problem.line, problem.message + " (for " + student + ")");
      return false;
    }
    const std::string settings = exercise::settingsText(*drawn);
    const auto set = exercise::variables(*drawn);
    std::string scenario = settings;
    for (const auto& variable : set) {
      scenario += variable.first + "=" + variable.second + "\n";
    }
    auto known = runs.find(scenario);
    if (known == runs.end()) {
      exercise::RunOutputs outputs;
      std::string error;
      const int ran = exercise::runArq(arq, settings, set, &outputs, &error);
      if (ran != exercise::kRan) {
        problem = exercise::runProblem(read, student, ran, error);
        refuse(path, problem.line, problem.message);
        return false;
      }
      // Only the last run's outputs are kept: a key's students come in no
      // order, and a class's runs would not all fit in memory.
      runs.clear();
      known = runs.emplace(scenario, std::move(outputs)).first;
    }
    if (exercise::expect(read, *drawn, known->second, expected, &problem) !=
        exercise::kDone) {
      refuse(path, problem.line, problem.message + " (for " + student + ")");
      return false;
    }
    return true;
  }

 private:
  const std::string& path;
  const exercise::Exercise& read;
  const std::string arq;
  std::map<std::string, exercise::RunOutputs> runs;
};

int sheet(const std::string& path, const char* given) {
  exercise::Exercise read;
  std::string student;
  if (!loadExercise(path, &read) || !identifier(given, &student)) {
    return kCannot;
  }
  exercise::Draw drawn;
  exercise::Problem problem;
  if (exercise::draw(read, student, &drawn, &problem) != exercise::kDone) {
    return refuse(path, problem.line, problem.message);
  }
  std::fputs(exercise::sheet(read, drawn).c_str(), stdout);
  return flushed("sheet") ? kAllRight : kCannot;
}

int grade(const std::string& path, const char* given,
          const std::string& answersPath, const std::string& arq) {
  exercise::Exercise read;
  std::string student;
  std::string text;
  if (!loadExercise(path, &read) || !identifier(given, &student) ||
      !readInput(answersPath, &text)) {
    return kCannot;
  }
  std::vector<exercise::Answer> answers;
  exercise::Problem problem;
  if (exercise::readAnswers(text, read.questions.size(), &answers, &problem) !=
      exercise::kDone) {
    return refuse(answersPath, problem.line, problem.message);
  }
  Grader grader(path, read, arq);
  exercise::Draw drawn;
  std::vector<exercise::Expected> expected;
  if (!grader.expect(student, &drawn, &expected)) return kCannot;
  const exercise::Graded graded = exercise::grade(read, expected, answers);
  std::fputs(graded.report.c_str(), stdout);
  if (!flushed("grading")) return kCannot;
  return graded.right == read.questions.size() ? kAllRight : kSomeWrong;
}

int key(const std::string& path, const std::string& studentsPath,
        const std::string& arq) {
  exercise::Exercise read;
  std::string text;
  if (!loadExercise(path, &read) || !readInput(studentsPath, &text)) {
    return kCannot;
  }
  exercise::Problem problem;
  if (exercise::checkText(text, &problem) != exercise::kDone) {
    return refuse(studentsPath, problem.line, problem.message);
  }
  std::fputs(exercise::keyHeader(read).c_str(), stdout);
  Grader grader(path, read, arq);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string student =
        exercise::trimmed(text.substr(start, end - start));
    start = end + 1;
    if (student.empty()) continue;
    exercise::Draw drawn;
    std::vector<exercise::Expected> expected;
    if (!grader.expect(student, &drawn, &expected)) return kCannot;
    std::fputs(exercise::keyRow(read, drawn, expected).c_str(), stdout);
    // A reader that has left ends the key here, not after every run.
    if (std::ferror(stdout) != 0) break;
  }
  return flushed("key") ? kAllRight : kCannot;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that leaves must be a write error, said, not a silent end.
  signal(SIGPIPE, SIG_IGN);
  const std::string command = argc > 1 ? argv[1] : "";
  if (argc == 2 && (command == "--help" || command == "-h")) {
    std::fputs(kUsage, stdout);
    return flushed("usage") ? kAllRight : kCannot;
  }
  if (command == "sheet" && argc == 4) return sheet(argv[2], argv[3]);
  if (command == "grade" && argc == 5) {
    return grade(argv[2], argv[3], argv[4], exercise::arqProgram(argv[0]));
  }
  if (command == "key" && argc == 4) {
    return key(argv[2], argv[3], exercise::arqProgram(argv[0]));
  }
  if (command != "sheet" && command != "grade" && command != "key" &&
      !command.empty()) {
    std::fprintf(stderr, "%s: no command %s\n", program, command.c_str());
  } else if (!command.empty()) {
    std::fprintf(stderr, "%s: %s takes %s\n", program, command.c_str(),
                 command == "grade" ? "EXERCISE STUDENT ANSWERS"
                 : command == "key" ? "EXERCISE STUDENTS"
                                    : "EXERCISE STUDENT");
  }
  std::fputs(kUsage, stderr);
  return kCannot;
}
