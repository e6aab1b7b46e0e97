// SPDX-License-Identifier: GPL-3.0-or-later
// velk_expected_log: prints the log records that VELK_LOG writes for the
// decode lines in a file, one record per line that carries the sync marker
// "*", in the file's order, byte for byte as they go into the log file.
// The soak run compares the real log with this.
//
// Usage: velk_expected_log DECODE_FILE > EXPECTED_LOG

#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "tools/text_files.h"
#include "watch/decode_line.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::cerr << "Usage: velk_expected_log DECODE_FILE > EXPECTED_LOG\n";
    return 2;
  }
  const std::optional<std::string> bytes = velk::tools::ReadWholeFile(argv[1]);
  if (!bytes) {
    std::cerr << "velk_expected_log: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::string records;
  velk::tools::ForEachLine(*bytes, [&records](std::string_view line) {
    if (line.find('*') == std::string_view::npos) return;
    records += velk::BuildLogRecord(velk::CutFields(line), line).Line();
  });
  std::cout.write(records.data(), static_cast<std::streamsize>(records.size()));
  std::cout.flush();
  return std::cout ? 0 : 1;
}
