#pragma once

// The decode line: where its fields stand, how numbers are read from them
// and written back, and the two texts built from one line (the display line
// for the window and the log record for the log file).
//
// Everything here works on bytes. The decode file is 8-bit text; columns
// count bytes and fields keep the decoder's bytes unchanged.

#include <cstddef>
#include <string>
#include <string_view>

namespace velk {

// A field of a decode line: at most `width` bytes starting at the 1-based
// column `startColumn`; shorter when the line ends earlier, empty when the
// line is shorter than the start column. Column 0 counts as column 1.
std::string_view CutField(std::string_view line, std::size_t startColumn, std::size_t width);

// The number at the start of a field, read the way classic BASIC's Val reads
// it: blanks removed everywhere first, &H / &O integers, otherwise the
// longest leading decimal number with an optional E or D exponent; 0 when
// there is none.
//
// &H / &O: up to FFFF the digits are a 16-bit signed integer (&HFFFF is -1),
// up to FFFFFFFF a 32-bit signed one (&H10000 is 65536, &HFFFFFFFF is -1),
// and of longer runs only the low 32 bits count, as a signed integer. A digit
// outside the base ends the number.
//
// Decimal: an exponent letter without digits after it is not part of the
// number ("1e+" reads 1). The result is correctly rounded; a number beyond
// the double range reads as an infinity of its sign, one too small for the
// smallest subnormal as a zero of its sign ("-0" reads as negative zero).
double FieldValue(std::string_view text);

// A double rounded to single precision to nearest, without undefined
// behaviour out of range: magnitudes that round past the largest float
// become an infinity of their sign; NaN stays NaN.
float RoundToSingle(double value);

// A number as text, the way classic BASIC's Str writes it: a sign place
// (space or "-"), then the magnitude to 15 significant digits for a double
// and 7 for a single, without trailing zeros and without a zero before the
// point below 1; exponent form only when plain notation would need more
// digit places than that.
//
// Plain notation counts the zeros right after the point of a magnitude below
// 1 as digit places: the double 1E-15 is " .000000000000001" but 2E-16 is
// " 2E-16"; 123456789012345 stays plain, 1E+15 is not. The exponent form is
// the rounded mantissa ("9.876543"), "E", the exponent's sign and at least
// two digits: " 9.876543E+07", "-1.5E-08", " 1E+100".
//
// Zero of either sign is " 0". Infinities are " Inf" and "-Inf", NaN is
// " NaN".
std::string FieldText(double value);
std::string FieldText(float value);

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
