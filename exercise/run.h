#ifndef LINKSIM_EXERCISE_RUN_H_
#define LINKSIM_EXERCISE_RUN_H_

// Runs a scenario with linksim-arq, the one part of linksim-exercise that
// starts a process and writes files: the settings file, the trace and the
// stats go to a private temporary directory, removed after the run.
// linksim-arq runs the settings file it is given once (linksim-arq FILE),
// writing the run's lines alone on standard output: its acknowledged lines
// and its summary, the text expect() reads.
//
// The child's environment is the command's own without any LINKSIM_
// variable, which would run another experiment than the exercise's, plus
// the scenario's variables and LINKSIM_TRACE and LINKSIM_STATS. It runs for
// at most kRunSeconds, writes files of at most kRunFileBytes, and is ended
// with the command if the command is interrupted or ended meanwhile.

#include <string>
#include <utility>
#include <vector>

#include "exercise.h"

namespace exercise {

/// The longest a run may take, in seconds, and the largest file it may
/// write: an exercise is untrusted, and neither may end a grading in a
/// hang or a full disk.
constexpr int kRunSeconds = 60;
constexpr long long kRunFileBytes = 1LL << 28;

/// Results of runArq.
constexpr int kRan = 0;         ///< `*outputs` holds what the run wrote
constexpr int kRunFailed = 1;   ///< `*error` says why there is no run
constexpr int kRunRefused = 2;  ///< linksim-arq refused a variable

/// The linksim-arq a run starts: LINKSIM_ARQ_PROGRAM where set, else the
/// one in the directory of the running program (`argv0` where
/// /proc/self/exe cannot be read).
std::string arqProgram(const char* argv0);

/// Runs `settings` (a settings file's text) with `variables` in `program`,
/// once. kRunRefused leaves linksim-arq's refusal in `*error`, naming the
/// variable.
int runArq(const std::string& program, const std::string& settings,
           const std::vector<std::pair<std::string, std::string>>& variables,
           RunOutputs* outputs, std::string* error);

}  // namespace exercise

#endif  // LINKSIM_EXERCISE_RUN_H_
