// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Numbers in the decode line's fields: read from a field's bytes and
// written back as text for the display line and the log record.

#include <string>
#include <string_view>

namespace velk {

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

}  // namespace velk
