#include "common/path.h"

#include "common/platform.h"

namespace velk {

std::string JoinPath(const std::string& directory, const std::string& name) {
  std::string path = directory;
  path += platform::PathSeparator();
  path += name;
  return path;
}

}  // namespace velk
