// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The file access the watch loop needs, behind a seam so that tests can make
// any of it fail. The watcher makes every call on its disk worker's thread,
// one at a time (watcher.h).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "common/platform.h"

namespace velk {

class DecodeFileAccess {
 public:
  virtual ~DecodeFileAccess() = default;

  // The length, modification time and identity of the regular file at
  // `path`; nullopt when it is missing or not a regular file.
  virtual std::optional<platform::FileStatus> Status(const std::string& path) = 0;

  // Opens the regular file at `path` for reading; nullptr when it cannot be.
  virtual std::unique_ptr<platform::ReadOnlyFile> Open(const std::string& path) = 0;

  // The file's last-modification date in local time as "yyyy/mm/dd";
  // nullopt when it cannot be read.
  virtual std::optional<std::string> ModificationDate(const std::string& path) = 0;

  // The other place the decode file at `path` may be: the copy Windows keeps
  // for a legacy decoder writing into a protected folder (see
  // VirtualStorePath). Nullopt when there is none to look at.
  virtual std::optional<std::string> VirtualCopyOf(const std::string& /*path*/) {
    return std::nullopt;
  }
};

using FileClock = std::function<std::chrono::steady_clock::time_point()>;

// How long an identity taken through a handle stands for a file whose size
// and date, asked by name, stay as they were. A file replaced by one of the
// same size and date is told within this time.
inline constexpr std::chrono::milliseconds kIdentityRecheck{1000};

// The real file system. A status is asked by the file's name; where the
// system tells the identity only through an open handle (Windows), the file
// is opened for it only when its size or date changed or after
// ChangeNotified(), and its volume asked only once kIdentityRecheck has
// passed since the last time: a file opened meanwhile at the same path is on
// that volume, and told apart by its index.
class DiskDecodeFiles final : public DecodeFileAccess {
 public:
  // `now` tells when an identity was taken; the steady clock when empty.
  explicit DiskDecodeFiles(FileClock now = {});

  std::optional<platform::FileStatus> Status(const std::string& path) override;
  std::unique_ptr<platform::ReadOnlyFile> Open(const std::string& path) override;
  std::optional<std::string> ModificationDate(const std::string& path) override;
  std::optional<std::string> VirtualCopyOf(const std::string& path) override;

  // A change notification fired for a folder the window watches: the next
  // status of each path takes the identity through a handle. Called on the
  // window's thread, while a status may be asked on the watcher's.
  void ChangeNotified() { changeNotified_ = true; }

 private:
  struct Known {
    std::uint64_t size = 0;
    std::time_t modified = 0;
    platform::FileIdentity identity;
    std::chrono::steady_clock::time_point volumeTaken;  // when the volume was asked
    bool indexDue = false;  // a change was notified since the index was taken
  };

  static std::optional<std::uint64_t> IndexOf(const std::string& path);

  FileClock now_;
  std::atomic<bool> changeNotified_{false};
  // The identity taken last through handles, by path; only paths found.
  std::map<std::string, Known, std::less<>> known_;
  std::optional<std::string> localAppData_;
  std::optional<std::string> systemDrive_;
};

}  // namespace velk
