#include "common/path.h"

#include "common/platform.h"

namespace velk {

std::string JoinPath(const std::string& directory, const std::string& name) {
  std::string path = directory;
  path += platform::PathSeparator();
  path += name;
  return path;
}

std::string FolderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  if (separator == 0) return path.substr(0, 1);
  return path.substr(0, separator);
}

std::string CurrentDirectory() {
  // A working directory that was removed has no name; "." still names it, so
  // the decode file is looked for there and simply not found.
  return platform::WorkingDirectory().value_or(".");
}

}  // namespace velk
