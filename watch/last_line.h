// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Finding the last line of a decode file from its end.
//
// A line ends at a carriage return, a line feed, or a carriage return
// followed by a line feed; the line end is not part of the line. If the file
// ends without a line end, the text after the last line end is the last line;
// if it ends with one, the last line is the last complete line. This is
// exactly what reading the file line by line from its start and keeping the
// last line read gives, found by reading backwards in chunks so that the cost
// does not grow with the file and the memory does not grow with the line.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "watch/decode_line.h"

namespace velk {

namespace platform {
class ReadOnlyFile;
}

// What the program needs of a decode file's line: its first bytes (as many
// as the fields use) and whether the sync marker "*" stands anywhere in it.
// However long the line, this is all that is kept of it.
struct LineSummary {
  std::string head;  // at most kLineBytesUsed bytes
  bool hasMarker = false;

  friend bool operator==(const LineSummary&, const LineSummary&) = default;
};

// The outcome of reading a file's last line.
struct LastLineRead {
  bool failed = false;              // a read failed: nothing is known
  std::optional<LineSummary> line;  // empty when the file holds no line
  // Whether the bytes read end with a line end (CR or LF). Without one the
  // last line may still be being written and its text be incomplete.
  bool lineEnded = false;
  // Whether they end with a CR, which the LF of a CR LF may still follow.
  bool endsWithCr = false;
};

// Read the whole file, however long it is now.
inline constexpr std::uint64_t kWholeFile = std::numeric_limits<std::uint64_t>::max();

// The last line of the first `upTo` bytes of an open file (of all of it when
// it is shorter), read backwards in chunks of `chunkBytes`. On failure, or
// when there are no bytes, the caller keeps the line it had.
LastLineRead ReadLastLine(platform::ReadOnlyFile& file, std::size_t chunkBytes = 64 * 1024,
                          std::uint64_t upTo = kWholeFile);

}  // namespace velk
