// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The reference the decode file's readers are checked against: its lines
// read forwards from the start, one after the other, as plainly as can be.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/text_files.h"
#include "watch/last_line.h"

namespace velk::test_lines {

// What the program keeps of a line: its head and whether it holds "*".
inline LineSummary Summarise(std::string_view line) {
  return LineSummary{std::string(line.substr(0, kLineBytesUsed)),
                     line.find('*') != std::string_view::npos};
}

// Every line of `bytes`; text after the last line end is a line too.
inline std::vector<LineSummary> AllLinesForwards(std::string_view bytes) {
  std::vector<LineSummary> lines;
  tools::ForEachLine(bytes, [&lines](std::string_view line) { lines.push_back(Summarise(line)); });
  return lines;
}

// The last line of `bytes`; nullopt when they hold no line (are empty).
inline std::optional<LineSummary> LastLineReadForwards(std::string_view bytes) {
  std::vector<LineSummary> lines = AllLinesForwards(bytes);
  if (lines.empty()) return std::nullopt;
  return std::move(lines.back());
}

}  // namespace velk::test_lines
