// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/last_line.h"

#include <algorithm>
#include <array>
#include <vector>

#include "common/platform.h"

namespace velk {

namespace {

bool IsLineEnd(char byte) {
  return byte == '\r' || byte == '\n';
}

// The line's bytes found so far while walking backwards: the leftmost
// kLineBytesUsed of them, and whether any of them was the marker.
class LineFromTheBack {
 public:
  // Puts `part`, which stands directly left of everything seen so far, in
  // front of it.
  void Prepend(std::string_view part) {
    hasMarker_ = hasMarker_ || part.find(kSyncMarker) != std::string_view::npos;
    if (part.size() >= kLineBytesUsed) {
      head_.assign(part.substr(0, kLineBytesUsed));
      return;
    }
    head_.resize(std::min(head_.size(), kLineBytesUsed - part.size()));
    head_.insert(0, part);
  }

  LineSummary Line() && { return LineSummary{std::move(head_), hasMarker_}; }

 private:
  std::string head_;
  bool hasMarker_ = false;
};

// Reads exactly `count` bytes at `offset`; a short read means the file
// shrank under us, which counts as a failed read.
bool ReadExactly(platform::ReadOnlyFile& file, std::uint64_t offset, char* buffer,
                 std::size_t count) {
  const std::optional<std::size_t> got = file.ReadAt(offset, buffer, count);
  return got && *got == count;
}

// Where the last line's text ends, and the line end that follows it.
struct EndOfText {
  std::uint64_t offset;
  bool lineEnded;
  bool endsWithCr;
};

// The end of the last line's text: before the line end the bytes end with,
// if any. A final LF preceded by CR is one CR LF line end.
std::optional<EndOfText> EndOfLastLine(platform::ReadOnlyFile& file, std::uint64_t size) {
  std::array<char, 2> tail{};
  const std::size_t count = size >= 2 ? 2 : 1;
  if (!ReadExactly(file, size - count, tail.data(), count)) return std::nullopt;
  const char last = tail[count - 1];
  if (last == '\n') {
    const bool crBefore = count == 2 && tail[0] == '\r';
    return EndOfText{size - (crBefore ? 2 : 1), true, false};
  }
  if (last == '\r') return EndOfText{size - 1, true, true};
  return EndOfText{size, false, false};
}

// The index just past the last line end in `bytes`, or nullopt when it holds
// none.
std::optional<std::size_t> AfterLastLineEnd(std::string_view bytes) {
  for (std::size_t i = bytes.size(); i > 0; --i) {
    if (IsLineEnd(bytes[i - 1])) return i;
  }
  return std::nullopt;
}

}  // namespace

LastLineRead ReadLastLine(platform::ReadOnlyFile& file, std::size_t chunkBytes,
                          std::uint64_t upTo) {
  const LastLineRead failed{true, std::nullopt};
  const std::optional<std::uint64_t> fileSize = file.Size();
  if (!fileSize) return failed;
  const std::uint64_t size = std::min(*fileSize, upTo);
  if (size == 0) return {};

  const std::optional<EndOfText> end = EndOfLastLine(file, size);
  if (!end) return failed;
  const std::uint64_t lineEnd = end->offset;

  chunkBytes = std::max<std::size_t>(chunkBytes, 1);
  std::vector<char> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(chunkBytes, lineEnd)));
  LineFromTheBack line;
  std::uint64_t unread = lineEnd;  // bytes before this offset are not read yet
  while (unread > 0) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), unread));
    const std::uint64_t offset = unread - count;
    if (!ReadExactly(file, offset, chunk.data(), count)) return failed;
    const std::string_view bytes(chunk.data(), count);
    const std::optional<std::size_t> lineStart = AfterLastLineEnd(bytes);
    line.Prepend(bytes.substr(lineStart.value_or(0)));
    if (lineStart) break;
    unread = offset;
  }
  return LastLineRead{false, std::move(line).Line(), end->lineEnded, end->endsWithCr};
}

}  // namespace velk
