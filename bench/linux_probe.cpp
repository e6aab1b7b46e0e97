// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/linux_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/text_files.h"

extern char** environ;

namespace velk::bench {

std::vector<pid_t> ProcessesWithEnvironment(std::string_view entry) {
  std::vector<pid_t> found;
  std::error_code error;
  for (const std::filesystem::directory_entry& process :
       std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = process.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string environment =
        velk::tools::ReadWholeFile(process.path() / "environ").value_or("");
    for (std::size_t start = 0; start < environment.size();) {
      const std::size_t end = std::min(environment.find('\0', start), environment.size());
      if (std::string_view(environment).substr(start, end - start) == entry) {
        found.push_back(static_cast<pid_t>(std::stol(name)));
        break;
      }
      start = end + 1;
    }
  }
  return found;
}

std::optional<double> CpuSeconds(pid_t pid) {
  const std::string text =
      velk::tools::ReadWholeFile("/proc/" + std::to_string(pid) + "/stat").value_or("");
  // The command name in parentheses may hold blanks; the fields after it
  // start with the state (field 3), so utime (14) and stime (15) are the
  // 12th and 13th after it.
  const std::size_t nameEnd = text.rfind(')');
  if (nameEnd == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(nameEnd + 1));
  std::string field;
  unsigned long long utime = 0;
  unsigned long long stime = 0;
  for (int index = 0; index < 11 && fields >> field; ++index) {
  }
  if (!(fields >> utime >> stime)) return std::nullopt;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::optional<std::uint64_t> StatusKiB(pid_t pid, std::string_view field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string word;
  while (status >> word) {
    if (word == field) {
      std::uint64_t kib = 0;
      if (status >> kib) return kib;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

bool ProcessAlive(pid_t pid) {
  return kill(pid, 0) == 0 || errno == EPERM;
}

Appender::Appender(const std::string& path, bool truncate)
    : fd_(open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0),
               0644)) {}

Appender::~Appender() {
  if (fd_ >= 0) close(fd_);
}

bool Appender::Append(std::string_view bytes) {
  const ssize_t written = write(fd_, bytes.data(), bytes.size());
  return written == static_cast<ssize_t>(bytes.size());
}

ChangeWaiter::ChangeWaiter() : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

ChangeWaiter::~ChangeWaiter() {
  if (fd_ >= 0) close(fd_);
}

bool ChangeWaiter::Watch(const std::string& directory) {
  return fd_ >= 0 &&
         inotify_add_watch(fd_, directory.c_str(), IN_MODIFY | IN_CREATE | IN_MOVED_TO) >= 0;
}

bool ChangeWaiter::WaitUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (left.count() <= 0) return false;
  pollfd ready{fd_, POLLIN, 0};
  if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) return false;
  // Which file changed does not matter: the followers look for themselves.
  alignas(inotify_event) std::array<char, 4096> events;
  while (read(fd_, events.data(), events.size()) > 0) {
  }
  return true;
}

FileFollower::FileFollower(std::string path) : path_(std::move(path)) {
  struct stat info {};
  if (stat(path_.c_str(), &info) == 0) offset_ = static_cast<std::uint64_t>(info.st_size);
}

FileFollower::~FileFollower() {
  if (fd_ >= 0) close(fd_);
}

void FileFollower::Catch() {
  if (fd_ < 0) fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return;
  std::array<char, 64 * 1024> buffer;
  while (true) {
    const ssize_t got = pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(offset_));
    if (got <= 0) return;
    bytes_.append(buffer.data(), static_cast<std::size_t>(got));
    offset_ += static_cast<std::uint64_t>(got);
  }
}

bool FileFollower::WaitForSize(std::size_t size, ChangeWaiter& waiter, Clock::time_point deadline) {
  while (true) {
    Catch();
    if (bytes_.size() >= size) return true;
    if (!waiter.WaitUntil(deadline)) {
      Catch();
      return bytes_.size() >= size;
    }
  }
}

Child::Child(const std::vector<std::string>& arguments, const std::string& outputPath) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  waitpid(pid_, &status, 0);
}

}  // namespace velk::bench
