// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/sim_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <regex>
#include <string>

#include "watch/decode_line.h"

namespace velk::sim {
namespace {

std::string MessageOf(const std::string& line) {
  return std::string(CutField(line, kLogMessageColumn.start, kLogMessageColumn.width));
}

TEST(FormatDecodeLine, LaysOutTheDecodersExample) {
  const SimDecode decode{"0712", 3, -23, 3, -5, 3, true, "ABC DEF GH"};
  EXPECT_EQ(FormatDecodeLine(decode), "0712    3  -23  0.3   -5    3 *    ABC DEF GH");
}

TEST(FormatDecodeLine, UnmarkedLineHasNoMarkerAnywhere) {
  const SimDecode decode{"0712", 3, -23, 3, -5, 3, false, "ABC DEF GH"};
  EXPECT_EQ(FormatDecodeLine(decode), "0712    3  -23  0.3   -5    3      ABC DEF GH");
}

// Whatever values come in, every field stays in its columns, so the marker
// and the message never move.
TEST(FormatDecodeLine, ClampsValuesTooWideForTheirColumns) {
  struct Case {
    SimDecode decode;
    std::string time;
    double sync, dB, DT, DF;
    float W;
  };
  const Case cases[] = {
      {{"2359", 150, -5000, -12345, 123456, -100000, true, "CQ K1ABC FN42"},
       "2359",
       99,
       -999,
       -99.9,
       99999,
       -9999},
      {{"0000", -4, 99999, 99999, -99999, 999999, true, "CQ K1ABC FN42"},
       "0000",
       0,
       9999,
       999.9,
       -9999,
       99999},
      {{"7", 10, 0, -3, 0, 0, true, "CQ K1ABC FN42"}, "7   ", 10, 0, -0.3, 0, 0},
      {{"123456", 1, -1, 0, -1, 1, true, "CQ K1ABC FN42"}, "1234", 1, -1, 0, -1, 1},
  };
  for (const Case& c : cases) {
    const std::string line = FormatDecodeLine(c.decode);
    SCOPED_TRACE(line);
    const DecodeFields fields = CutFields(line);
    EXPECT_EQ(fields.time, c.time);
    EXPECT_EQ(fields.sync, c.sync);
    EXPECT_EQ(fields.dB, c.dB);
    EXPECT_EQ(fields.DT, c.DT);
    EXPECT_EQ(fields.DF, c.DF);
    EXPECT_EQ(fields.W, c.W);
    EXPECT_EQ(line.find('*'), kMarkerColumn - 1);
    EXPECT_EQ(MessageOf(line), "CQ K1ABC FN42");
  }
}

// The watcher cuts the generated lines back into exactly the values that
// went into them.
TEST(RandomDecode, CutsBackToTheGeneratedValues) {
  const std::regex messageForm(
      "(CQ|[A-Z]{1,2}[0-9][A-Z]{1,3}) [A-Z]{1,2}[0-9][A-Z]{1,3} "
      "([A-R]{2}[0-9]{2}|R?[-+][0-9]{2}|RRR|73)");
  std::mt19937_64 random(20240601);
  for (int i = 0; i < 3000; ++i) {
    const SimDecode decode = RandomDecode(random, "1305", 0.5);
    const std::string line = FormatDecodeLine(decode);
    SCOPED_TRACE(line);
    const DecodeFields fields = CutFields(line);
    ASSERT_EQ(fields.time, "1305");
    ASSERT_EQ(fields.sync, decode.sync);
    ASSERT_EQ(fields.dB, decode.dB);
    ASSERT_EQ(fields.DT, decode.DT());
    ASSERT_EQ(fields.DF, decode.DF);
    ASSERT_EQ(fields.W, static_cast<float>(decode.W));
    ASSERT_LE(decode.message.size(), kMaxMessageLength);
    ASSERT_EQ(MessageOf(line), decode.message);
    ASSERT_TRUE(std::regex_match(decode.message, messageForm));
    ASSERT_EQ(line.find('*'), decode.marked ? kMarkerColumn - 1 : std::string::npos);
    ASSERT_EQ(line.find_first_of("\r\n"), std::string::npos);
  }
}

TEST(RandomDecode, SameSeedGivesSameDecodes) {
  std::mt19937_64 first(7);
  std::mt19937_64 second(7);
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(RandomDecode(first, "0001", 0.2), RandomDecode(second, "0001", 0.2));
  }
}

TEST(RandomDecode, LeavesTheAskedShareUnmarked) {
  struct Case {
    double share;
    int lowest;
    int highest;  // unmarked lines out of 4000
  };
  for (const Case c : {Case{0.0, 0, 0}, Case{1.0, 4000, 4000}, Case{0.25, 850, 1150},
                       Case{std::numeric_limits<double>::quiet_NaN(), 0, 0}, Case{-3.0, 0, 0},
                       Case{7.0, 4000, 4000}}) {
    std::mt19937_64 random(99);
    int unmarked = 0;
    for (int i = 0; i < 4000; ++i) unmarked += RandomDecode(random, "0000", c.share).marked ? 0 : 1;
    EXPECT_GE(unmarked, c.lowest) << c.share;
    EXPECT_LE(unmarked, c.highest) << c.share;
  }
}

TEST(LineEndText, NamesTheThreeLineEnds) {
  EXPECT_EQ(LineEndText(LineEnd::kCrLf), "\r\n");
  EXPECT_EQ(LineEndText(LineEnd::kLf), "\n");
  EXPECT_EQ(LineEndText(LineEnd::kCr), "\r");
}

}  // namespace
}  // namespace velk::sim
