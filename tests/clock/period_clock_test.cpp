// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/period_clock.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace velk {
namespace {

constexpr double At(int hours, int minutes, double seconds) {
  return hours * 3600.0 + minutes * 60.0 + seconds;
}

struct FaceCase {
  const char* name;
  double instant;
  Colour colour;
  const char* text;
};

std::string CaseName(const testing::TestParamInfo<FaceCase>& param) {
  return param.param.name;
}

class ClockFaceAtInstant : public testing::TestWithParam<FaceCase> {};

TEST_P(ClockFaceAtInstant, ShowsColourAndText) {
  const FaceCase& c = GetParam();
  const ClockFace face = ClockFaceAt(c.instant);
  EXPECT_EQ(face.colour, c.colour);
  EXPECT_EQ(face.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    WithinTheDay, ClockFaceAtInstant,
    testing::Values(
        FaceCase{"OddMinute", At(12, 3, 20), kClockGreen, "12:03:20"},
        FaceCase{"EvenMinute", At(12, 4, 0), kRed, "12:04:00"},
        FaceCase{"JustBeforeHalfSecondToMinute", At(12, 3, 59.4), kClockGreen, "12:03:59"},
        // The colour turns half a second early; the text keeps the old second.
        FaceCase{"LastHalfSecondOfMinute", At(12, 3, 59.6), kRed, "12:03:59"},
        // Exact halves: 43439.5 rounds up to the even 43440 (next minute).
        FaceCase{"ExactHalfBeforeEvenMinute", At(12, 3, 59.5), kRed, "12:03:59"},
        FaceCase{"ExactHalfBeforeOddMinute", At(12, 4, 59.5), kClockGreen, "12:04:59"},
        // 43440.5 rounds down to the even 43440 and stays in minute 4.
        FaceCase{"ExactHalfAfterMinuteStart", At(12, 4, 0.5), kRed, "12:04:00"},
        FaceCase{"DayEndRoundsToMidnight", At(23, 59, 59.6), kRed, "23:59:59"},
        FaceCase{"DayEndExactHalf", At(23, 59, 59.5), kRed, "23:59:59"},
        FaceCase{"DayEndBeforeHalf", At(23, 59, 59.4), kClockGreen, "23:59:59"},
        FaceCase{"Midnight", 0.0, kRed, "00:00:00"},
        FaceCase{"FirstOddMinute", At(0, 1, 0), kClockGreen, "00:01:00"},
        FaceCase{"AfternoonIn24HourForm", At(13, 0, 0), kRed, "13:00:00"},
        FaceCase{"LastFullSecond", At(23, 59, 59), kClockGreen, "23:59:59"},
        FaceCase{"LargestInstantOfDay", std::nextafter(86400.0, 0.0), kRed, "23:59:59"}),
    CaseName);

INSTANTIATE_TEST_SUITE_P(
    OutsideTheDay, ClockFaceAtInstant,
    testing::Values(
        FaceCase{"NotANumber", std::numeric_limits<double>::quiet_NaN(), kRed, "00:00:00"},
        FaceCase{"PlusInfinity", std::numeric_limits<double>::infinity(), kRed, "00:00:00"},
        FaceCase{"MinusInfinity", -std::numeric_limits<double>::infinity(), kRed, "00:00:00"},
        FaceCase{"WholeDay", 86400.0, kRed, "00:00:00"},
        FaceCase{"PastTheDay", 86400.0 + At(0, 1, 0.3), kClockGreen, "00:01:00"},
        FaceCase{"SeveralDaysOn", 3 * 86400.0 + At(12, 3, 20), kClockGreen, "12:03:20"},
        FaceCase{"SlightlyNegative", -0.2, kRed, "23:59:59"},
        FaceCase{"TinyNegative", -1e-300, kRed, "00:00:00"},
        FaceCase{"DaysBefore", -2 * 86400.0 + At(12, 3, 20), kClockGreen, "12:03:20"}),
    CaseName);

TEST(ClockFaceAt, HugeInstantsStillGiveAValidFace) {
  for (const double instant : {1e300, -1e300, std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::denorm_min()}) {
    const ClockFace face = ClockFaceAt(instant);
    int hours = -1, minutes = -1, seconds = -1;
    ASSERT_EQ(std::sscanf(face.text.c_str(), "%2d:%2d:%2d", &hours, &minutes, &seconds), 3)
        << instant;
    EXPECT_EQ(face.text.size(), 8u);
    EXPECT_TRUE(hours >= 0 && hours < 24 && minutes >= 0 && minutes < 60 && seconds >= 0 &&
                seconds < 60)
        << face.text;
    EXPECT_TRUE(face.colour == kRed || face.colour == kClockGreen);
  }
}

// Whole halves go to the even neighbour. On the face this is only visible
// against rounding down (a minute starts at an even second), so the rounding
// itself is checked here as well.
TEST(RoundedSecondsSinceMidnight, RoundsHalvesToEven) {
  struct Case {
    double instant;
    long rounded;
  };
  for (const Case c : {Case{0.5, 0}, Case{1.5, 2}, Case{2.5, 2}, Case{43438.5, 43438},
                       Case{43439.5, 43440}, Case{43440.5, 43440}, Case{2.4999999, 2},
                       Case{2.5000001, 3}, Case{86399.4, 86399}, Case{86399.5, 86400},
                       Case{86399.6, 86400}, Case{0.0, 0}, Case{-0.5, 86400}, Case{-1.5, 86398}}) {
    EXPECT_EQ(RoundedSecondsSinceMidnight(c.instant), c.rounded) << c.instant;
  }
}

// Over a whole day: the text names the second the instant is in, and the
// colour changes exactly half a second before each minute starts.
TEST(ClockFaceAt, EverySecondOfTheDay) {
  for (int second = 0; second < 86400; ++second) {
    const int hours = second / 3600;
    const int minutes = second / 60 % 60;
    char expected[16];
    std::snprintf(expected, sizeof expected, "%02d:%02d:%02d", hours, minutes, second % 60);
    const ClockFace early = ClockFaceAt(second + 0.25);
    const ClockFace late = ClockFaceAt(second + 0.75);
    ASSERT_EQ(early.text, expected);
    ASSERT_EQ(late.text, expected);

    const Colour thisMinute = minutes % 2 == 0 ? kRed : kClockGreen;
    const Colour nextMinute = thisMinute == kRed ? kClockGreen : kRed;
    ASSERT_EQ(early.colour, thisMinute) << expected;
    ASSERT_EQ(late.colour, second % 60 == 59 ? nextMinute : thisMinute) << expected;
  }
}

}  // namespace
}  // namespace velk
