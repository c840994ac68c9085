#include "frames.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "environment.h"
#include "trace_format.h"

namespace kit {

void refuseFrame(char type, const char* name, FrameRefusal why) {
  char most[64];
  std::snprintf(most, sizeof most,
                "a trace holds at most %d kinds, data and ack among them",
                kMaxFrameKinds);
  const char* reason = "";
  switch (why) {
    case FrameRefusal::kBadName:
      reason =
          "its name must be a lowercase letter, then lowercase letters, "
          "digits, '_' or '-'";
      break;
    case FrameRefusal::kNoSize:
      reason = "it has no size";
      break;
    case FrameRefusal::kOtherSize:
      reason = "it is declared already, with another size";
      break;
    case FrameRefusal::kTypeTaken:
      reason = "another kind has its type";
      break;
    case FrameRefusal::kNameTaken:
      reason = "another kind has its name";
      break;
    case FrameRefusal::kTooMany:
      reason = most;
      break;
  }
  const auto shown = static_cast<unsigned char>(type);
  if (std::isprint(shown) != 0) {
    std::fprintf(
        stderr,
        "linksim: the frame kind '%c' named \"%s\" cannot be declared: %s\n",
        type, name != nullptr ? name : "", reason);
  } else {
    std::fprintf(
        stderr,
        "linksim: the frame kind %d named \"%s\" cannot be declared: %s\n",
        shown, name != nullptr ? name : "", reason);
  }
  std::exit(kRefusedStatus);
}

}  // namespace kit
