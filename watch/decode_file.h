#pragma once

// The file access the watch loop needs, behind a seam so that tests can make
// any of it fail.

#include <cstdint>
#include <optional>
#include <string>

#include "watch/last_line.h"

namespace velk {

class DecodeFileAccess {
 public:
  virtual ~DecodeFileAccess() = default;

  // The length in bytes of the regular file at `path`; nullopt when it is
  // missing or not a regular file.
  virtual std::optional<std::uint64_t> Length(const std::string& path) = 0;

  // Opens the file, reads the last line of its first `upTo` bytes and closes
  // it again.
  virtual LastLineRead ReadLastLine(const std::string& path, std::uint64_t upTo) = 0;

  // The file's last-modification date in local time as "yyyy/mm/dd";
  // nullopt when it cannot be read.
  virtual std::optional<std::string> ModificationDate(const std::string& path) = 0;
};

// The real file system.
class DiskDecodeFiles final : public DecodeFileAccess {
 public:
  std::optional<std::uint64_t> Length(const std::string& path) override;
  LastLineRead ReadLastLine(const std::string& path, std::uint64_t upTo) override;
  std::optional<std::string> ModificationDate(const std::string& path) override;
};

// A directory and a file name joined with the platform's separator.
std::string JoinPath(const std::string& directory, const std::string& name);

// The current working directory, as text.
std::string CurrentDirectory();

}  // namespace velk
