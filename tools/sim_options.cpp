// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/sim_options.h"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace velk::sim {
namespace {

std::optional<std::uint64_t> WholeNumber(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> FiniteNumber(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// "A-B" split into "A" and "B"; "A" alone into "A" and "A". The "-" of an
// exponent ("1e-3") or of a leading sign splits nothing.
std::pair<std::string_view, std::string_view> RangeParts(std::string_view text) {
  for (std::size_t at = 1; at < text.size(); ++at) {
    if (text[at] == '-' && text[at - 1] != 'e' && text[at - 1] != 'E') {
      return {text.substr(0, at), text.substr(at + 1)};
    }
  }
  return {text, text};
}

std::optional<LineEnd> LineEndNamed(std::string_view name) {
  if (name == "crlf") return LineEnd::kCrLf;
  if (name == "lf") return LineEnd::kLf;
  if (name == "cr") return LineEnd::kCr;
  return std::nullopt;
}

bool IsDecodeTime(std::string_view text) {
  if (text.size() != 4) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const int hours = (text[0] - '0') * 10 + (text[1] - '0');
  const int minutes = (text[2] - '0') * 10 + (text[3] - '0');
  return hours < 24 && minutes < 60;
}

// Stores one option's value; the error text when the value does not fit.
using ValueSetter = std::function<std::optional<std::string>(SimOptions&, std::string_view)>;

ValueSetter WholeSetter(std::uint64_t SimOptions::*field, std::uint64_t minimum) {
  return
      [field, minimum](SimOptions& options, std::string_view text) -> std::optional<std::string> {
        const auto value = WholeNumber(text);
        if (!value || *value < minimum) {
          return "needs a whole number of at least " + std::to_string(minimum);
        }
        options.*field = *value;
        return std::nullopt;
      };
}

const std::map<std::string_view, ValueSetter>& Setters() {
  static const std::map<std::string_view, ValueSetter> setters = {
      {"--file",
       [](SimOptions& options, std::string_view text) -> std::optional<std::string> {
         if (text.empty()) return "needs a file path";
         options.file = text;
         return std::nullopt;
       }},
      {"--interval",
       [](SimOptions& options, std::string_view text) -> std::optional<std::string> {
         const auto [low, high] = RangeParts(text);
         const auto least = FiniteNumber(low);
         const auto most = FiniteNumber(high);
         if (!least || !most || *least < 0 || *most < *least || *most > 86400) {
           return "needs seconds from 0 to 86400, or a range of them MIN-MAX";
         }
         options.intervalSeconds = *least;
         options.intervalMostSeconds = *most;
         return std::nullopt;
       }},
      {"--count", WholeSetter(&SimOptions::count, 0)},
      {"--burst",
       [](SimOptions& options, std::string_view text) -> std::optional<std::string> {
         const auto [low, high] = RangeParts(text);
         const auto least = WholeNumber(low);
         const auto most = WholeNumber(high);
         if (!least || !most || *least < 1 || *most < *least) {
           return "needs a whole number of at least 1, or a range of them MIN-MAX";
         }
         options.burst = *least;
         options.burstMost = *most;
         return std::nullopt;
       }},
      {"--line-end",
       [](SimOptions& options, std::string_view text) -> std::optional<std::string> {
         const auto lineEnd = LineEndNamed(text);
         if (!lineEnd) return "needs crlf, lf or cr";
         options.lineEnd = *lineEnd;
         return std::nullopt;
       }},
      {"--unmarked",
       [](SimOptions& options, std::string_view text) -> std::optional<std::string> {
         const auto value = FiniteNumber(text);
         if (!value || *value < 0 || *value > 1) return "needs a share from 0 to 1";
         options.unmarkedShare = *value;
         return std::nullopt;
       }},
      {"--split-pause", WholeSetter(&SimOptions::splitPauseMs, 0)},
      {"--split-at",
       [](SimOptions& options, std::string_view text) -> std::optional<std::string> {
         const auto value = WholeNumber(text);
         if (!value || *value < 2) return "needs a column of at least 2";
         options.splitAt = *value;
         return std::nullopt;
       }},
      {"--truncate-every", WholeSetter(&SimOptions::truncateEvery, 0)},
      {"--replace-every", WholeSetter(&SimOptions::replaceEvery, 0)},
      {"--change-pause", WholeSetter(&SimOptions::changePauseMs, 0)},
      {"--seed",
       [](SimOptions& options, std::string_view text) -> std::optional<std::string> {
         const auto value = WholeNumber(text);
         if (!value) return "needs a whole number";
         options.seed = *value;
         return std::nullopt;
       }},
      {"--time",
       [](SimOptions& options, std::string_view text) -> std::optional<std::string> {
         if (!IsDecodeTime(text)) return "needs a time HHMM, 0000 to 2359";
         options.fixedTime = std::string(text);
         return std::nullopt;
       }},
      {"--echo",
       [](SimOptions& options, std::string_view text) -> std::optional<std::string> {
         if (text.empty()) return "needs a file path";
         options.echoFile = text;
         return std::nullopt;
       }},
  };
  return setters;
}

}  // namespace

ParsedOptions ParseSimOptions(std::span<const std::string_view> arguments) {
  SimOptions options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string_view name = arguments[i];
    if (name == "--help" || name == "-h") return HelpRequest{};

    std::optional<std::string_view> value;
    if (const auto equals = name.find('='); name.starts_with("--") && equals != name.npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
    }
    const auto setter = Setters().find(name);
    if (setter == Setters().end()) {
      return OptionError{"unknown option '" + std::string(arguments[i]) + "'"};
    }
    if (!value) {
      if (i + 1 == arguments.size()) return OptionError{std::string(name) + " needs a value"};
      value = arguments[++i];
    }
    if (const auto problem = setter->second(options, *value)) {
      return OptionError{std::string(name) + " " + *problem + ", not '" + std::string(*value) +
                         "'"};
    }
  }
  if (options.echoFile == options.file) {
    return OptionError{"--echo must name another file than --file"};
  }
  return options;
}

std::string UsageText() {
  return R"(Usage: velk_decoder_sim [OPTION]...
Stands in for the decoder: appends decode lines to a decode file, the way
the decoder does, so that VELK_LOG can be tried, shown and measured.

Each line carries the decode's fields at their fixed columns: the time HHMM
(UTC) in 1-4, sync ending in 9, dB in 10-14, DT in 15-19, DF in 20-24, W in
25-29, the sync marker "*" in 31 and from 36 a message of callsigns with a
grid, report or sign-off, for example
  0712    3  -23  0.3   -5    3 *    ABC DEF GH
Each line (or burst of lines) goes into the file with one write call on a
file opened for appending, unless --split-pause or --split-at asks for two.

Options (a value follows as the next argument or after "="):
  --file PATH           decode file to append to (default ./ALL.TXT); created
                        when missing
  --interval SECONDS    pause between writes, fractions allowed (default 1);
                        0 writes as fast as possible; MIN-MAX draws each
                        pause at random from that range
  --count N             number of lines to write, then exit (default 0: until
                        stopped with Ctrl-C or SIGTERM)
  --burst N             lines per write call (default 1); the pause comes
                        between bursts; MIN-MAX draws each burst's number
                        of lines at random from that range
  --line-end crlf|lf|cr line end after every line (default crlf)
  --unmarked SHARE      share of lines written without the "*" marker, from
                        0 to 1 (default 0)
  --split-pause MS      write each line (or burst) in two pieces with MS
                        milliseconds between them, like a decoder caught in
                        the middle of a write (default 0: one piece)
  --split-at COLUMN     1-based column of the last line at which the second
                        piece starts (default: the middle of its message,
                        after the marker); implies splitting
  --truncate-every N    cut the file to length 0 after every N lines
                        (default 0: never)
  --replace-every N     after every N lines write the next lines into a new
                        file PATH.sim-new and rename it over the decode file
                        (default 0: never); that write is never split
  --change-pause MS     pause MS milliseconds more before cutting or
                        replacing the file, as an operator who clears it
                        does between decodes (default 0)
  --seed N              seed of the random values, to repeat a run
                        (default: a fresh seed, printed to standard error)
  --time HHMM           stamp every line with this time instead of the
                        clock's UTC time of day
  --echo PATH           also append every line written to PATH, whole and in
                        order; PATH is never truncated or replaced, so it
                        keeps the record of everything written
  --help, -h            show this text and exit

Exit status: 0 when the count is reached or a stop was asked for, 1 when a
write failed, 2 for a bad command line.
)";
}

}  // namespace velk::sim
