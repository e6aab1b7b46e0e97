// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/text_files.h"

#include <chrono>
#include <fstream>
#include <iterator>

namespace velk::tools {

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  ForEachLine(text, [&lines](std::string_view line) { lines.emplace_back(line); });
  return lines;
}

std::string UtcDecodeTime() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const hh_mm_ss timeOfDay{floor<minutes>(now - floor<days>(now))};
  std::string text;
  for (const long part : {static_cast<long>(timeOfDay.hours().count()),
                          static_cast<long>(timeOfDay.minutes().count())}) {
    text += static_cast<char>('0' + part / 10);
    text += static_cast<char>('0' + part % 10);
  }
  return text;
}

}  // namespace velk::tools
