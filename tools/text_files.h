// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Helpers shared by the tools and the benchmarks: whole files, lines, and the
// time stamp the decoder puts on its lines.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::tools {

// The whole file, byte for byte; nullopt when it cannot be opened.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Calls `each` with every line of `text` in order. A line ends at CR, LF or
// CR LF, and the line end is not part of it; text after the last line end is
// a line too.
template <typename Each>
void ForEachLine(std::string_view text, Each each) {
  std::size_t next = 0;
  while (next < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", next);
    if (end == std::string_view::npos) {
      each(text.substr(next));
      return;
    }
    each(text.substr(next, end - next));
    const bool crLf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    next = end + (crLf ? 2 : 1);
  }
}

// The lines of `text`, as ForEachLine finds them.
std::vector<std::string> SplitLines(std::string_view text);

// "HHMM" of the current UTC time of day, as the decoder stamps its lines.
std::string UtcDecodeTime();

}  // namespace velk::tools
