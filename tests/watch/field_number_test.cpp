// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/field_number.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace velk {
namespace {

using namespace std::string_literals;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr float kInfF = std::numeric_limits<float>::infinity();

// Equal including the sign of zero.
::testing::AssertionResult SameDouble(double expected, double actual) {
  if (expected == actual && std::signbit(expected) == std::signbit(actual)) {
    return ::testing::AssertionSuccess();
  }
  char text[80];
  std::snprintf(text, sizeof text, "expected %.17g, got %.17g", expected, actual);
  return ::testing::AssertionFailure() << text;
}

TEST(FieldValueTest, ReadsLikeClassicVal) {
  struct Case {
    std::string text;
    double expected;
  };
  const std::vector<Case> cases = {
      {"", 0},
      {"   ", 0},
      {"3", 3},
      {" 3 ", 3},
      {"-23", -23},
      {"+7", 7},
      {"- 2 3", -23},
      {"1\t2\n3", 123},
      {"1\r2", 1},
      {"1 -20", 1},
      {"0.3", 0.3},
      {"-0.3", -0.3},
      {".5", 0.5},
      {"-.5", -0.5},
      {"+.5", 0.5},
      {"5.", 5},
      {".", 0},
      {"-", 0},
      {"+-1", 0},
      {"--1", 0},
      {"1.2.3", 1.2},
      {"12abc", 12},
      {"abc12", 0},
      {"1,5", 1},
      {"1e3", 1000},
      {"1E3", 1000},
      {"1d3", 1000},
      {"1D3", 1000},
      {"2.5E-3", 0.0025},
      {"2.5d+3", 2500},
      {"-1 . 5 E 2", -150},
      {"1e", 1},
      {"1e+", 1},
      {"1e-x", 1},
      {"1ee2", 1},
      {".e2", 0},
      {"1.e2", 100},
      {"1e2.5", 100},
      {"0.1", 0.1},
      {"123456789012345678", 123456789012345678.0},
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"4.9406564584124654e-324", 4.9406564584124654e-324},
      {"1e309", kInf},
      {"-1e309", -kInf},
      {"1e99999999999999999999", kInf},
      {"1e-400", 0},
      {"0e99999", 0},
      {"0.000000000000000000001e330", kInf},
      {"&H10", 16},
      {"&hff", 255},
      {"&H fF", 255},
      {"&H7FFF", 32767},
      {"&H8000", -32768},
      {"&HFFFF", -1},
      {"&H0000FFFF", -1},
      {"&H10000", 65536},
      {"&H7FFFFFFF", 2147483647},
      {"&H80000000", -2147483648.0},
      {"&HFFFFFFFF", -1},
      {"&H1FFFFFFFF", -1},
      {"&H100000010", 16},
      {"&H123456789ABCDEF0123", -839974621},
      {"&H1G", 1},
      {"&H", 0},
      {"&O17", 15},
      {"&o777", 511},
      {"&O178", 15},
      {"&O177777", -1},
      {"&O200000", 65536},
      {"&O37777777777", -1},
      {"&17", 0},
      {"-&H10", 0},
      {"&X10", 0},
      {"\x80\xff"s + "1", 0},
      {"1\0"s + "2", 1},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(SameDouble(c.expected, FieldValue(c.text))) << "text «" << c.text << "»";
  }
}

TEST(FieldValueTest, KeepsTheSignOfZero) {
  EXPECT_TRUE(SameDouble(-0.0, FieldValue("-0")));
  EXPECT_TRUE(SameDouble(-0.0, FieldValue("-1e-400")));
  EXPECT_TRUE(SameDouble(0.0, FieldValue("-")));
  EXPECT_TRUE(SameDouble(0.0, FieldValue("0")));
}

TEST(FieldValueTest, ClassifiesOverflowByMagnitudeNotExponent) {
  // In range although the exponent field alone is beyond it, and the reverse.
  EXPECT_EQ(FieldValue("0." + std::string(400, '0') + "1e400"), 0.1);
  EXPECT_EQ(FieldValue("1" + std::string(400, '0') + "e-400"), 1);
  EXPECT_EQ(FieldValue("0." + std::string(400, '0') + "1e-10"), 0);
  EXPECT_EQ(FieldValue("1" + std::string(400, '0')), kInf);
}

