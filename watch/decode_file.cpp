#include "watch/decode_file.h"

#include <cstdio>
#include <ctime>
#include <memory>

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

std::optional<platform::FileStatus> DiskDecodeFiles::Status(const std::string& path) {
  return platform::StatusOf(path);
}

std::unique_ptr<platform::ReadOnlyFile> DiskDecodeFiles::Open(const std::string& path) {
  return platform::ReadOnlyFile::Open(path);
}

std::optional<std::string> DiskDecodeFiles::ModificationDate(const std::string& path) {
  const std::optional<platform::FileStatus> status = platform::StatusOf(path);
  if (!status) return std::nullopt;
  return DateText(platform::LocalTime(status->modified));
}

}  // namespace velk
