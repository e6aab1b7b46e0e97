// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/decode_line.h"

#include <string>

namespace velk {
namespace {

std::string FieldAt(std::string_view line, Column column) {
  return std::string(CutField(line, column.start, column.width));
}

double NumberAt(std::string_view line, Column column) {
  return FieldValue(CutField(line, column.start, column.width));
}

}  // namespace

std::string_view CutField(std::string_view line, std::size_t startColumn, std::size_t width) {
  const std::size_t offset = startColumn > 0 ? startColumn - 1 : 0;
  if (offset >= line.size()) return {};
  return line.substr(offset, width);
}

DecodeFields CutFields(std::string_view line) {
  DecodeFields fields;
  fields.time = FieldAt(line, kTimeColumn);
  fields.sync = NumberAt(line, kSyncColumn);
  fields.dB = NumberAt(line, kDbColumn);
  fields.DT = NumberAt(line, kDtColumn);
  fields.DF = NumberAt(line, kDfColumn);
  fields.W = RoundToSingle(NumberAt(line, kWColumn));
  fields.message = FieldAt(line, kDisplayMessageColumn);
  return fields;
}

std::string DisplayLine(std::string_view fileDate, const DecodeFields& fields) {
  std::string line(fileDate);
  line.append(" ").append(fields.time);
  line.append("z   Sync=").append(FieldText(fields.sync));
  line.append("  dB=").append(FieldText(fields.dB));
  line.append("  DT=").append(FieldText(fields.DT));
  line.append("  DF=").append(FieldText(fields.DF));
  line.append("  W=").append(FieldText(fields.W));
  line.append("     ").append(fields.message);
  line.append("\r\n");
  return line;
}

std::string LogRecord::Line() const {
  return pieceOne + pieceTwo + "\r\n";
}

LogRecord BuildLogRecord(const DecodeFields& fields, std::string_view line) {
  LogRecord record;
  record.pieceOne = fields.time;
  record.pieceOne.append(",").append(FieldText(fields.sync));
  record.pieceOne.append(",").append(FieldText(fields.dB));
  record.pieceOne.append(",").append(FieldText(fields.DT));
  record.pieceOne.append(",").append(FieldText(fields.DF));
  record.pieceTwo.push_back(',');
  record.pieceTwo.append(FieldText(fields.W)).append(", \"");
  record.pieceTwo.append(CutField(line, kLogMessageColumn.start, kLogMessageColumn.width));
  record.pieceTwo.append("\"");
  return record;
}

}  // namespace velk
