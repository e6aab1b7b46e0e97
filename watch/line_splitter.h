// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Cutting a decode file into lines as its bytes are read forwards, a piece
// at a time, however the pieces fall: a line, or its CR LF, may be split
// across two reads, and the reads may be far apart in time.
//
// A line ends at a CR, an LF, or a CR followed by an LF; the line end is not
// part of the line. Of each line only its summary is kept (LineSummary), so
// memory does not grow with the line.

#include <cstddef>
#include <optional>
#include <string_view>

#include "watch/last_line.h"

namespace velk {

class LineSplitter {
 public:
  // Reads `bytes` from `position` on up to the end of the next line and
  // returns it, with `position` just after its line end. When the bytes end
  // inside a line, returns nullopt with `position` at their end: the line
  // goes on with the next bytes given.
  std::optional<LineSummary> Next(std::string_view bytes, std::size_t& position);

  // Whether a line has begun that has no line end yet and was not taken.
  bool HoldsUnendedLine() const { return inLine_ && !taken_; }

  // Takes the unended line as it stands. The rest of that line, up to and
  // with its line end, is passed over when it comes: the line is taken once.
  LineSummary TakeUnendedLine();

  // Goes on from the end of a line read elsewhere: `unended` is the text of
  // a line without a line end so far; otherwise the line before ended, with
  // a CR when `afterCr` (an LF that follows belongs to it).
  void ContinueAfter(std::optional<LineSummary> unended, bool afterCr);

  // Forgets everything: the next bytes start a line.
  void Reset() { *this = LineSplitter(); }

 private:
  void AddText(std::string_view text);

  LineSummary line_;
  bool inLine_ = false;   // bytes of the current line were seen
  bool taken_ = false;    // the current line was taken before its end
  bool afterCr_ = false;  // the last byte seen was a CR
};

}  // namespace velk
