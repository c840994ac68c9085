// Line reader and tokenizer: arbitrary text and delimiter set.
//
// Input layout: byte 0 picks the maximum line length, byte 1 the number of
// delimiter bytes that follow, the rest is the text.
//
// Tokenizer properties, on the text up to its first NUL (the functions take
// C strings) and on every line the reader returns: tokenCount equals the
// number of tokens parseLine returns; no token is empty or holds a delimiter;
// the tokens in order are exactly the maximal runs of non-delimiters.
//
// Reader properties, on the whole text as a file: the lines come back as the
// text split at its newlines, each line longer than maxLength in pieces of
// maxLength (the character that does not fit begins the next piece, a
// newline right after a full piece is consumed by it), a final newline adds
// no empty line, NUL bytes are ordinary characters, every line is
// NUL-terminated, and the reader says of each piece whether its line ended
// with it. Joining the lines with newlines, pieces of one line without
// them, gives the text back. After the last line, null, and null again.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "console/fgetline.h"
#include "fuzz_support.h"
#include "simulator/lineutil.h"

namespace {

std::vector<std::string> runsOfNonDelimiters(const char* text,
                                             const std::string& delimiters) {
  std::vector<std::string> runs;
  std::string run;
  for (const char* p = text; *p != '\0'; ++p) {
    if (delimiters.find(*p) != std::string::npos) {
      if (!run.empty()) runs.push_back(run);
      run.clear();
    } else {
      run += *p;
    }
  }
  if (!run.empty()) runs.push_back(run);
  return runs;
}

void checkTokens(const char* text, const std::string& delimiters) {
  const std::vector<std::string> expected =
      runsOfNonDelimiters(text, delimiters);
  const int count = tokenCount(text, delimiters.c_str());
  FUZZ_CHECK(count == static_cast<int>(expected.size()));
  const TokenList tokens = parseLine(text, delimiters.c_str());
  FUZZ_CHECK((tokens == nullptr) == expected.empty());
  for (int i = 0; i < count; ++i) {
    const char* token = tokens[i].get();
    FUZZ_CHECK(token != nullptr && token[0] != '\0');
    FUZZ_CHECK(std::strpbrk(token, delimiters.c_str()) == nullptr);
    FUZZ_CHECK(expected[i] == token);
  }
}

/// The pieces fgetLine should return for `text` read as a file, each with
/// whether its line ends with it.
std::vector<std::pair<std::string, bool>> expectedLines(const std::string& text,
                                                        size_t maxLength) {
  std::vector<std::pair<std::string, bool>> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    const bool newline = end != std::string::npos;
    if (!newline) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.empty()) {
      lines.emplace_back("", true);  // only reached with a newline after it
    }
    for (size_t piece = 0; piece < line.size(); piece += maxLength) {
      lines.emplace_back(line.substr(piece, maxLength),
                         piece + maxLength >= line.size());
    }
    start = newline ? end + 1 : end;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = scratchDir() + "/lines.txt";
  if (size < 2) return 0;
  // Mostly short limits, to split lines often; the high values give the
  // loader's own 255.
  const int maxLength = data[0] >= 240 ? 255 : 1 + data[0] % 16;
  const size_t delimiterBytes = data[1] % 5;
  if (size < 2 + delimiterBytes) return 0;
  std::string delimiters;
  for (size_t i = 0; i < delimiterBytes; ++i) {
    // A NUL would only end the set early.
    if (data[2 + i] != 0) delimiters += static_cast<char>(data[2 + i]);
  }
  const std::string text(
      reinterpret_cast<const char*>(data) + 2 + delimiterBytes,
      size - 2 - delimiterBytes);

  checkTokens(text.c_str(), delimiters);

  writeFile(path, text);
  FILE* file = std::fopen(path.c_str(), "rb");
  FUZZ_CHECK(file != nullptr);
  // Refused limits read nothing.
  FUZZ_CHECK(fgetLine(0, file) == nullptr);
  FUZZ_CHECK(fgetLine(-1, file) == nullptr);
  FUZZ_CHECK(fgetLine(maxLength, nullptr) == nullptr);

  // `joined` rebuilds the text from the lines; a newline goes between two
  // lines wherever the reader consumed one, not between pieces of one line.
  std::string joined;
  bool newlineConsumed = false;
  for (const auto& [expected, expectedEnded] : expectedLines(text, maxLength)) {
    bool ended = !expectedEnded;
    const std::unique_ptr<char[]> line = fgetLine(maxLength, file, &ended);
    FUZZ_CHECK(line != nullptr);
    FUZZ_CHECK(ended == expectedEnded);
    FUZZ_CHECK(std::memcmp(line.get(), expected.data(), expected.size()) == 0);
    FUZZ_CHECK(line[expected.size()] == '\0');
    checkTokens(line.get(), delimiters);
    if (newlineConsumed) joined += '\n';
    joined.append(line.get(), expected.size());
    newlineConsumed =
        joined.size() < text.size() && text[joined.size()] == '\n';
  }
  bool ended = false;
  FUZZ_CHECK(fgetLine(maxLength, file, &ended) == nullptr && ended);
  FUZZ_CHECK(fgetLine(maxLength, file) == nullptr);
  std::fclose(file);
  if (newlineConsumed) joined += '\n';  // the final newline adds no line
  FUZZ_CHECK(joined == text);
  return 0;
}
