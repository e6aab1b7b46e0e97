// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/decode_line.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace velk {
namespace {

using namespace std::string_literals;

const std::string kExampleLine = "0712    3  -23  0.3   -5    3 *    ABC DEF GH";

TEST(DecodeLineTest, WorkedExampleByteForByte) {
  const DecodeFields fields = CutFields(kExampleLine);
  EXPECT_EQ(fields.time, "0712");
  EXPECT_EQ(fields.sync, 3);
  EXPECT_EQ(fields.dB, -23);
  EXPECT_EQ(fields.DT, 0.3);
  EXPECT_EQ(fields.DF, -5);
  EXPECT_EQ(fields.W, 3.0f);
  EXPECT_EQ(fields.message, "ABC DEF GH");

  EXPECT_EQ(DisplayLine("2009/08/22", fields),
            "2009/08/22 0712z   Sync= 3  dB=-23  DT= .3  DF=-5  W= 3     ABC DEF GH\r\n");
  const LogRecord record = BuildLogRecord(fields, kExampleLine);
  EXPECT_EQ(record.pieceOne, "0712, 3,-23, .3,-5");
  EXPECT_EQ(record.pieceTwo, ", 3, \"ABC DEF GH\"");
  EXPECT_EQ(record.Line(), "0712, 3,-23, .3,-5, 3, \"ABC DEF GH\"\r\n");
}

struct LineCase {
  std::string line;
  std::string display;  // without the date and CR LF
  std::string log;      // without CR LF
};

TEST(DecodeLineTest, RendersUnusualLines) {
  const std::vector<LineCase> cases = {
      {"*", "*z   Sync= 0  dB= 0  DT= 0  DF= 0  W= 0     ", "*, 0, 0, 0, 0, 0, \"\""},
      {"", "z   Sync= 0  dB= 0  DT= 0  DF= 0  W= 0     ", ", 0, 0, 0, 0, 0, \"\""},
      {"07", "07z   Sync= 0  dB= 0  DT= 0  DF= 0  W= 0     ", "07, 0, 0, 0, 0, 0, \"\""},
      // Two numbers in the dB columns read as one after the blanks go.
      {"0712    31 -20 -0.3 0.75  1.5 *", "0712z   Sync= 31  dB= 1  DT=-.3  DF= .75  W= 1.5     ",
       "0712, 31, 1,-.3, .75, 1.5, \"\""},
      {"1200    1  -15  1.2  123   10 *    ABCDEFGHIJKLMNOPQRSTUVWXYZ",
       "1200z   Sync= 1  dB=-15  DT= 1.2  DF= 123  W= 10     ABCDEFGHIJKLMNOPQR",
       "1200, 1,-15, 1.2, 123, 10, \"ABCDEFGHIJKLMNOPQRSTUV\""},
      // W is a single: 1.1 shows with 7 digits, not as the double it came from.
      {"0000    1    1  1.1  1.1  1.1 *", "0000z   Sync= 1  dB= 1  DT= 1.1  DF= 1.1  W= 1.1     ",
       "0000, 1, 1, 1.1, 1.1, 1.1, \"\""},
      {"0000           1E39 1E39 1E39 *",
       "0000z   Sync= 0  dB= 0  DT= 1E+39  DF= 1E+39  W= Inf     ",
       "0000, 0, 0, 1E+39, 1E+39, Inf, \"\""},
      {"0000     &HFFF&H7FF&HFFF", "0000z   Sync= 0  dB= 4095  DT= 2047  DF= 4095  W= 0     ",
       "0000, 0, 4095, 2047, 4095, 0, \"\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const DecodeFields fields = CutFields(c.line);
    EXPECT_EQ(DisplayLine("2009/08/22", fields), "2009/08/22 " + c.display + "\r\n");
    EXPECT_EQ(BuildLogRecord(fields, c.line).Line(), c.log + "\r\n");
  }
}

TEST(DecodeLineTest, KeepsAnyBytesUnchanged) {
  std::string line = "\x01\x80\xff\0    3  -23  0.3   -5    3 *    "s;
  line += "\xe9\"q\"\0\xff\x80 \x7f end of it all"s;
  const DecodeFields fields = CutFields(line);
  EXPECT_EQ(fields.time, "\x01\x80\xff\0"s);
  EXPECT_EQ(fields.message, line.substr(35, 18));
  EXPECT_EQ(DisplayLine("2009/08/22", fields),
            "2009/08/22 \x01\x80\xff\0z   Sync= 3  dB=-23  DT= .3  DF=-5  W= 3     "s +
                line.substr(35, 18) + "\r\n");
  EXPECT_EQ(BuildLogRecord(fields, line).pieceTwo, ", 3, \"" + line.substr(35, 22) + "\"");

  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 80, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    const DecodeFields any = CutFields(bytes);
    EXPECT_EQ(any.time, bytes.substr(0, 4));
    EXPECT_EQ(any.message, bytes.size() > 35 ? bytes.substr(35, 18) : "");
    const std::string display = DisplayLine("", any);
    EXPECT_EQ(display.substr(display.size() - 2), "\r\n");
    EXPECT_EQ(BuildLogRecord(any, bytes).pieceTwo.back(), '"');
  }
}

TEST(DecodeLineTest, CutsFieldsByBytes) {
  struct Case {
    std::size_t start, width;
    std::string expected;
  };
  const std::string line = "abcdefgh";
  const std::vector<Case> cases = {
      {1, 4, "abcd"}, {8, 3, "h"},  {9, 3, ""},          {100, 5, ""},
      {3, 0, ""},     {0, 2, "ab"}, {2, 100, "bcdefgh"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CutField(line, c.start, c.width), c.expected) << c.start << "," << c.width;
  }
  EXPECT_EQ(CutField("", 1, 4), "");
  EXPECT_EQ(CutField("\0\xff\x80z"s, 2, 2), "\xff\x80");
}

}  // namespace
}  // namespace velk
