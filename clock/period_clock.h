// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The period clock: the time of day, red in even minutes and clock green in
// odd ones. The colour follows the seconds since midnight rounded to the
// nearest whole second (half to even), so it switches half a second before
// the text does.

#include <string>

#include "common/colour.h"

namespace velk {

struct ClockFace {
  Colour colour;
  std::string text;  // "HH:MM:SS", 24-hour

  friend bool operator==(const ClockFace&, const ClockFace&) = default;
};

inline constexpr double kSecondsPerDay = 86400.0;

// The face at `secondsSinceMidnight` local time (0 <= s < 86400, with its
// fraction). Instants outside the day are wrapped into it (86400.3 is
// 00:00:00.3, -0.2 is 23:59:59.8); NaN and infinities count as midnight.
ClockFace ClockFaceAt(double secondsSinceMidnight);

// The whole second the colour is taken from: the instant, wrapped into the
// day as above, rounded to the nearest whole second with exact halves going
// to the even neighbour. 0 to 86400 inclusive; 86400 in the last half second
// of the day.
long RoundedSecondsSinceMidnight(double secondsSinceMidnight);

}  // namespace velk
