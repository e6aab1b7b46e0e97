// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/path.h"
#include "common/platform.h"

namespace velk::platform {

char PathSeparator() {
  return '/';
}

std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  return local;
}

namespace {

FileIdentity IdentityOf(const struct stat& status) {
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
}

}  // namespace

std::optional<FileStatus> StatusOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0) {
    return std::nullopt;
  }
  return FileStatus{static_cast<std::uint64_t>(status.st_size), status.st_mtime,
                    IdentityOf(status)};
}

std::optional<NamedFileStatus> NamedStatusOf(const std::string& path) {
  const std::optional<FileStatus> status = StatusOf(path);
  if (!status) return std::nullopt;
  return NamedFileStatus{status->size, status->modified, status->identity};
}

std::optional<std::string> LocalAppDataFolder() {
  return std::nullopt;
}

std::optional<std::string> SystemDrive() {
  return std::nullopt;
}

namespace {

std::string_view Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A folder that is a folder (not a link to one), the operator's own, and
// closed to everyone else, so that nothing in it can be read, replaced or
// planted by another user.
bool KeepPrivate(const std::string& folder) {
  struct stat status {};
  if (::lstat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
      status.st_uid != ::geteuid()) {
    return false;
  }
  return (status.st_mode & 077) == 0 || ::chmod(folder.c_str(), 0700) == 0;
}

}  // namespace

unsigned long ProcessId() {
  return static_cast<unsigned long>(::getpid());
}

std::optional<std::string> PrivateFolderPath() {
  return PrivateFolderIn(Environment("XDG_STATE_HOME"), Environment("HOME"));
}

bool MakePrivateFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(folder).parent_path(), error);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return KeepPrivate(folder);
}

std::optional<std::string> WorkingDirectory() {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  if (error) return std::nullopt;
  return current.string();
}

namespace {

class PosixReadOnlyFile final : public ReadOnlyFile {
 public:
  explicit PosixReadOnlyFile(int fd) : fd_(fd) {}
  ~PosixReadOnlyFile() override { ::close(fd_); }
  PosixReadOnlyFile(const PosixReadOnlyFile&) = delete;
  PosixReadOnlyFile& operator=(const PosixReadOnlyFile&) = delete;

  std::optional<std::uint64_t> Size() override {
    struct stat status {};
    if (::fstat(fd_, &status) != 0 || status.st_size < 0) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
  }

  std::optional<FileIdentity> Identity() override {
    struct stat status {};
    if (::fstat(fd_, &status) != 0) return std::nullopt;
    return IdentityOf(status);
  }

  std::optional<std::size_t> ReadAt(std::uint64_t offset, char* buffer,
                                    std::size_t count) override {
    std::size_t done = 0;
    while (done < count) {
      const ssize_t got =
          ::pread(fd_, buffer + done, count - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return std::nullopt;
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

 private:
  int fd_;
};

int OpenRetryingInterrupts(const char* path, int flags, mode_t mode = 0) {
  int fd = -1;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Writes `bytes` at the end of `fd` in one call, retrying only when a signal
// interrupted the call before anything was written. The number of bytes
// written, or -1 when none could be.
ssize_t WriteOnce(int fd, std::string_view bytes) {
  ssize_t wrote = -1;
  do {
    wrote = ::write(fd, bytes.data(), bytes.size());
  } while (wrote < 0 && errno == EINTR);
  return wrote;
}

// Where the `wrote` bytes just appended to `fd` begin, or -1 when nothing
// was written or the file is not a regular file. An appending write leaves
// the offset right after what it wrote.
off_t StartOfAppend(int fd, ssize_t wrote, bool regular) {
  if (!regular || wrote <= 0) return -1;
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  return end >= wrote ? end - wrote : -1;
}

// The system's message for `error`. Thread-safe, whichever strerror_r the C
// library has: GNU's returns the message, the XSI one fills the buffer.
[[maybe_unused]] const char* MessageFrom(const char* message, const char*) {
  return message;
}
[[maybe_unused]] const char* MessageFrom(int, const char* buffer) {
  return buffer;
}
std::string SystemMessage(int error) {
  char buffer[256] = {};
  return MessageFrom(::strerror_r(error, buffer, sizeof buffer), buffer);
}

// A write to a regular file that stops short sets no error; the write of
// the rest fails with the reason (a full disk, a file size limit). Only to
// learn it: whatever the two wrote is cut off again.
int ReasonForShortWrite(int fd, std::string_view rest) {
  return WriteOnce(fd, rest) < 0 ? errno : EIO;
}

// Cuts the file back to `length` bytes, the length it had before this
// append; nothing when that length is not known (negative).
void CutBack(int fd, off_t length) {
  while (length >= 0 && ::ftruncate(fd, length) != 0 && errno == EINTR) {
  }
}

}  // namespace

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(const std::string& path) {
  // O_NONBLOCK keeps a FIFO put in the file's place from blocking the open.
  const int fd = OpenRetryingInterrupts(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixReadOnlyFile>(fd);
}

Creation CreateNewFile(const std::string& path) {
  const int fd = OpenRetryingInterrupts(path.c_str(),
                                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) return ::close(fd) == 0 ? Creation::kMade : Creation::kFailed;
  return errno == EEXIST ? Creation::kNameTaken : Creation::kFailed;
}

bool IsOwnFile(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         status.st_uid == ::geteuid();
}

AppendOutcome Append(const std::string& path, std::string_view bytes, Durability durability,
                     AppendTarget target) {
  const int opening = target == AppendTarget::kOwnFile ? O_NOFOLLOW : O_CREAT;
  const int fd = OpenRetryingInterrupts(
      path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK | opening, 0666);
  if (fd < 0) return {false, SystemMessage(errno)};
  struct stat status {};
  const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);

  const ssize_t wrote = WriteOnce(fd, bytes);
  int error = wrote < 0 ? errno : 0;
  bool written = wrote >= 0 && static_cast<std::size_t>(wrote) == bytes.size();
  // Only the bytes this call put there are ever cut off, so records that
  // stood in the file before stay untouched whatever happens.
  const off_t start = StartOfAppend(fd, wrote, regular);
  if (wrote >= 0 && !written) {
    error =
        start >= 0 ? ReasonForShortWrite(fd, bytes.substr(static_cast<std::size_t>(wrote))) : EIO;
  }
  // A short write left part of the record behind: cut it off again.
  if (!written) CutBack(fd, start);
  if (written && durability == Durability::kOnDisk && regular) {
    while (::fsync(fd) != 0) {
      if (errno == EINTR) continue;
      written = false;
      error = errno;
      // Cut back, so that a record that may not be on the disk is written
      // again whole rather than standing twice.
      CutBack(fd, start);
      break;
    }
  }
  const bool closed = ::close(fd) == 0;
  if (written && !closed) {
    error = errno;
    // The data may not have reached the file; take it out so that the
    // record can be written again without appearing twice.
    while (start >= 0 && ::truncate(path.c_str(), start) != 0 && errno == EINTR) {
    }
  }
  if (written && closed) return {true, {}};
  return {false, SystemMessage(error)};
}

void FlushToDisk(const std::string& path) {
  const int fd = OpenRetryingInterrupts(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return;
  while (::fsync(fd) != 0 && errno == EINTR) {
  }
  ::close(fd);
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

void IgnoreBrokenPipes() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace velk::platform