TEST(FieldTextTest, WritesDoublesLikeClassicStr) {
  struct Case {
    double value;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {3, " 3"},
      {-23, "-23"},
      {0, " 0"},
      {-0.0, " 0"},
      {0.3, " .3"},
      {-0.5, "-.5"},
      {1.25, " 1.25"},
      {12.5, " 12.5"},
      {0.75, " .75"},
      {100, " 100"},
      {0.1 + 0.2, " .3"},
      {1.0 / 3, " .333333333333333"},
      {2.0 / 3, " .666666666666667"},
      {-123.456, "-123.456"},
      {123456789012345, " 123456789012345"},
      {999999999999999, " 999999999999999"},
      {999999999999999.9, " 1E+15"},
      {1234567890123456, " 1.23456789012346E+15"},
      {1.5e15, " 1.5E+15"},
      {1e15, " 1E+15"},
      {-1e100, "-1E+100"},
      {1e-15, " .000000000000001"},
      {2e-16, " 2E-16"},
      {1.5e-14, " .000000000000015"},
      {1.25e-14, " 1.25E-14"},
      {0.123456789012345, " .123456789012345"},
      {0.0123456789012345, " 1.23456789012345E-02"},
      {0.00001, " .00001"},
      {1.7976931348623157e308, " 1.79769313486232E+308"},
      {4.9406564584124654e-324, " 4.94065645841247E-324"},
      {kInf, " Inf"},
      {-kInf, "-Inf"},
      {std::numeric_limits<double>::quiet_NaN(), " NaN"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FieldText(c.value), c.expected) << c.value;
  }
}

TEST(FieldTextTest, WritesSinglesWithSevenDigits) {
  struct Case {
    float value;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {3, " 3"},
      {-0.0f, " 0"},
      {1.1f, " 1.1"},
      {0.1f, " .1"},
      {-2.5f, "-2.5"},
      {1.0f / 3, " .3333333"},
      {0.00002f, " .00002"},
      {1.5e-8f, " 1.5E-08"},
      {1234567, " 1234567"},
      {12345678, " 1.234568E+07"},
      {98765432, " 9.876543E+07"},
      {9999999, " 9999999"},
      {16777215, " 1.677722E+07"},
      {0.1234567f, " .1234567"},
      {0.001234f, " .001234"},
      {0.001234567f, " 1.234567E-03"},
      {3.4028235e38f, " 3.402823E+38"},
      {kInfF, " Inf"},
      {-kInfF, "-Inf"},
      {std::numeric_limits<float>::quiet_NaN(), " NaN"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FieldText(c.value), c.expected) << c.value;
  }
}

TEST(RoundToSingleTest, RoundsToNearestWithoutOverflowTrouble) {
  constexpr float kMax = std::numeric_limits<float>::max();
  struct Case {
    double value;
    float expected;
  };
  const std::vector<Case> cases = {
      {0.1, 0.1f},
      {3, 3},
      {16777217, 16777216},  // halfway: to even
      {16777219, 16777220},
      {1e-50, 0},
      {1e39, kInfF},
      {-1e39, -kInfF},
      {kInf, kInfF},
      {kMax, kMax},
      {0x1.fffffefp+127, kMax},
      {0x1.ffffffp+127, kInfF},
      {-0x1.fffffefp+127, -kMax},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RoundToSingle(c.value), c.expected) << c.value;
  }
  EXPECT_TRUE(std::signbit(RoundToSingle(-0.0)));
  EXPECT_TRUE(std::isnan(RoundToSingle(std::numeric_limits<double>::quiet_NaN())));
}

// A value rounded to `digits` significant digits by the C library, a path
// independent of the one under test.
double RoundedBySnprintf(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
  return std::strtod(text, nullptr);
}

TEST(FieldTextTest, ReadsBackAsTheRoundedValue) {
  std::mt19937_64 random(2024);
  std::uniform_real_distribution<double> logScale(-30, 30);
  for (int round = 0; round < 100000; ++round) {
    double value = std::bit_cast<double>(random());
    if (round % 2 == 0) value = std::pow(10.0, logScale(random)) * (round % 4 == 0 ? -1 : 1);
    if (!std::isfinite(value)) continue;
    ASSERT_TRUE(SameDouble(RoundedBySnprintf(value, 15), FieldValue(FieldText(value))))
        << FieldText(value);
  }
  for (int round = 0; round < 100000; ++round) {
    float value = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
    if (round % 2 == 0) value = static_cast<float>(std::pow(10.0, logScale(random)));
    if (!std::isfinite(value)) continue;
    ASSERT_TRUE(SameDouble(RoundedBySnprintf(value, 7), FieldValue(FieldText(value))))
        << FieldText(value);
  }
}

}  // namespace
}  // namespace velk
