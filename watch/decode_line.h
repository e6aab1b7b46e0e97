// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The decode line: where its fields stand and the two texts built from one
// line (the display line for the window and the log record for the log
// file). How numbers are read from its fields and written back is in
// field_number.h.
//
// Everything here works on bytes. The decode file is 8-bit text; columns
// count bytes and fields keep the decoder's bytes unchanged.

#include <cstddef>
#include <string>
#include <string_view>

#include "watch/field_number.h"

namespace velk {

// A field of a decode line: at most `width` bytes starting at the 1-based
// column `startColumn`; shorter when the line ends earlier, empty when the
// line is shorter than the start column. Column 0 counts as column 1.
std::string_view CutField(std::string_view line, std::size_t startColumn, std::size_t width);

// Columns of the decode line (1-based start, width in bytes).
struct Column {
  std::size_t start;
  std::size_t width;
};
inline constexpr Column kTimeColumn{1, 4};
inline constexpr Column kSyncColumn{8, 3};
inline constexpr Column kDbColumn{10, 5};
inline constexpr Column kDtColumn{15, 5};
inline constexpr Column kDfColumn{20, 5};
inline constexpr Column kWColumn{25, 5};
inline constexpr Column kDisplayMessageColumn{36, 18};
inline constexpr Column kLogMessageColumn{36, 22};

// The bytes of a line that any rendering reads: everything up to the end of
// the log message's columns.
inline constexpr std::size_t kLineBytesUsed = kLogMessageColumn.start - 1 + kLogMessageColumn.width;

// A line is shown and logged only when this stands anywhere in it.
inline constexpr char kSyncMarker = '*';

// The fields cut from one decode line.
struct DecodeFields {
  std::string time;
  double sync = 0;
  double dB = 0;
  double DT = 0;
  double DF = 0;
  float W = 0;          // FieldValue, then RoundToSingle
  std::string message;  // the display message (18 columns)
};

DecodeFields CutFields(std::string_view line);

// The line appended to the window's list, ending in CR LF:
// "2009/08/22 0712z   Sync= 3  dB=-23  DT= .3  DF=-5  W= 3     ABC DEF GH\r\n"
std::string DisplayLine(std::string_view fileDate, const DecodeFields& fields);

// The log record of a decode, as the two pieces written into one line of the
// log file; the log message (22 columns) is cut afresh from the line.
struct LogRecord {
  std::string pieceOne;  // "0712, 3,-23, .3,-5"
  std::string pieceTwo;  // ", 3, \"ABC DEF GH\""

  // The whole line as it goes into the log file: the pieces side by side,
  // then CR LF.
  std::string Line() const;

  friend bool operator==(const LogRecord&, const LogRecord&) = default;
};

LogRecord BuildLogRecord(const DecodeFields& fields, std::string_view line);

}  // namespace velk
