// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the end-to-end benchmark needs to watch another process and the files
// it writes. Linux only: /proc for CPU time and memory, inotify to learn the
// moment a file grows, posix_spawn for the reference follower.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::bench {

using Clock = std::chrono::steady_clock;

// User plus system CPU seconds the process has used so far (all its
// threads); nullopt once it is gone.
std::optional<double> CpuSeconds(pid_t pid);

// A "VmRSS:" or "VmHWM:" figure of /proc/PID/status in KiB.
std::optional<std::uint64_t> StatusKiB(pid_t pid, std::string_view field);

bool ProcessAlive(pid_t pid);

// The processes whose environment holds `entry` (such as
// "WINEPREFIX=/path": a Wine prefix's server, its services and programs).
std::vector<pid_t> ProcessesWithEnvironment(std::string_view entry);

// An append-only file opened for writing; every Append is one write call.
class Appender {
 public:
  explicit Appender(const std::string& path, bool truncate = false);
  ~Appender();
  Appender(const Appender&) = delete;
  Appender& operator=(const Appender&) = delete;

  bool Ok() const { return fd_ >= 0; }
  // True when every byte went in with the one call.
  bool Append(std::string_view bytes);

 private:
  int fd_ = -1;
};

// Wakes when a file in one of the watched directories is created or
// modified.
class ChangeWaiter {
 public:
  ChangeWaiter();
  ~ChangeWaiter();
  ChangeWaiter(const ChangeWaiter&) = delete;
  ChangeWaiter& operator=(const ChangeWaiter&) = delete;

  bool Watch(const std::string& directory);
  // Waits for the next change; false when `deadline` passed first.
  bool WaitUntil(Clock::time_point deadline);

 private:
  int fd_ = -1;
};

// The bytes another process appends to a file, from the length the file had
// when following began (0 while it does not exist yet).
class FileFollower {
 public:
  explicit FileFollower(std::string path);
  ~FileFollower();
  FileFollower(const FileFollower&) = delete;
  FileFollower& operator=(const FileFollower&) = delete;

  // Reads whatever has been appended since the last call.
  void Catch();
  const std::string& Bytes() const { return bytes_; }

  // Catches up until at least `size` bytes have arrived or `deadline`
  // passed; true in the first case.
  bool WaitForSize(std::size_t size, ChangeWaiter& waiter, Clock::time_point deadline);

 private:
  std::string path_;
  int fd_ = -1;
  std::uint64_t offset_ = 0;
  std::string bytes_;
};

// A child process with its standard output sent to a file.
class Child {
 public:
  Child(const std::vector<std::string>& arguments, const std::string& outputPath);
  ~Child();  // ends the child and waits for it
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

}  // namespace velk::bench
