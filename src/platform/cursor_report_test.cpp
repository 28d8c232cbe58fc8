// SPDX-License-Identifier: Zlib
#include "platform/cursor_report.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Progress = CursorReportParser::Progress;

// Reads the way the stub reads its terminal: byte by byte from each piece as it arrives, and not
// one byte past a verdict. Returns the verdict (Partial when the pieces ran out first) and sets
// `left` to the bytes that stay unread for whoever reads next.
Progress read_pieces(CursorReportParser& parser, const std::vector<std::string>& pieces,
                     std::string& left) {
  std::string input;
  for (const std::string& piece : pieces) {
    input += piece;
  }
  std::size_t used = 0;
  Progress progress = Progress::Partial;
  while (used < input.size() && progress == Progress::Partial) {
    progress = parser.feed(input[used++]);
  }
  left = input.substr(used);
  return progress;
}

TEST(CursorReportParser, ReadsWholeAndSplitReports) {
  struct Case {
    std::vector<std::string> pieces;
    int row;
    int column;
  } cases[] = {
      {{"\033[1;1R"}, 1, 1},
      {{"\033[24;80R"}, 24, 80},
      {{"\033", "[", "12;", "3", "4R"}, 12, 34},
      {{"\033[99999;65535R"}, 99999, 65535},
  };
  for (const Case& c : cases) {
    CursorReportParser parser;
    std::string left;
    ASSERT_EQ(read_pieces(parser, c.pieces, left), Progress::Complete) << c.pieces[0];
    EXPECT_EQ(parser.row(), c.row) << c.pieces[0];
    EXPECT_EQ(parser.column(), c.column) << c.pieces[0];
    EXPECT_EQ(left, "") << c.pieces[0];
  }
}

TEST(CursorReportParser, KeepsAReportThatStopsHalfwayOpen) {
  CursorReportParser parser;
  std::string left;
  EXPECT_FALSE(parser.started());
  EXPECT_EQ(read_pieces(parser, {"\033[5"}, left), Progress::Partial);
  EXPECT_TRUE(parser.started());
  // The rest comes with a later read.
  EXPECT_EQ(read_pieces(parser, {";1R"}, left), Progress::Complete);
  EXPECT_FALSE(parser.started());
  EXPECT_EQ(parser.row(), 5);
  EXPECT_EQ(parser.column(), 1);
}

TEST(CursorReportParser, LeavesTypedKeysAfterTheReportUnread) {
  CursorReportParser parser;
  std::string left;
  EXPECT_EQ(read_pieces(parser, {"\033[3;4R", "yes\n"}, left), Progress::Complete);
  EXPECT_EQ(left, "yes\n");
  // An arrow key (ESC [ A) typed behind the report stays a key as well.
  EXPECT_EQ(read_pieces(parser, {"\033[3;4R\033[A"}, left), Progress::Complete);
  EXPECT_EQ(left, "\033[A");
}

TEST(CursorReportParser, StopsAtTheFirstByteThatIsNoReport) {
  struct Case {
    std::string input;
    // What the parser took, to be given back.
    std::string taken;
  } cases[] = {
      // Keys typed before the report came.
      {"y\033[3;4R", "y"},
      {"\033[A\033[3;4R", "\033[A"},
      // Garbage and near misses.
      {"\033]3;4R", "\033]"},
      {"\033[;4R", "\033[;"},
      {"\033[3;R", "\033[3;R"},
      {"\033[3R", "\033[3R"},
      {"\033[3;4;5R", "\033[3;4;"},
      {"\033[3;4~", "\033[3;4~"},
      {"\033[123456;1R", "\033[123456"},
      {"\033\033[3;4R", "\033\033"},
  };
  for (const Case& c : cases) {
    CursorReportParser parser;
    std::string left;
    EXPECT_EQ(read_pieces(parser, {c.input}, left), Progress::Mismatch) << c.input;
    EXPECT_EQ(parser.taken(), c.taken) << c.input;
    EXPECT_EQ(left, c.input.substr(c.taken.size())) << c.input;
    EXPECT_FALSE(parser.started()) << c.input;
  }
  // After a verdict the parser starts over, so the report behind a typed key is still found.
  CursorReportParser parser;
  std::string left;
  ASSERT_EQ(read_pieces(parser, {"y\033[3;4R"}, left), Progress::Mismatch);
  EXPECT_EQ(read_pieces(parser, {left}, left), Progress::Complete);
  EXPECT_EQ(parser.row(), 3);
  EXPECT_EQ(parser.taken(), "\033[3;4R");
}

}  // namespace
