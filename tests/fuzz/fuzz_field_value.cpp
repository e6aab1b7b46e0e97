// SPDX-License-Identifier: GPL-3.0-or-later
// FieldValue and FieldText on arbitrary input: they never fail, FieldValue
// reads what a plain reference reading of the same rules reads, and
// FieldValue gives back what FieldText wrote, to the digits it wrote (15
// significant digits for a double, 7 for a single).
//
// The input is read three ways: all of it as a field's text, its first 8
// bytes as a double and its first 4 bytes as a float.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_check.h"
#include "watch/field_number.h"

namespace {

using velk::fuzz::Check;

// `value` rounded to `digits` significant digits by the C library.
double RoundedTo(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*e", digits - 1, value);
  return std::strtod(text, nullptr);
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The &H / &O rules, read from the digits: leading zeros do not count; a
// value that fits 16 bits is a signed 16-bit integer, any larger one the
// signed 32-bit integer of its low 32 bits.
double ReferenceRadixValue(std::string_view text, int base) {
  const std::string_view digitChars = base == 16 ? "0123456789ABCDEFabcdef" : "01234567";
  std::string_view digits =
      text.substr(0, std::min(text.find_first_not_of(digitChars), text.size()));
  digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));

  std::uint32_t low32 = 0;
  for (const char c : digits) {
    const std::uint32_t digit = IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
    low32 = low32 * static_cast<std::uint32_t>(base) + digit;
  }
  const bool fits16 = base == 16 ? digits.size() <= 4
                                 : digits.size() < 6 || (digits.size() == 6 && digits[0] == '1');
  if (fits16) return static_cast<std::int16_t>(static_cast<std::uint16_t>(low32));
  return static_cast<std::int32_t>(low32);
}

// The longest leading decimal number, rewritten for strtod: sign, digits,
// point and digits, and an exponent only when digits follow its letter.
double ReferenceDecimalValue(std::string_view text) {
  std::string number;
  std::size_t at = 0;
  auto copyDigits = [&] {
    std::size_t count = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at, ++count) number += text[at];
    return count;
  };
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) number += text[at++];
  std::size_t mantissaDigits = copyDigits();
  if (at < text.size() && text[at] == '.') {
    number += text[at++];
    mantissaDigits += copyDigits();
  }
  if (mantissaDigits == 0) return 0;
  if (at + 1 < text.size() && std::string_view("EeDd").find(text[at]) != std::string_view::npos) {
    std::size_t digitsAt = at + 1;
    const bool hasSign = text[digitsAt] == '+' || text[digitsAt] == '-';
    if (hasSign) ++digitsAt;
    if (digitsAt < text.size() && IsDigit(text[digitsAt])) {
      number += 'e';
      if (hasSign) number += text[at + 1];
      at = digitsAt;
      copyDigits();
    }
  }
  return std::strtod(number.c_str(), nullptr);
}

double ReferenceValue(std::string_view raw) {
  std::string text;
  for (const char c : raw) {
    if (c != ' ' && c != '\t' && c != '\n') text += c;
  }
  if (text.size() >= 2 && text[0] == '&') {
    if (text[1] == 'H' || text[1] == 'h')
      return ReferenceRadixValue(std::string_view(text).substr(2), 16);
    if (text[1] == 'O' || text[1] == 'o')
      return ReferenceRadixValue(std::string_view(text).substr(2), 8);
  }
  return ReferenceDecimalValue(text);
}

void CheckSame(double got, double expected, std::string_view text, const char* invariant) {
  if (got == expected) return;
  std::fprintf(stderr, "text \"%.*s\": read %.17g, expected %.17g\n", static_cast<int>(text.size()),
               text.data(), got, expected);
  Check(false, invariant);
}

template <typename Number>
void CheckRoundTrip(Number value, int digits) {
  if (!std::isfinite(value)) {
    velk::FieldText(value);
    return;
  }
  const std::string text = velk::FieldText(value);
  Check(text[0] == (value < 0 ? '-' : ' '), "FieldText starts with the sign place");
  CheckSame(velk::FieldValue(text), RoundedTo(static_cast<double>(value), digits), text,
            "FieldValue(FieldText(x)) is x to the printed digits");
}

void CheckRoundToSingle(double value) {
  const float single = velk::RoundToSingle(value);
  if (std::isnan(value)) {
    Check(std::isnan(single), "NaN stays NaN");
  } else if (std::abs(value) <= std::numeric_limits<float>::max()) {
    Check(single == static_cast<float>(value), "RoundToSingle rounds to nearest");
  } else {
    Check(std::abs(single) >= std::numeric_limits<float>::max() &&
              std::signbit(single) == std::signbit(value),
          "RoundToSingle beyond the float range");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  const double read = velk::FieldValue(raw);
  Check(!std::isnan(read), "FieldValue never reads NaN");
  CheckSame(read, ReferenceValue(raw), raw, "FieldValue reads the leading number");
  CheckRoundTrip(read, 15);
  CheckRoundToSingle(read);
  CheckRoundTrip(velk::RoundToSingle(read), 7);

  if (size >= sizeof(double)) {
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    CheckRoundTrip(value, 15);
    CheckRoundToSingle(value);
  }
  if (size >= sizeof(float)) {
    float value = 0;
    std::memcpy(&value, data, sizeof value);
    CheckRoundTrip(value, 7);
  }
  return 0;
}
