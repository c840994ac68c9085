#ifndef LINKSIM_PROTOCOLS_KIT_ENVIRONMENT_H_
#define LINKSIM_PROTOCOLS_KIT_ENVIRONMENT_H_

// Reading the variables of kit/variables.h as a protocol starts and as
// each run starts, and refusing what a protocol cannot use. A value a
// protocol cannot use is refused where it starts, before it writes a line:
// the program's entry says the refusal on standard error, naming the
// variable and what it accepts, and ends with status 2. A guess would run a
// different experiment than the one asked for. A protocol reads only the
// variables that mean something to it; any other LINKSIM_ variable draws a
// warning at start, since a misspelled one would otherwise run the
// experiment without it.
//
// How the losses combine. LINKSIM_LOSS or LINKSIM_BER (not both) loses
// frames by the frame or by the bit; LINKSIM_ACK_LOSS, where set, is the
// loss of every frame the sink sends (its ACKs and any kind of its own),
// per frame, in place of theirs, beside either: so LINKSIM_BER with
// LINKSIM_ACK_LOSS=0 loses data frames by their bits and no ACK. With
// LINKSIM_BURST each direction is a chain of its own, whose long-run loss is
// LINKSIM_LOSS for the data and LINKSIM_ACK_LOSS (else LINKSIM_LOSS) for the
// ACKs, both in runs of mean LINKSIM_BURST. LINKSIM_DROP loses the frames it
// names on top of whatever the others lose, which draw as they would
// without it.

#include <string>
#include <utility>

#include "variables.h"

namespace kit {

/// A variable the program reads beside the kit's (linksim-arq's
/// LINKSIM_ARQ, set when it starts its protocol); null for none.
const char*& programVariable();

/// `path`'s directory and its last name there: "." and the path itself for
/// a path without '/', "/" for a name just under the root.
std::pair<std::string, std::string> splitPath(const char* path);

/// Whether `path`, the value of `variable` (LINKSIM_TRACE or
/// LINKSIM_STATS), can be a file for a run's rows: a file that can be
/// written, or a missing one that its directory lets the run create; false,
/// with `*error` why not. It is neither created nor changed: only a run that
/// writes it does that. The open does not wait: a FIFO that no process reads
/// would hold it for ever. Standard output cannot be one: the rows would cut
/// into its lines, and their writes overwrite each other. `*held` keeps a FIFO
/// open.
bool rowsFile(const char* variable, const char* path, int* held,
              std::string* error);

/// True when `one` and `other` name one file, as they are or once a run
/// creates them, however they are spelled ("t", "./t", a link).
bool sameFile(const char* one, const char* other);

/// Reads the variables in `reads` (kReads bits), LINKSIM_TRACE and
/// LINKSIM_STATS from variables() into `*settings`, keeping its window
/// where LINKSIM_WINDOW is unset. False, leaving `*settings` as it was,
/// with `*error` the refusal of the first variable that holds no value the
/// protocol can use, alone or beside the others.
bool readSettings(unsigned reads, Settings* settings, std::string* error);

/// Says on standard error, one line each, which LINKSIM_ variables the
/// protocol `name` does not read (those outside `reads`, as `settings`
/// make use of them) and which no part of the program reads at all: the
/// run goes on without them.
void warnUnread(const char* name, unsigned reads, const Settings& settings);

/// The settings when the protocol `name`, which reads the variables in
/// `reads`, starts: false, with `*error` the refusal, where a variable
/// holds no value it can use; one it does not read is warned of. From then
/// on SIGPIPE is ignored, unless the program was started with a handler
/// for it: a write to a pipe or FIFO whose reader has gone fails, and is
/// said, instead of ending the program.
bool startSettings(const char* name, unsigned reads, Settings* settings,
                   std::string* error);

/// Reads the settings again as a run starts, so that a test can change
/// them between runs. A value gone bad since is said on standard error as
/// a warning, and the run keeps the settings it had.
void rereadSettings(unsigned reads, Settings* settings);

}  // namespace kit

#endif  // LINKSIM_PROTOCOLS_KIT_ENVIRONMENT_H_
