#include "common/path.h"

#include "common/platform.h"

namespace velk {

std::string JoinPath(const std::string& directory, const std::string& name) {
  std::string path = directory;
  path += platform::PathSeparator();
  path += name;
  return path;
}

std::string CurrentDirectory() {
  // A working directory that was removed has no name; "." still names it, so
  // the decode file is looked for there and simply not found.
  return platform::WorkingDirectory().value_or(".");
}

}  // namespace velk
