#include "outofline_hooks.h"

__attribute__((noinline)) int outOfLineGeneratePackets(Node& /*node*/) {
  return 1;
}

__attribute__((noinline)) int outOfLineSendPackets(Node& /*node*/) { return 1; }
