// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes as a decode line: cutting the fields and building both
// renderings never fails, and the texts keep their shape whatever the line
// holds.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_check.h"
#include "watch/decode_line.h"

namespace {

using velk::fuzz::Check;

constexpr std::string_view kFileDate = "2009/08/22";

// What FieldText may write: a sign place, digits, a point, an exponent, or
// one of " Inf", "-Inf", " NaN". Never a comma, a quote or a line end, which
// would break the log record.
bool IsNumberText(std::string_view text) {
  if (text.empty() || (text[0] != ' ' && text[0] != '-')) return false;
  return text.size() > 1 &&
         text.substr(1).find_first_not_of("0123456789.E+-InfNa") == std::string_view::npos;
}

std::size_t Commas(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), ','));
}

void CheckFields(std::string_view line, const velk::DecodeFields& fields) {
  Check(fields.time == line.substr(0, std::min<std::size_t>(line.size(), 4)),
        "time is the first four bytes");
  Check(fields.message == velk::CutField(line, 36, 18), "display message is columns 36-53");
  for (const double value : {fields.sync, fields.dB, fields.DT, fields.DF}) {
    Check(IsNumberText(velk::FieldText(value)), "double field text");
  }
  Check(IsNumberText(velk::FieldText(fields.W)), "single field text");
}

void CheckDisplayLine(const velk::DecodeFields& fields, const std::string& display) {
  const std::string head = std::string(kFileDate) + " " + fields.time + "z   Sync=";
  const std::string tail = "     " + fields.message + "\r\n";
  Check(display.starts_with(head), "display line starts with date, time and Sync=");
  Check(display.size() >= head.size() + tail.size() && display.ends_with(tail),
        "display line ends with the message and CR LF");
  const std::string_view numbers =
      std::string_view(display).substr(head.size(), display.size() - head.size() - tail.size());
  Check(numbers.find("  dB=") != std::string_view::npos &&
            numbers.find("  W=") != std::string_view::npos,
        "display line carries the labels");
}

void CheckLogRecord(std::string_view line, const velk::DecodeFields& fields,
                    const velk::LogRecord& record) {
  const std::string text = record.Line();
  Check(text == record.pieceOne + record.pieceTwo + "\r\n", "log line is the two pieces and CR LF");
  Check(text.starts_with(fields.time + ","), "log line starts with the time field");
  Check(record.pieceOne.size() > fields.time.size() &&
            Commas(record.pieceOne) == Commas(fields.time) + 4,
        "piece one is time and four numbers");
  const std::string quoted = "\"" + std::string(velk::CutField(line, 36, 22)) + "\"";
  Check(record.pieceTwo.starts_with(",") && record.pieceTwo.ends_with(", " + quoted),
        "piece two is W and the quoted log message");
  Check(Commas(record.pieceTwo) == 2 + Commas(quoted), "piece two holds one number");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const velk::DecodeFields fields = velk::CutFields(line);
  CheckFields(line, fields);
  CheckDisplayLine(fields, velk::DisplayLine(kFileDate, fields));
  CheckLogRecord(line, fields, velk::BuildLogRecord(fields, line));
  return 0;
}
