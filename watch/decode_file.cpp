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

// A file opened at a path whose volume's serial number was asked a moment
// ago: its identity is that volume's and the file's own index.
class OnKnownVolume final : public platform::ReadOnlyFile {
 public:
  OnKnownVolume(std::unique_ptr<ReadOnlyFile> file, std::uint64_t volume)
      : file_(std::move(file)), volume_(volume) {}

  std::optional<std::uint64_t> Size() override { return file_->Size(); }

  std::optional<platform::FileIdentity> Identity() override {
    const std::optional<std::uint64_t> index = file_->Index();
    if (!index) return std::nullopt;
    return platform::FileIdentity{volume_, *index};
  }

  std::optional<std::uint64_t> Index() override { return file_->Index(); }

  std::optional<std::size_t> ReadAt(std::uint64_t offset, char* buffer,
                                    std::size_t count) override {
    return file_->ReadAt(offset, buffer, count);
  }

 private:
  std::unique_ptr<ReadOnlyFile> file_;
  std::uint64_t volume_;
};

}  // namespace

DiskDecodeFiles::DiskDecodeFiles(FileClock now)
    : now_(now ? std::move(now) : FileClock(&std::chrono::steady_clock::now)),
      localAppData_(platform::LocalAppDataFolder()),
      systemDrive_(platform::SystemDrive()) {}

// A file whose size and date, asked by name, are those it had when its
// identity was taken keeps that identity for a while: each open costs a
// round trip to the system (under Wine to its server), and a watch loop that
// polls many times a second would spend most of its time on them. Once they
// change, or a change was notified, the file's index is asked through a
// handle; the volume's serial number, a far longer question, only once
// kIdentityRecheck has passed since it was last asked.
std::optional<platform::FileStatus> DiskDecodeFiles::Status(const std::string& path) {
  if (changeNotified_.exchange(false)) {
    for (auto& [knownPath, known] : known_) known.indexDue = true;
  }
  const std::optional<platform::NamedFileStatus> named = platform::NamedStatusOf(path);
  if (!named) {
    known_.erase(path);
    return std::nullopt;
  }
  if (named->identity) return platform::FileStatus{named->size, named->modified, *named->identity};
  const std::chrono::steady_clock::time_point now = now_();
  const auto found = known_.find(path);
  if (found != known_.end() && now - found->second.volumeTaken < kIdentityRecheck) {
    Known& known = found->second;
    if (known.indexDue || known.size != named->size || known.modified != named->modified) {
      const std::optional<std::uint64_t> index = IndexOf(path);
      if (!index) {
        known_.erase(found);
        return std::nullopt;
      }
      known = Known{
          named->size, named->modified, {known.identity.volume, *index}, known.volumeTaken, false};
    }
    return platform::FileStatus{named->size, named->modified, known.identity};
  }
  const std::optional<platform::FileStatus> status = platform::StatusOf(path);
  if (!status) {
    known_.erase(path);
    return std::nullopt;
  }
  known_[path] = Known{status->size, status->modified, status->identity, now, false};
  return status;
}

std::optional<std::uint64_t> DiskDecodeFiles::IndexOf(const std::string& path) {
  const std::unique_ptr<platform::ReadOnlyFile> file = platform::ReadOnlyFile::Open(path);
  if (!file) return std::nullopt;
  return file->Index();
}

std::unique_ptr<platform::ReadOnlyFile> DiskDecodeFiles::Open(const std::string& path) {
  std::unique_ptr<platform::ReadOnlyFile> file = platform::ReadOnlyFile::Open(path);
  const auto found = known_.find(path);
  if (!file || found == known_.end() || now_() - found->second.volumeTaken >= kIdentityRecheck) {
    return file;
  }
  return std::make_unique<OnKnownVolume>(std::move(file), found->second.identity.volume);
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
