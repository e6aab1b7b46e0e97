// velk_expected_log: prints the log records that VELK_LOG writes for the
// decode lines in a file, one record per line that carries the sync marker
// "*", in the file's order, byte for byte as they go into the log file.
// The soak run compares the real log with this.
//
// Usage: velk_expected_log DECODE_FILE > EXPECTED_LOG

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>

#include "watch/decode_line.h"

namespace {

// Calls `each` with every line of `bytes`; a line ends at CR, LF or CR LF,
// and text after the last line end is a line too.
template <typename Each>
void ForEachLine(std::string_view bytes, Each each) {
  std::size_t next = 0;
  while (next < bytes.size()) {
    const std::size_t end = bytes.find_first_of("\r\n", next);
    if (end == std::string_view::npos) {
      each(bytes.substr(next));
      return;
    }
    each(bytes.substr(next, end - next));
    const bool crLf = bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n';
    next = end + (crLf ? 2 : 1);
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::cerr << "Usage: velk_expected_log DECODE_FILE > EXPECTED_LOG\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "velk_expected_log: cannot read " << argv[1] << "\n";
    return 1;
  }
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::string records;
  ForEachLine(bytes, [&records](std::string_view line) {
    if (line.find('*') == std::string_view::npos) return;
    records += velk::BuildLogRecord(velk::CutFields(line), line).Line();
  });
  std::cout.write(records.data(), static_cast<std::streamsize>(records.size()));
  std::cout.flush();
  return std::cout ? 0 : 1;
}
