// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/decode_file.h"

#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>

#include "common/path.h"
#include "common/platform.h"

namespace velk {

namespace {

// "yyyy/mm/dd" of a broken-down local time.
std::string DateText(const std::tm& local) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return text;
}

}  // namespace

DiskDecodeFiles::DiskDecodeFiles(FileClock now)
    : now_(now ? std::move(now) : FileClock(&std::chrono::steady_clock::now)),
      localAppData_(platform::LocalAppDataFolder()),
      systemDrive_(platform::SystemDrive()) {}

// A file whose size and date, asked by name, are those it had when its
// identity was taken keeps that identity for a while: each open costs a
// round trip to the system (under Wine to its server), and a watch loop that
// polls many times a second would spend most of its time on them.
std::optional<platform::FileStatus> DiskDecodeFiles::Status(const std::string& path) {
  if (changeNotified_.exchange(false)) known_.clear();
  const std::optional<platform::NamedFileStatus> named = platform::NamedStatusOf(path);
  if (!named) {
    known_.erase(path);
    return std::nullopt;
  }
  if (named->identity) return platform::FileStatus{named->size, named->modified, *named->identity};
  const std::chrono::steady_clock::time_point now = now_();
  const auto found = known_.find(path);
  if (found != known_.end() && found->second.size == named->size &&
      found->second.modified == named->modified && now - found->second.taken < kIdentityRecheck) {
    return platform::FileStatus{named->size, named->modified, found->second.identity};
  }
  const std::optional<platform::FileStatus> status = platform::StatusOf(path);
  if (!status) {
    known_.erase(path);
    return std::nullopt;
  }
  known_[path] = Known{status->size, status->modified, status->identity, now};
  return status;
}

std::unique_ptr<platform::ReadOnlyFile> DiskDecodeFiles::Open(const std::string& path) {
  return platform::ReadOnlyFile::Open(path);
}

std::optional<std::string> DiskDecodeFiles::ModificationDate(const std::string& path) {
  const std::optional<platform::NamedFileStatus> status = platform::NamedStatusOf(path);
  if (!status) return std::nullopt;
  return DateText(platform::LocalTime(status->modified));
}

std::optional<std::string> DiskDecodeFiles::VirtualCopyOf(const std::string& path) {
  if (!localAppData_ || !systemDrive_) return std::nullopt;
  return VirtualStorePath(path, *localAppData_, *systemDrive_);
}

}  // namespace velk
