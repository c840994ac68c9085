#include "text.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "exercise.h"
#include "kit/variables.h"

namespace exercise {

// The kit's readers take C strings, so a NUL inside `text` would end it
// early: such a text is refused here instead.
bool allDigits(const std::string& text) {
  return text.find('\0') == std::string::npos && kit::allDigits(text.c_str());
}

bool readDecimal(const std::string& text, double* value) {
  return text.find('\0') == std::string::npos &&
         kit::readDecimal(text.c_str(), value);
}

bool readWhole(const std::string& text, long long* value) {
  double number = 0.0;
  if (!readDecimal(text, &number) || number != std::floor(number) ||
      std::fabs(number) > 9e15) {
    return false;
  }
  *value = static_cast<long long>(number);
  return true;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  const std::size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string shortened(const std::string& text) {
  if (text.size() <= 40) return text;
  // Cut before a byte that continues a UTF-8 character, not inside one.
  std::size_t cut = 40;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  return text.substr(0, cut) + "...";
}

std::vector<std::string> splitWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool braced = false;
  for (const char c : text) {
    if (!braced && (c == ' ' || c == '\t')) {
      if (!word.empty()) words.push_back(word);
      word.clear();
      continue;
    }
    if (c == '{') braced = true;
    if (c == '}') braced = false;
    word += c;
  }
  if (!word.empty()) words.push_back(word);
  return words;
}

std::string collapsedSpaces(const std::string& text) {
  std::string out;
  for (const std::string& word : splitWords(text)) {
    out += out.empty() ? word : " " + word;
  }
  return out;
}

std::string normalizedFigure(const std::string& text) {
  std::string out;
  std::string word;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const char c = i < text.size() ? text[i] : ' ';
    if (c == ' ' || c == '\t') {
      if (!word.empty()) out += out.empty() ? word : " " + word;
      word.clear();
    } else {
      word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string csvField(const std::string& text) {
  const bool quote =
      text.find_first_of(",\"\r\n") != std::string::npos ||
      (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!quote) return text;
  std::string out = "\"";
  for (const char c : text) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string formatNumber(double value) {
  if (value == 0.0) return "0";  // and -0, which is no other answer
  char digits[40];
  if (std::fabs(value) < 1e15 && value == std::floor(value)) {
    std::snprintf(digits, sizeof digits, "%.0f", value);
  } else {
    std::snprintf(digits, sizeof digits, "%.15g", value);
  }
  return digits;
}

std::string tolerance(const Question& question) {
  if (question.within <= 0.0) return std::string();
  return "within " + (question.relative
                          ? formatNumber(question.within * 100.0) + "%"
                          : formatNumber(question.within));
}

int checkText(const std::string& text, Problem* problem) {
  int line = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++line;
      continue;
    }
    if ((c < 0x20 && c != '\t' && c != '\r') || c == 0x7f) {
      char byte[8];
      std::snprintf(byte, sizeof byte, "0x%02x", c);
      problem->line = line;
      problem->message = std::string("not a text file: it holds the byte ") +
                         byte + ", a control character";
      return kRefused;
    }
    if (c < 0x80) continue;
    // UTF-8: a lead byte, then 1 to 3 bytes of 10xxxxxx, in the fewest
    // bytes, never a surrogate or past U+10FFFF.
    int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
    if (c > 0xF4) more = -1;
    unsigned code = c & (0x3F >> (more > 0 ? more : 0));
    bool valid = more > 0 && i + more < text.size() + 0;
    for (int k = 1; valid && k <= more; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    valid =
        valid &&
        !(more == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) &&
        !(more == 3 && (code < 0x10000 || code > 0x10FFFF));
    if (!valid) {
      problem->line = line;
      problem->message = "not a text file: it is not UTF-8";
      return kRefused;
    }
    i += more;
  }
  return kDone;
}

std::string firstLine(const std::string& text, const char* otherwise) {
  const std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? otherwise : line;
}

}  // namespace exercise
