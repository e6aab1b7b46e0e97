#include "tests/support/test_files.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#endif

namespace velk::test_files {

#ifdef _WIN32
// In the system's time zone, as the program reads it: Windows' C library
// knows no moment before 1970 and reads TZ with the United States' rules.
std::time_t LocalNoonMoment(int year, int month, int day) {
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(year);
  local.wMonth = static_cast<WORD>(month);
  local.wDay = static_cast<WORD>(day);
  local.wHour = 12;
  SYSTEMTIME utc{};
  FILETIME time{};
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
      !SystemTimeToFileTime(&utc, &time)) {
    return -1;
  }
  const std::uint64_t ticks = (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
  return static_cast<std::time_t>(static_cast<std::int64_t>(ticks / 10'000'000) - 11'644'473'600);
}
#else
std::time_t LocalNoonMoment(int year, int month, int day) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = 12;
  local.tm_isdst = -1;
  return std::mktime(&local);
}
#endif

}  // namespace velk::test_files
