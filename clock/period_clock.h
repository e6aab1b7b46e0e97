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

// The face at `secondsSinceMidnight` local time (0 <= s < 86400, with its
// fraction).
ClockFace ClockFaceAt(double secondsSinceMidnight);

}  // namespace velk
