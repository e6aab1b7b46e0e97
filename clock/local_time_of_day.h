// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The local time of day, read a thousand times a second by the clock. The
// offset from UTC is looked up once per whole second only, so most readings
// cost no more than reading the system clock.

#include <chrono>
#include <cstdint>
#include <limits>

namespace velk {

class LocalTimeOfDay {
 public:
  // Seconds since local midnight at `now`, with the fraction of the second.
  double SecondsSinceMidnight(std::chrono::system_clock::time_point now);

 private:
  std::int64_t utcSecond_ = std::numeric_limits<std::int64_t>::min();
  std::int64_t localSecondOfDay_ = 0;
};

}  // namespace velk
