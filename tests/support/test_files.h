// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Real files for the tests: a directory of its own under the system's
// temporary directory, removed with everything in it when the test is done,
// and helpers to write and read files and set their dates.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

namespace velk::test_files {

// How long a watcher in a test waits for a call to a disk that answers: a
// pass on a loaded machine must not end before its calls have answered.
inline constexpr std::chrono::seconds kAnsweringDiskWait{30};

// `object` shared without being owned, for what must not outlive it.
template <typename Object>
std::shared_ptr<Object> Borrowed(Object& object) {
  return std::shared_ptr<Object>(std::shared_ptr<Object>(), &object);
}

class TempDir {
 public:
  TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("velk_watch_" + std::to_string(stamp) + "_" + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string File(std::string_view name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// True once `done` holds; false when it still does not after ten seconds.
inline bool Eventually(const std::function<bool()>& done) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// What the system says of an append to a file in a directory that does not
// exist ("No such file or directory" on POSIX).
std::string MissingDirectoryReason();

// Noon, local time, on the given day (tests/support/test_files.cpp).
std::time_t LocalNoonMoment(int year, int month, int day);

// Sets a file's modification time to `moment`; false when the file system
// cannot hold it (tests/support/test_files.cpp).
bool SetModified(const std::filesystem::path& path, std::time_t moment);

inline std::filesystem::file_time_type LocalNoon(int year, int month, int day) {
  const std::chrono::sys_seconds moment{std::chrono::seconds(LocalNoonMoment(year, month, day))};
  return std::chrono::file_clock::from_sys(moment);
}

inline void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline void AppendFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The whole file, byte for byte; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Makes the file at `path` `size` bytes long, what it gains a hole of NUL
// bytes that takes no room on the disk.
void ExtendSparse(const std::filesystem::path& path, std::uint64_t size);

// Peak resident memory of this process in KiB. With `reset`, where the
// system can, the peak is first brought down to the present; either way the
// result then is the present size, to measure growth from. Nullopt when it
// cannot be read.
std::optional<long> PeakResidentKiB(bool reset);

// A file another program holds open, for writing at its end, the way a
// Windows program holds it: sharing it with others for reading and, with
// `shareWrite`, for writing (as a decoder does), or for reading only (as a
// spreadsheet showing a CSV file does); never for deletion. Elsewhere
// nothing locks a file: it is simply open.
class HeldFile {
 public:
  HeldFile(const std::filesystem::path& path, bool shareWrite);
  ~HeldFile() { Close(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool IsOpen() const { return handle_ != kClosed; }
  // Writes `bytes` at the file's end; false when not all were written.
  bool Append(std::string_view bytes);
  void Close();

 private:
  static constexpr std::intptr_t kClosed = -1;
  std::intptr_t handle_ = kClosed;  // a HANDLE on Windows, a descriptor elsewhere
};

}  // namespace velk::test_files
