// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/sim_line.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velk::sim {
namespace {

constexpr std::size_t kTimeWidth = 4;
constexpr std::size_t kNumberWidth = 5;
constexpr std::string_view kMarkerGap = " ";      // column 30
constexpr std::string_view kMessageGap = "    ";  // columns 32-35

std::string RightAligned(std::string text, std::size_t width) {
  if (text.size() < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string TenthsText(int tenths) {
  std::string text = tenths < 0 ? "-" : "";
  const int magnitude = std::abs(tenths);
  text += std::to_string(magnitude / 10);
  text += '.';
  text += static_cast<char>('0' + magnitude % 10);
  return text;
}

std::string FourCharacters(std::string_view time) {
  std::string text(time.substr(0, kTimeWidth));
  text.resize(kTimeWidth, ' ');
  return text;
}

char RandomLetter(std::mt19937_64& random) {
  return static_cast<char>('A' + std::uniform_int_distribution<int>(0, 25)(random));
}

char RandomDigit(std::mt19937_64& random) {
  return static_cast<char>('0' + std::uniform_int_distribution<int>(0, 9)(random));
}

int RandomInt(std::mt19937_64& random, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random);
}

// One or two letters, a digit, one to three letters: "K1ABC", "DL2XY".
std::string RandomCallsign(std::mt19937_64& random) {
  std::string call;
  const int prefixLetters = RandomInt(random, 1, 2);
  for (int i = 0; i < prefixLetters; ++i) call += RandomLetter(random);
  call += RandomDigit(random);
  const int suffixLetters = RandomInt(random, 1, 3);
  for (int i = 0; i < suffixLetters; ++i) call += RandomLetter(random);
  return call;
}

// A Maidenhead square: two letters A-R, two digits ("FN42").
std::string RandomGrid(std::mt19937_64& random) {
  std::string grid;
  grid += static_cast<char>('A' + RandomInt(random, 0, 17));
  grid += static_cast<char>('A' + RandomInt(random, 0, 17));
  grid += RandomDigit(random);
  grid += RandomDigit(random);
  return grid;
}

// A signal report "-12", "+05", optionally with the "R" of a roger.
std::string RandomReport(std::mt19937_64& random, bool roger) {
  const int report = RandomInt(random, -24, 9);
  std::string text = roger ? "R" : "";
  text += report < 0 ? '-' : '+';
  const int magnitude = std::abs(report);
  text += static_cast<char>('0' + magnitude / 10);
  text += static_cast<char>('0' + magnitude % 10);
  return text;
}

std::string RandomMessage(std::mt19937_64& random) {
  const std::string to = RandomCallsign(random);
  const std::string from = RandomCallsign(random);
  switch (RandomInt(random, 0, 5)) {
    case 0:
      return "CQ " + from + " " + RandomGrid(random);
    case 1:
      return to + " " + from + " " + RandomGrid(random);
    case 2:
      return to + " " + from + " " + RandomReport(random, false);
    case 3:
      return to + " " + from + " " + RandomReport(random, true);
    case 4:
      return to + " " + from + " RRR";
    default:
      return to + " " + from + " 73";
  }
}

}  // namespace

std::string FormatDecodeLine(const SimDecode& decode) {
  std::string line = FourCharacters(decode.time);
  line += RightAligned(std::to_string(std::clamp(decode.sync, 0, 99)), kNumberWidth);
  line += RightAligned(std::to_string(std::clamp(decode.dB, -999, 9999)), kNumberWidth);
  line += RightAligned(TenthsText(std::clamp(decode.dtTenths, -999, 9999)), kNumberWidth);
  line += RightAligned(std::to_string(std::clamp(decode.DF, -9999, 99999)), kNumberWidth);
  line += RightAligned(std::to_string(std::clamp(decode.W, -9999, 99999)), kNumberWidth);
  line += kMarkerGap;
  line += decode.marked ? '*' : ' ';
  line += kMessageGap;
  line += decode.message;
  return line;
}

std::string_view LineEndText(LineEnd lineEnd) {
  switch (lineEnd) {
    case LineEnd::kLf:
      return "\n";
    case LineEnd::kCr:
      return "\r";
    case LineEnd::kCrLf:
      break;
  }
  return "\r\n";
}

SimDecode RandomDecode(std::mt19937_64& random, std::string_view time, double unmarkedShare) {
  SimDecode decode;
  decode.time = FourCharacters(time);
  decode.sync = RandomInt(random, 1, 20);
  decode.dB = RandomInt(random, -30, 10);
  decode.dtTenths = RandomInt(random, -25, 25);
  decode.DF = RandomInt(random, -999, 999);
  decode.W = RandomInt(random, 1, 5);
  const double share = std::isnan(unmarkedShare) ? 0.0 : std::clamp(unmarkedShare, 0.0, 1.0);
  decode.marked = !std::bernoulli_distribution(share)(random);
  decode.message = RandomMessage(random);
  return decode;
}

}  // namespace velk::sim
