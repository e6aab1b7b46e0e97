#pragma once

// The file access the watch loop needs, behind a seam so that tests can make
// any of it fail.

#include <cstdint>
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
};

// The real file system.
class DiskDecodeFiles final : public DecodeFileAccess {
 public:
  std::optional<platform::FileStatus> Status(const std::string& path) override;
  std::unique_ptr<platform::ReadOnlyFile> Open(const std::string& path) override;
  std::optional<std::string> ModificationDate(const std::string& path) override;
};

}  // namespace velk
