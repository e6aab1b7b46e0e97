// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/path.h"

#include <array>
#include <cctype>

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

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

}  // namespace

std::optional<std::string> VirtualStorePath(std::string_view path, std::string_view localAppData,
                                            std::string_view systemDrive) {
  static constexpr std::array<std::string_view, 3> kVirtualised = {
      "Program Files", "Program Files (x86)", "Windows"};
  if (localAppData.empty() || systemDrive.size() < 2 || path.size() < 3 ||
      !SameLetters(path.substr(0, 2), systemDrive.substr(0, 2)) || path[1] != ':' ||
      !IsSeparator(path[2])) {
    return std::nullopt;
  }
  // The path after "C:\", cut into its names: the first must be a
  // virtualised folder, and a file below it must follow.
  const std::string_view below = path.substr(3);
  bool first = true;
  bool virtualised = false;
  std::size_t names = 0;
  for (std::size_t start = 0; start <= below.size();) {
    std::size_t end = start;
    while (end < below.size() && !IsSeparator(below[end])) ++end;
    const std::string_view name = below.substr(start, end - start);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    if (first) {
      for (const std::string_view folder : kVirtualised) virtualised |= SameLetters(name, folder);
      first = false;
    }
    ++names;
    start = end + 1;
  }
  if (!virtualised || names < 2) return std::nullopt;
  std::string store(localAppData);
  while (!store.empty() && IsSeparator(store.back())) store.pop_back();
  if (store.empty()) return std::nullopt;
  store += "\\VirtualStore\\";
  store += below;
  return store;
}

std::optional<std::string> PrivateFolderIn(std::string_view xdgStateHome, std::string_view home) {
  if (xdgStateHome.starts_with('/')) return std::string(xdgStateHome) + "/VELK_LOG";
  if (home.empty()) return std::nullopt;
  std::string folder(home);
  if (!folder.ends_with('/')) folder += '/';
  return folder + ".local/state/VELK_LOG";
}

}  // namespace velk
