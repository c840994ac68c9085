#ifndef LINKSIM_SIMULATOR_LINEUTIL_H_
#define LINKSIM_SIMULATOR_LINEUTIL_H_

#include <memory>

/// A token list: separately allocated NUL-terminated copies, in order. It
/// carries no count; the count is tokenCount() of the same arguments.
using TokenList = std::unique_ptr<std::unique_ptr<char[]>[]>;

// Both functions split `text` the way strtok does: every character of
// `delimiters` separates tokens, runs of them count as one, delimiters at
// either end produce nothing, and no token is empty. Neither changes `text`;
// neither argument may be null.

/// The number of tokens in `text`; 0 when there are none.
int tokenCount(const char* text, const char* delimiters);

/// The tokens of `text`; null when there are none.
TokenList parseLine(const char* text, const char* delimiters);

#endif  // LINKSIM_SIMULATOR_LINEUTIL_H_
