#ifndef LINKSIM_BENCH_OUTOFLINE_HOOKS_H_
#define LINKSIM_BENCH_OUTOFLINE_HOOKS_H_

#include "simulator/Node.h"

// Empty hooks that the compiler cannot look into: compiled in their own file
// without link-time optimisation, and marked noinline besides.
int outOfLineGeneratePackets(Node& node);
int outOfLineSendPackets(Node& node);

#endif  // LINKSIM_BENCH_OUTOFLINE_HOOKS_H_
