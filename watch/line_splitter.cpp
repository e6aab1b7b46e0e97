// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/line_splitter.h"

#include <algorithm>
#include <utility>

namespace velk {

std::optional<LineSummary> LineSplitter::Next(std::string_view bytes, std::size_t& position) {
  while (position < bytes.size()) {
    const char byte = bytes[position];
    if (afterCr_) {
      afterCr_ = false;
      if (byte == '\n') {  // the second half of a CR LF
        ++position;
        continue;
      }
    }
    if (byte == '\r' || byte == '\n') {
      ++position;
      afterCr_ = byte == '\r';
      const bool takenBefore = taken_;
      LineSummary ended = std::exchange(line_, LineSummary{});
      inLine_ = false;
      taken_ = false;
      if (!takenBefore) return ended;
      continue;
    }
    const std::size_t end = std::min(bytes.find_first_of("\r\n", position), bytes.size());
    if (!taken_) AddText(bytes.substr(position, end - position));
    inLine_ = true;
    position = end;
  }
  return std::nullopt;
}

LineSummary LineSplitter::TakeUnendedLine() {
  taken_ = true;
  return std::exchange(line_, LineSummary{});
}

void LineSplitter::ContinueAfter(std::optional<LineSummary> unended, bool afterCr) {
  Reset();
  afterCr_ = afterCr;
  if (!unended) return;
  line_ = std::move(*unended);
  inLine_ = true;
}

void LineSplitter::AddText(std::string_view text) {
  line_.hasMarker = line_.hasMarker || text.find(kSyncMarker) != std::string_view::npos;
  if (line_.head.size() < kLineBytesUsed) {
    line_.head.append(text.substr(0, kLineBytesUsed - line_.head.size()));
  }
}

}  // namespace velk
