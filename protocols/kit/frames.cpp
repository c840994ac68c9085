#include "frames.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "trace_format.h"

namespace kit {

std::string frameRefusal(char type, const char* name, FrameRefusal why) {
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
  char kind[16];
  if (std::isprint(shown) != 0) {
    std::snprintf(kind, sizeof kind, "'%c'", type);
  } else {
    std::snprintf(kind, sizeof kind, "%d", shown);
  }
  return std::string("the frame kind ") + kind + " named \"" +
         (name != nullptr ? name : "") + "\" cannot be declared: " + reason;
}

}  // namespace kit
