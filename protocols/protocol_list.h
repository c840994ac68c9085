#ifndef LINKSIM_PROTOCOLS_PROTOCOL_LIST_H_
#define LINKSIM_PROTOCOLS_PROTOCOL_LIST_H_

// The shipped protocols, one line each: X(FILE), the protocol's source
// protocols/FILE.cpp, which ends with LINKSIM_SHIPPED_PROTOCOL(FILE, Class)
// (kit/hooks.h), its hooks in protocols::FILE, and names it FILE with '-'
// for '_' (go_back_n is go-back-n). The first is the one linksim-arq runs
// when LINKSIM_ARQ is unset. CMakeLists.txt reads these lines too:
// linksim-arq's sources, the program of each protocol alone, and the
// protocols the tests sweep all come from them, and a test holds the
// per-protocol presets of CMakePresets.json to them. Adding a protocol is
// adding its line.

// clang-format off
#define LINKSIM_PROTOCOLS(X) \
  X(stop_and_wait)           \
  X(go_back_n)               \
  X(selective_repeat)        \
  X(sliding_window)
// clang-format on

#endif  // LINKSIM_PROTOCOLS_PROTOCOL_LIST_H_
