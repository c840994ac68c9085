#include "console/fgetline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

/// The lines fgetLine yields for `content` until it returns null.
std::vector<std::string> readLines(const std::string& content,
                                   int maxLength = 255) {
  ScopedTempDir dir;
  FILE* file = std::fopen(dir.writeFile("f", content).c_str(), "r");
  std::vector<std::string> lines;
  while (std::unique_ptr<char[]> line = fgetLine(maxLength, file)) {
    lines.emplace_back(line.get());
  }
  std::fclose(file);
  return lines;
}

using Lines = std::vector<std::string>;

TEST(FgetLineTest, ReadsLinesUntilTheEnd) {
  EXPECT_EQ(Lines({"a", "", "b"}), readLines("a\n\nb\n"));
  EXPECT_EQ(Lines({"a", "last"}), readLines("a\nlast"));
  EXPECT_EQ(Lines(), readLines(""));
  EXPECT_EQ(Lines({""}), readLines("\n"));
  EXPECT_EQ(Lines({"x\r", "y\xff"}), readLines("x\r\ny\xff\n"));
}

TEST(FgetLineTest, LineOfExactlyMaxLengthComesBackWhole) {
  const std::string full(255, 'k');
  EXPECT_EQ(Lines({full, "next"}), readLines(full + "\nnext\n"));
}

TEST(FgetLineTest, LongerLineComesBackInPiecesWithNothingDropped) {
  EXPECT_EQ(Lines({"abc", "def", "g", "h"}), readLines("abcdefg\nh\n", 3));
  EXPECT_EQ(Lines({"abc", "d"}), readLines("abcd", 3));
}

TEST(FgetLineTest, BadArgumentsGiveNull) {
  EXPECT_EQ(nullptr, fgetLine(255, nullptr));
  ScopedTempDir dir;
  FILE* file = std::fopen(dir.writeFile("f", "abc\n").c_str(), "r");
  EXPECT_EQ(nullptr, fgetLine(0, file));
  EXPECT_EQ(nullptr, fgetLine(-1, file));
  std::fclose(file);
}

TEST(FgetLineTest, UnreadableFileEndsAtOnce) {
  ScopedTempDir dir;
  FILE* file = std::fopen(dir.path().c_str(), "r");  // a directory
  ASSERT_NE(nullptr, file);
  EXPECT_EQ(nullptr, fgetLine(255, file));
  std::fclose(file);
}

}  // namespace
