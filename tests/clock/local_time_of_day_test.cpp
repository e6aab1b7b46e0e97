// SPDX-License-Identifier: GPL-3.0-or-later
#include "clock/local_time_of_day.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace velk {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

// Central European time with its daylight saving rule, written out so that
// no time zone database is needed.
constexpr char kCentralEurope[] = "CET-1CEST,M3.5.0,M10.5.0/3";

class LocalTimeOfDayTest : public testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the time zone comes from the system's settings here, not from TZ";
#else
    if (const char* zone = std::getenv("TZ")) saved_ = zone;
    setenv("TZ", kCentralEurope, 1);
    tzset();
#endif
  }
  void TearDown() override {
#ifndef _WIN32
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
#endif
  }

 private:
  std::optional<std::string> saved_;
};

struct Reading {
  system_clock::time_point utc;
  double expected;  // seconds since local midnight
};

TEST_F(LocalTimeOfDayTest, FollowsTheLocalClockAcrossDaylightSavingChanges) {
  const sys_days springForward = year{2026} / March / 29;
  const sys_days fallBack = year{2026} / October / 25;
  // In the order a running clock reads them, several per second.
  const Reading readings[] = {
      {springForward + 0h + 59min + 59s + 250ms, 1 * 3600 + 59 * 60 + 59.25},
      {springForward + 0h + 59min + 59s + 999ms, 1 * 3600 + 59 * 60 + 59.999},
      {springForward + 1h + 500ms, 3 * 3600 + 0.5},  // 02:00 CET is 03:00 CEST
      {springForward + 1h + 1s, 3 * 3600 + 1},
      {fallBack + 0h + 59min + 59s + 500ms, 2 * 3600 + 59 * 60 + 59.5},
      {fallBack + 1h + 0s, 2 * 3600},  // 03:00 CEST is 02:00 CET again
      {fallBack + 22h + 59min + 59s + 900ms, 23 * 3600 + 59 * 60 + 59.9},
      {fallBack + 23h, 0},  // local midnight
  };
  LocalTimeOfDay clock;
  for (const Reading& reading : readings) {
    EXPECT_NEAR(clock.SecondsSinceMidnight(reading.utc), reading.expected, 1e-6)
        << "at " << duration_cast<milliseconds>(reading.utc.time_since_epoch()).count() << " ms";
  }
}

}  // namespace
}  // namespace velk
