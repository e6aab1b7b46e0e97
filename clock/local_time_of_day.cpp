// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/local_time_of_day.h"

#include <ctime>

#include "common/platform.h"

namespace velk {

double LocalTimeOfDay::SecondsSinceMidnight(std::chrono::system_clock::time_point now) {
  const auto second = std::chrono::floor<std::chrono::seconds>(now);
  const std::int64_t utcSecond = second.time_since_epoch().count();
  // Offsets from UTC change only at whole seconds (daylight saving time, a
  // new time zone), so one look-up per second is exact.
  if (utcSecond != utcSecond_) {
    const std::tm local = platform::LocalTime(static_cast<std::time_t>(utcSecond));
    localSecondOfDay_ = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    utcSecond_ = utcSecond;
  }
  const std::chrono::duration<double> fraction = now - second;
  return static_cast<double>(localSecondOfDay_) + fraction.count();
}

}  // namespace velk
