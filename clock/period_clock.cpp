// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/period_clock.h"

#include <cmath>

namespace velk {
namespace {

constexpr long kSecondsPerMinute = 60;
constexpr long kMinutesPerHour = 60;
constexpr long kSecondsPerHour = kSecondsPerMinute * kMinutesPerHour;

// The instant as a time of day in [0, 86400): wrapped when outside, midnight
// when it is no number at all.
double WrapIntoDay(double seconds) {
  if (!std::isfinite(seconds)) return 0.0;
  double wrapped = std::fmod(seconds, kSecondsPerDay);
  if (wrapped < 0.0) wrapped += kSecondsPerDay;
  // A tiny negative input wraps to exactly 86400 after the addition.
  if (wrapped >= kSecondsPerDay) wrapped = 0.0;
  return wrapped;
}

// Rounds a non-negative value to the nearest whole number, an exact half to
// the even neighbour. Done by hand rather than through the floating-point
// rounding mode, which other code in the process could have changed.
long RoundHalfToEven(double value) {
  const double whole = std::floor(value);
  const double fraction = value - whole;  // exact for doubles of this size
  const long lower = static_cast<long>(whole);
  if (fraction > 0.5) return lower + 1;
  if (fraction < 0.5) return lower;
  return lower % 2 == 0 ? lower : lower + 1;
}

bool IsEvenMinute(long roundedSeconds) {
  const long minuteOfHour = (roundedSeconds / kSecondsPerMinute) % kMinutesPerHour;
  return minuteOfHour % 2 == 0;
}

void AppendTwoDigits(std::string& text, long value) {
  text += static_cast<char>('0' + value / 10);
  text += static_cast<char>('0' + value % 10);
}

// "HH:MM:SS" for a whole second of the day, 0 to 86399.
std::string TimeOfDayText(long wholeSeconds) {
  std::string text;
  text.reserve(sizeof "HH:MM:SS");
  AppendTwoDigits(text, wholeSeconds / kSecondsPerHour);
  text += ':';
  AppendTwoDigits(text, wholeSeconds / kSecondsPerMinute % kMinutesPerHour);
  text += ':';
  AppendTwoDigits(text, wholeSeconds % kSecondsPerMinute);
  return text;
}

}  // namespace

long RoundedSecondsSinceMidnight(double secondsSinceMidnight) {
  return RoundHalfToEven(WrapIntoDay(secondsSinceMidnight));
}

ClockFace ClockFaceAt(double secondsSinceMidnight) {
  const bool even = IsEvenMinute(RoundedSecondsSinceMidnight(secondsSinceMidnight));
  const long wholeSeconds = static_cast<long>(WrapIntoDay(secondsSinceMidnight));
  return {even ? kRed : kClockGreen, TimeOfDayText(wholeSeconds)};
}

}  // namespace velk
