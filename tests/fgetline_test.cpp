#include "console/fgetline.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

/// What fgetLine yields for `content` until it returns null: each piece, and
/// whether its line ended with it.
using Pieces = std::vector<std::pair<std::string, bool>>;
Pieces readPieces(const std::string& content, int maxLength) {
  ScopedTempDir dir;
  FILE* file = std::fopen(dir.writeFile("f", content).c_str(), "r");
  Pieces pieces;
  bool ended = false;
  while (std::unique_ptr<char[]> line = fgetLine(maxLength, file, &ended)) {
    pieces.emplace_back(line.get(), ended);
    ended = false;
  }
  EXPECT_TRUE(ended) << content;  // also at the end of the file
  std::fclose(file);
  return pieces;
}

/// The lines fgetLine yields for `content` until it returns null.
std::vector<std::string> readLines(const std::string& content,
                                   int maxLength = 255) {
  std::vector<std::string> lines;
  for (const auto& piece : readPieces(content, maxLength)) {
    lines.push_back(piece.first);
  }
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

// A full piece cannot tell by itself whether its line goes on.
TEST(FgetLineTest, TellsWhetherTheLineEndedWithThePiece) {
  EXPECT_EQ(Pieces({{"abc", false}, {"def", false}, {"g", true}, {"h", true}}),
            readPieces("abcdefg\nh\n", 3));
  EXPECT_EQ(Pieces({{"abc", true}, {"def", true}}), readPieces("abc\ndef", 3));
  EXPECT_EQ(Pieces({{"", true}, {"ab", true}}), readPieces("\nab", 3));
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
