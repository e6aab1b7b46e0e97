// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Decode lines as the decoder writes them, for the decoder simulator: the
// fields at their fixed columns, and random but plausible decodes.

#include <random>
#include <string>
#include <string_view>

namespace velk::sim {

// One decode before it is put into columns.
struct SimDecode {
  std::string time;     // "HHMM", columns 1-4
  int sync = 0;         // right-aligned, ends in column 9
  int dB = 0;           // right-aligned in columns 10-14 (column 10 stays blank)
  int dtTenths = 0;     // DT in tenths of a second, "%.1f" in columns 15-19
  int DF = 0;           // right-aligned in columns 20-24
  int W = 0;            // right-aligned in columns 25-29
  bool marked = true;   // "*" in column 31
  std::string message;  // from column 36

  double DT() const { return dtTenths / 10.0; }

  friend bool operator==(const SimDecode&, const SimDecode&) = default;
};

// The 1-based column of the sync marker.
inline constexpr std::size_t kMarkerColumn = 31;
// The longest message written: the log record's message columns.
inline constexpr std::size_t kMaxMessageLength = 22;

// The decode as one line, without a line end, e.g.
// "0712    3  -23  0.3   -5    3 *    ABC DEF GH". Values too wide for
// their columns are clamped (sync 0..99, dB -999..9999, DT -99.9..999.9,
// DF -9999..99999, W -9999..99999) and the time is cut or padded to four
// characters, so every field always stands in its columns.
std::string FormatDecodeLine(const SimDecode& decode);

enum class LineEnd { kCrLf, kLf, kCr };

std::string_view LineEndText(LineEnd lineEnd);

// A random decode at `time` ("HHMM"): sync 1..20, dB -30..10, DT -2.5..2.5,
// DF -999..999, W 1..5, a message of callsigns with a grid, report or
// sign-off; unmarked with probability `unmarkedShare`.
SimDecode RandomDecode(std::mt19937_64& random, std::string_view time, double unmarkedShare);

}  // namespace velk::sim
