// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/field_number.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <string>
#include <system_error>

namespace velk {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsExponentLetter(char c) {
  return c == 'E' || c == 'e' || c == 'D' || c == 'd';
}

bool IsSign(char c) {
  return c == '+' || c == '-';
}

std::string WithoutBlanks(std::string_view text) {
  std::string kept;
  kept.reserve(text.size());
  std::copy_if(text.begin(), text.end(), std::back_inserter(kept),
               [](char c) { return !IsBlank(c); });
  return kept;
}

// The value of `c` as a digit of `base` (8 or 16), or -1 when it is none.
int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  }
  return value < base ? value : -1;
}

// An &H / &O integer: up to FFFF it is a 16-bit signed integer, above that a
// 32-bit signed one, and of longer digit runs only the low 32 bits count.
double RadixIntegerValue(std::string_view digits, int base) {
  std::uint64_t low32 = 0;
  bool beyond16Bits = false;
  for (char c : digits) {
    const int digit = DigitValue(c, base);
    if (digit < 0) break;
    low32 = low32 * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    beyond16Bits = beyond16Bits || low32 > 0xFFFF;
    low32 &= 0xFFFFFFFFu;
  }
  if (!beyond16Bits) return static_cast<std::int16_t>(low32);
  return static_cast<std::int32_t>(low32);
}

// The pieces of the longest leading decimal number of a text.
struct DecimalNumber {
  bool negative = false;
  std::string_view integerDigits;
  std::string_view fractionDigits;
  bool exponentNegative = false;
  std::string_view exponentDigits;  // empty when there is no exponent
};

std::string_view LeadingDigits(std::string_view text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && IsDecimalDigit(text[end])) ++end;
  return text.substr(from, end - from);
}

DecimalNumber ScanDecimal(std::string_view text) {
  DecimalNumber number;
  std::size_t at = 0;
  if (at < text.size() && IsSign(text[at])) number.negative = text[at++] == '-';
  number.integerDigits = LeadingDigits(text, at);
  at += number.integerDigits.size();
  if (at < text.size() && text[at] == '.') {
    number.fractionDigits = LeadingDigits(text, at + 1);
    at += 1 + number.fractionDigits.size();
  }
  // An exponent letter counts only when digits follow it (after an optional sign).
  if (at < text.size() && IsExponentLetter(text[at])) {
    std::size_t digitsAt = at + 1;
    const bool hasSign = digitsAt < text.size() && IsSign(text[digitsAt]);
    if (hasSign) ++digitsAt;
    const std::string_view exponent = LeadingDigits(text, digitsAt);
    if (!exponent.empty()) {
      number.exponentNegative = hasSign && text[at + 1] == '-';
      number.exponentDigits = exponent;
    }
  }
  return number;
}

// The number's decimal exponent e such that |value| = 0.d1d2... * 10^e with
// d1 non-zero; only used to tell overflow from underflow, so the exponent
// field is clamped far beyond the double range.
long DecimalMagnitude(const DecimalNumber& number) {
  constexpr long kClamp = 1'000'000;
  long exponent = 0;
  for (char c : number.exponentDigits) exponent = std::min(exponent * 10 + (c - '0'), kClamp);
  if (number.exponentNegative) exponent = -exponent;

  const auto firstNonZero = number.integerDigits.find_first_not_of('0');
  if (firstNonZero != std::string_view::npos) {
    return exponent + static_cast<long>(number.integerDigits.size() - firstNonZero);
  }
  const auto zerosAfterPoint =
      std::min(number.fractionDigits.find_first_not_of('0'), number.fractionDigits.size());
  return exponent - static_cast<long>(zerosAfterPoint);
}

double DecimalValue(const DecimalNumber& number) {
  if (number.integerDigits.empty() && number.fractionDigits.empty()) return 0;

  std::string normal;
  if (number.negative) normal += '-';
  normal += number.integerDigits.empty() ? std::string_view("0") : number.integerDigits;
  if (!number.fractionDigits.empty()) normal.append(".").append(number.fractionDigits);
  if (!number.exponentDigits.empty()) {
    normal.append(number.exponentNegative ? "e-" : "e").append(number.exponentDigits);
  }

  double value = 0;
  const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (error == std::errc::result_out_of_range) {
    value = DecimalMagnitude(number) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    if (number.negative) value = -value;
  }
  return value;
}

