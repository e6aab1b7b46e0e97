// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/test_files.h"

#include "common/platform.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which they need.
#include <psapi.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velk::test_files {

#ifdef _WIN32
// Windows counts file times in 100 ns ticks from 1601.
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
constexpr std::int64_t kTicksPerSecond = 10'000'000;

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
  return static_cast<std::time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) -
                                  kSecondsFrom1601To1970);
}

// Through a handle: the C library's file times end in 2038.
bool SetModified(const std::filesystem::path& path, std::time_t moment) {
  const std::int64_t ticks =
      (static_cast<std::int64_t>(moment) + kSecondsFrom1601To1970) * kTicksPerSecond;
  FILETIME time{};
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  const HANDLE file =
      CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool set = SetFileTime(file, nullptr, nullptr, &time) != 0;
  CloseHandle(file);
  return set;
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

// Directly, because std::filesystem cannot set dates far from its clock's
// epoch on every library.
bool SetModified(const std::filesystem::path& path, std::time_t moment) {
  const struct timespec times[2] = {{moment, 0}, {moment, 0}};
  struct stat status {};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 && ::stat(path.c_str(), &status) == 0 &&
         status.st_mtime == moment;
}
#endif

#ifdef _WIN32
void ExtendSparse(const std::filesystem::path& path, std::uint64_t size) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD returned = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  if (SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) SetEndOfFile(file);
  CloseHandle(file);
}

// Windows keeps the peak for the process's life: the present size stands in
// for a peak brought down to it.
std::optional<long> PeakResidentKiB(bool reset) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return std::nullopt;
  return static_cast<long>((reset ? counters.WorkingSetSize : counters.PeakWorkingSetSize) / 1024);
}

HeldFile::HeldFile(const std::filesystem::path& path, bool shareWrite) {
  const DWORD sharing = FILE_SHARE_READ | (shareWrite ? FILE_SHARE_WRITE : 0);
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, sharing, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(file);
}

bool HeldFile::Append(std::string_view bytes) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  DWORD wrote = 0;
  return IsOpen() && SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_END) &&
         ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &wrote, nullptr) &&
         wrote == bytes.size();
}

void HeldFile::Close() {
  if (IsOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kClosed;
}
#else
void ExtendSparse(const std::filesystem::path& path, std::uint64_t size) {
  std::filesystem::resize_file(path, size);
}

// From VmHWM; writing 5 to clear_refs brings it down to the present size.
std::optional<long> PeakResidentKiB(bool reset) {
  if (reset) {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5" << std::flush;
    if (!clear) return std::nullopt;
  }
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      long kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(4096, '\n');
  }
  return std::nullopt;
}

HeldFile::HeldFile(const std::filesystem::path& path, bool /*shareWrite*/)
    : handle_(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644)) {}

bool HeldFile::Append(std::string_view bytes) {
  return IsOpen() && ::write(static_cast<int>(handle_), bytes.data(), bytes.size()) ==
                         static_cast<ssize_t>(bytes.size());
}

void HeldFile::Close() {
  if (IsOpen()) ::close(static_cast<int>(handle_));
  handle_ = kClosed;
}
#endif

}  // namespace velk::test_files

namespace velk::test_files {

std::string MissingDirectoryReason() {
  const TempDir dir;
  return platform::AppendWhole((dir.Path() / "absent" / "LOG.TXT").string(), "x").failure;
}

}  // namespace velk::test_files
