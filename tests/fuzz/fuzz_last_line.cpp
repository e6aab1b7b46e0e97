// SPDX-License-Identifier: GPL-3.0-or-later
// The backward last-line reader against the forward reference reader on
// arbitrary file contents, chunk sizes and read failures.
//
// Input: two bytes choose the chunk size (1..300), one byte a read that fails
// (low three bits: the 1-based index of the failing read, 0 for none; bit 3:
// the read returns short, as when the file shrinks, instead of an error);
// the rest is the file.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "common/platform.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/lines_forwards.h"
#include "watch/last_line.h"

namespace {

using velk::fuzz::Check;

constexpr std::size_t kHeaderBytes = 3;
constexpr std::size_t kLargestChunk = 300;

// A read-only file over the fuzzer's bytes (which sit in a buffer of their
// exact size, so any read past them is caught by AddressSanitizer), with an
// optional failing read, counting what is read.
class MemoryFile final : public velk::platform::ReadOnlyFile {
 public:
  MemoryFile(std::string_view bytes, int failingRead, bool failShort)
      : bytes_(bytes), failingRead_(failingRead), failShort_(failShort) {}

  std::optional<std::uint64_t> Size() override { return bytes_.size(); }
  std::optional<velk::platform::FileIdentity> Identity() override {
    return velk::platform::FileIdentity{};
  }

  std::optional<std::size_t> ReadAt(std::uint64_t offset, char* buffer,
                                    std::size_t count) override {
    ++reads_;
    Check(offset <= bytes_.size(), "reads start inside the file");
    const std::size_t available = std::min<std::size_t>(count, bytes_.size() - offset);
    if (reads_ == failingRead_) {
      failed_ = true;
      if (!failShort_ || available == 0) return std::nullopt;
      std::memcpy(buffer, bytes_.data() + offset, available - 1);
      return available - 1;
    }
    std::memcpy(buffer, bytes_.data() + offset, available);
    bytesRead_ += available;
    return available;
  }

  bool failed() const { return failed_; }
  std::size_t bytesRead() const { return bytesRead_; }

 private:
  std::string_view bytes_;
  int failingRead_;
  bool failShort_;
  int reads_ = 0;
  bool failed_ = false;
  std::size_t bytesRead_ = 0;
};

bool IsLineEnd(char c) {
  return c == '\r' || c == '\n';
}

// The full length of the last line, found without the reader under test:
// drop one line end at the end of the file, then count back to the previous
// line end.
std::size_t LastLineLength(std::string_view bytes) {
  if (bytes.ends_with("\r\n")) {
    bytes.remove_suffix(2);
  } else if (!bytes.empty() && IsLineEnd(bytes.back())) {
    bytes.remove_suffix(1);
  }
  std::size_t length = 0;
  while (length < bytes.size() && !IsLineEnd(bytes[bytes.size() - 1 - length])) ++length;
  return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderBytes) return 0;
  const std::size_t chunkBytes = 1 + ((data[0] << 8) | data[1]) % kLargestChunk;
  const int failingRead = data[2] & 7;
  const bool failShort = (data[2] & 8) != 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + kHeaderBytes,
                               size - kHeaderBytes);

  // Half the time only a leading part, as far as a length polled earlier.
  const std::uint64_t upTo = (data[2] & 16) != 0 ? data[1] % (bytes.size() + 1) : velk::kWholeFile;
  const std::string_view part = bytes.substr(0, std::min<std::uint64_t>(upTo, bytes.size()));

  MemoryFile file(bytes, failingRead, failShort);
  const velk::LastLineRead read = velk::ReadLastLine(file, chunkBytes, upTo);
  if (file.failed()) {
    Check(read.failed && !read.line, "a failed read is reported and gives no line");
    return 0;
  }
  Check(!read.failed, "no failure without a failed read");
  Check(read.line == velk::test_lines::LastLineReadForwards(part), "backwards and forwards agree");
  const char last = part.empty() ? '\0' : part.back();
  Check(read.lineEnded == (last == '\n' || last == '\r'), "a final line end is told");
  Check(read.endsWithCr == (last == '\r'), "a final carriage return is told");
  Check(file.bytesRead() <= 2 + LastLineLength(part) + chunkBytes,
        "only the last line and one chunk before it are read");
  return 0;
}