bool StartsWithRadixPrefix(std::string_view text, char upper) {
  return text.size() >= 2 && text[0] == '&' && (text[1] == upper || text[1] == upper + ('a' - 'A'));
}

// Significant digits (trailing zeros dropped) and decimal exponent of a
// finite non-zero magnitude, rounded to `precision` significant digits:
// magnitude = d1.d2d3... * 10^exponent.
struct RoundedDigits {
  std::string digits;
  int exponent = 0;
};

template <typename Number>
RoundedDigits RoundToDigits(Number magnitude, int precision) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, magnitude,
                                    std::chars_format::scientific, precision - 1);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const auto e = text.find('e');

  RoundedDigits rounded;
  for (char c : text.substr(0, e)) {
    if (c != '.') rounded.digits += c;
  }
  rounded.digits.erase(rounded.digits.find_last_not_of('0') + 1);
  const std::string_view exponent = text.substr(e + 1);
  const std::size_t skipPlus = exponent.front() == '+' ? 1 : 0;
  std::from_chars(exponent.data() + skipPlus, exponent.data() + exponent.size(), rounded.exponent);
  return rounded;
}

std::string PlainNotation(const RoundedDigits& rounded) {
  const auto& digits = rounded.digits;
  const int exponent = rounded.exponent;
  std::string text;
  if (exponent < 0) {
    text.push_back('.');
    text.append(static_cast<std::size_t>(-exponent - 1), '0').append(digits);
    return text;
  }
  const auto integerPlaces = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= integerPlaces) {
    text.assign(digits).append(integerPlaces - digits.size(), '0');
  } else {
    text.assign(digits, 0, integerPlaces).append(".").append(digits, integerPlaces);
  }
  return text;
}

std::string ExponentNotation(const RoundedDigits& rounded) {
  std::string text = rounded.digits.substr(0, 1);
  if (rounded.digits.size() > 1) text.append(".").append(rounded.digits.substr(1));
  text += rounded.exponent < 0 ? "E-" : "E+";
  const int magnitude = std::abs(rounded.exponent);
  if (magnitude < 10) text += '0';
  text += std::to_string(magnitude);
  return text;
}

// Plain notation is used while it needs no more digit places than the
// precision allows, counting the zeros right after the point below 1.
bool FitsPlain(const RoundedDigits& rounded, int precision) {
  if (rounded.exponent >= 0) return rounded.exponent + 1 <= precision;
  const int zerosAfterPoint = -rounded.exponent - 1;
  return zerosAfterPoint + static_cast<int>(rounded.digits.size()) <= precision;
}

template <typename Number>
std::string NumberText(Number value, int precision) {
  if (std::isnan(value)) return " NaN";
  const std::string sign = std::signbit(value) ? "-" : " ";
  if (std::isinf(value)) return sign + "Inf";
  if (value == 0) return " 0";
  const RoundedDigits rounded = RoundToDigits(std::abs(value), precision);
  return sign +
         (FitsPlain(rounded, precision) ? PlainNotation(rounded) : ExponentNotation(rounded));
}

}  // namespace

double FieldValue(std::string_view text) {
  const std::string kept = WithoutBlanks(text);
  const std::string_view view(kept);
  if (StartsWithRadixPrefix(view, 'H')) return RadixIntegerValue(view.substr(2), 16);
  if (StartsWithRadixPrefix(view, 'O')) return RadixIntegerValue(view.substr(2), 8);
  return DecimalValue(ScanDecimal(view));
}

float RoundToSingle(double value) {
  constexpr float kLargest = std::numeric_limits<float>::max();
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  // Halfway between the largest float and 2^128: from here on round to
  // nearest gives infinity, below it the largest float.
  constexpr double kOverflow = 0x1.ffffffp+127;
  const double magnitude = std::abs(value);
  float rounded = 0;
  if (std::isnan(value)) {
    rounded = std::numeric_limits<float>::quiet_NaN();
  } else if (magnitude >= kOverflow) {
    rounded = kInfinity;
  } else if (magnitude > kLargest) {
    rounded = kLargest;
  } else {
    rounded = static_cast<float>(magnitude);
  }
  return std::signbit(value) ? -rounded : rounded;
}

std::string FieldText(double value) {
  return NumberText(value, 15);
}

std::string FieldText(float value) {
  return NumberText(value, 7);
}

}  // namespace velk
