// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The command line of the decoder simulator.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "tools/sim_line.h"

namespace velk::sim {

struct SimOptions {
  std::string file = "ALL.TXT";
  // The pause between writes, and the lines in one write: each drawn anew
  // for every write, up to the "most" value when that is larger.
  double intervalSeconds = 1.0;
  double intervalMostSeconds = 1.0;
  std::uint64_t count = 0;  // 0: until stopped
  std::uint64_t burst = 1;
  std::uint64_t burstMost = 1;
  LineEnd lineEnd = LineEnd::kCrLf;
  double unmarkedShare = 0.0;
  std::uint64_t splitPauseMs = 0;        // 0: every write in one piece
  std::optional<std::uint64_t> splitAt;  // 1-based column; unset: middle of the message
  std::uint64_t truncateEvery = 0;       // 0: never
  std::uint64_t replaceEvery = 0;        // 0: never
  std::uint64_t changePauseMs = 0;       // extra pause before a truncate or replace
  std::optional<std::uint64_t> seed;     // unset: a fresh random seed
  std::optional<std::string> fixedTime;  // "HHMM" instead of the clock
  std::string echoFile;                  // empty: no echo

  bool Splits() const { return splitPauseMs > 0 || splitAt.has_value(); }
};

struct HelpRequest {};

struct OptionError {
  std::string message;
};

using ParsedOptions = std::variant<SimOptions, HelpRequest, OptionError>;

// Reads the arguments after the program name. Every option takes its value
// as the next argument or after "=" ("--count 5", "--count=5").
ParsedOptions ParseSimOptions(std::span<const std::string_view> arguments);

// The text printed for --help.
std::string UsageText();

}  // namespace velk::sim
