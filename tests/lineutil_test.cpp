#include "simulator/lineutil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const char* text, const char* delimiters) {
  const int count = tokenCount(text, delimiters);
  const TokenList tokens = parseLine(text, delimiters);
  std::vector<std::string> result;
  for (int i = 0; i < count; ++i) result.emplace_back(tokens[i].get());
  return result;
}

using Tokens = std::vector<std::string>;

TEST(LineUtilTest, SplitsLikeStrtok) {
  const struct {
    const char* text;
    const char* delimiters;
    Tokens tokens;
  } cases[] = {
      {"  Bit   Rate 10", " ", {"Bit", "Rate", "10"}},
      {"Bit\tRate", " ", {"Bit\tRate"}},
      {"one", " ", {"one"}},
      {"a,b;;c,", ",;", {"a", "b", "c"}},
      {"Rate 9\r", " ", {"Rate", "9\r"}},
      {"abc", "", {"abc"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.tokens, split(c.text, c.delimiters)) << '"' << c.text << '"';
  }
}

TEST(LineUtilTest, NoTokensGivesZeroAndNull) {
  for (const char* text : {"", " ", "    "}) {
    EXPECT_EQ(0, tokenCount(text, " ")) << '"' << text << '"';
    EXPECT_EQ(nullptr, parseLine(text, " ")) << '"' << text << '"';
  }
}

TEST(LineUtilTest, LeavesTheTextUnchanged) {
  char text[] = " a b ";
  parseLine(text, " ");
  tokenCount(text, " ");
  EXPECT_STREQ(" a b ", text);
}

}  // namespace
