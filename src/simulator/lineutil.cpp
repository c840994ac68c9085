#include "simulator/lineutil.h"

#include <cassert>
#include <cstring>

namespace {

bool isDelimiter(char c, const char* delimiters) {
  // strchr would also find the terminator, which is never a delimiter.
  return c != '\0' && std::strchr(delimiters, c) != nullptr;
}

/// Finds the token at or after `*cursor`; false when there is none. On
/// success the token is [*start, *cursor).
bool nextToken(const char** cursor, const char* delimiters,
               const char** start) {
  const char* p = *cursor;
  while (isDelimiter(*p, delimiters)) ++p;
  if (*p == '\0') return false;
  *start = p;
  while (*p != '\0' && !isDelimiter(*p, delimiters)) ++p;
  *cursor = p;
  return true;
}

}  // namespace

int tokenCount(const char* text, const char* delimiters) {
  assert(text != nullptr && delimiters != nullptr);
  int count = 0;
  const char* start = nullptr;
  while (nextToken(&text, delimiters, &start)) ++count;
  return count;
}

TokenList parseLine(const char* text, const char* delimiters) {
  const int count = tokenCount(text, delimiters);
  if (count <= 0) return nullptr;
  TokenList tokens(new std::unique_ptr<char[]>[count]);
  const char* start = nullptr;
  for (int i = 0; i < count && nextToken(&text, delimiters, &start); ++i) {
    const size_t length = static_cast<size_t>(text - start);
    tokens[i].reset(new char[length + 1]);
    std::memcpy(tokens[i].get(), start, length);
    tokens[i][length] = '\0';
  }
  return tokens;
}
