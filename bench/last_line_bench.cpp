// SPDX-License-Identifier: GPL-3.0-or-later
// How long finding a decode file's last line takes, by reading backwards
// from the end against reading the whole file forwards, for files from
// 4 KiB to 4 GiB; and how much memory the backward read takes for a 1 GiB
// line without a line end.
//
// Run: build/release/bench/last_line_bench
// Temporary files go to the system's temporary directory and are removed.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/platform.h"
#include "tests/support/test_files.h"
#include "watch/decode_file.h"
#include "watch/last_line.h"
#include "watch/line_splitter.h"

namespace {

// Heap use of the whole program, so that the reader's own allocations can be
// measured.
std::atomic<std::size_t> heapNow{0};
std::atomic<std::size_t> heapPeak{0};

}  // namespace

// Every allocation carries its size in front of it.
void* operator new(std::size_t size) {
  constexpr std::size_t kHeader = alignof(std::max_align_t);
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) throw std::bad_alloc();
  *reinterpret_cast<std::size_t*>(block) = size;
  const std::size_t now = heapNow += size;
  std::size_t peak = heapPeak.load();
  while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
  }
  return block + kHeader;
}

void operator delete(void* pointer) noexcept {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - alignof(std::max_align_t);
  heapNow -= *reinterpret_cast<std::size_t*>(block);
  std::free(block);
}

void operator delete(void* pointer, std::size_t) noexcept {
  operator delete(pointer);
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint64_t kKiB = 1024;
constexpr std::uint64_t kMiB = 1024 * kKiB;
constexpr std::uint64_t kGiB = 1024 * kMiB;

using velk::test_files::TempDir;

// A decode line of the usual 48 bytes with CR LF, its time taken from `n`.
std::string DecodeLine(std::uint64_t n) {
  char line[64];
  std::snprintf(line, sizeof line, "%04u    3  -23  0.3   -5    3 %c    CQ K1ABC FN42  \r\n",
                static_cast<unsigned>(n % 2400), n % 3 == 0 ? ' ' : '*');
  return line;
}

// Decode lines, `bytes` of them in all; a first line absorbs the remainder
// so that the file ends with whole, ordinary lines.
std::string DecodeLines(std::uint64_t bytes, std::uint64_t first) {
  const std::uint64_t lineBytes = DecodeLine(0).size();
  std::string lines;
  const std::uint64_t pad = bytes % lineBytes;
  if (pad > 0) lines += std::string(pad - 1, '#') + "\n";
  for (std::uint64_t i = 0; i < bytes / lineBytes; ++i) lines += DecodeLine(first + i);
  return lines;
}

// A decode file of `bytes` bytes. Above `sparseFrom` only its last MiB is
// written and the rest left as a hole, which reads as zero bytes.
void MakeDecodeFile(const std::string& path, std::uint64_t bytes, std::uint64_t sparseFrom) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::uint64_t written = 0;
  if (bytes > sparseFrom) {
    out.close();
    std::filesystem::resize_file(path, bytes - kMiB);
    out.open(path, std::ios::binary | std::ios::app);
    written = bytes - kMiB;
  }
  // Whole blocks of lines, then the rest.
  const std::string block = DecodeLines(kMiB - kMiB % DecodeLine(0).size(), written);
  const std::uint64_t rest = (bytes - written) % block.size();
  const std::string head = DecodeLines(rest, 0);
  out.write(head.data(), static_cast<std::streamsize>(head.size()));
  written += head.size();
  while (written < bytes) {
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
    written += block.size();
  }
}

// The last line as the watch loop finds it at Go: backwards from the end.
velk::LastLineRead ReadBackwards(const std::string& path) {
  const std::unique_ptr<velk::platform::ReadOnlyFile> file =
      velk::platform::ReadOnlyFile::Open(path);
  if (!file) return velk::LastLineRead{true, std::nullopt};
  return velk::ReadLastLine(*file);
}

// The whole file read forwards, a chunk at a time, through the watch loop's
// line splitter.
std::optional<velk::LineSummary> ReadForwards(const std::string& path) {
  const auto file = velk::platform::ReadOnlyFile::Open(path);
  if (!file) return std::nullopt;
  std::vector<char> buffer(kMiB);
  velk::LineSplitter splitter;
  std::optional<velk::LineSummary> last;
  std::uint64_t offset = 0;
  while (true) {
    const std::optional<std::size_t> got = file->ReadAt(offset, buffer.data(), buffer.size());
    if (!got || *got == 0) break;
    offset += *got;
    const std::string_view bytes(buffer.data(), *got);
    std::size_t position = 0;
    while (std::optional<velk::LineSummary> line = splitter.Next(bytes, position)) {
      last = std::move(*line);
    }
  }
  if (splitter.HoldsUnendedLine()) last = splitter.TakeUnendedLine();
  return last;
}

template <typename Read>
double SecondsPerRead(int repeats, Read read) {
  const auto start = Clock::now();
  for (int i = 0; i < repeats; ++i) read();
  return std::chrono::duration<double>(Clock::now() - start).count() / repeats;
}

std::string Duration(double seconds) {
  char text[32];
  if (seconds < 1e-3) {
    std::snprintf(text, sizeof text, "%9.2f us", seconds * 1e6);
  } else if (seconds < 1) {
    std::snprintf(text, sizeof text, "%9.2f ms", seconds * 1e3);
  } else {
    std::snprintf(text, sizeof text, "%9.2f s ", seconds);
  }
  return text;
}

// Peak resident memory so far, from /proc where there is one.
std::optional<std::uint64_t> PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmHWM:") {
      std::uint64_t kib = 0;
      if (status >> kib) return kib;
    }
  }
  return std::nullopt;
}

bool MemoryOfALongLine(const TempDir& dir) {
  const std::string path = dir.File("long_line.txt");
  {
    std::ofstream out(path, std::ios::binary);
    out << "0712    3  -23  0.3   -5    3 *    ABC DEF GH";
  }
  std::filesystem::resize_file(path, kGiB);  // the rest is a hole of zero bytes

  const std::optional<std::uint64_t> residentBefore = PeakResidentKiB();
  const std::size_t heapBefore = heapNow;
  heapPeak = heapNow.load();
  const auto start = Clock::now();
  const velk::LastLineRead read = ReadBackwards(path);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const std::size_t heapUsed = heapPeak - heapBefore;
  const std::optional<std::uint64_t> residentAfter = PeakResidentKiB();
  std::filesystem::remove(path);

  std::printf("1 GiB line without line end, read backwards in %s\n", Duration(seconds).c_str());
  std::printf("  reader's peak heap:          %zu bytes\n", heapUsed);
  if (residentBefore && residentAfter) {
    std::printf("  peak resident memory growth: %llu KiB\n",
                static_cast<unsigned long long>(*residentAfter - *residentBefore));
  }
  const bool right = !read.failed && read.line && read.line->hasMarker &&
                     read.line->head.substr(0, 4) == "0712" &&
                     read.line->head.size() == velk::kLineBytesUsed;
  const bool bounded =
      heapUsed < 16 * kMiB && (!residentBefore || *residentAfter - *residentBefore < 16 * kKiB);
  std::printf("  line found: %s; under 16 MiB: %s\n\n", right ? "yes" : "NO",
              bounded ? "yes" : "NO");
  return right && bounded;
}

struct SizeCase {
  const char* name;
  std::uint64_t bytes;
  int backwardRepeats;
  int forwardRepeats;
};

}  // namespace

int main() {
  const TempDir dir;
  bool allRight = MemoryOfALongLine(dir);

  const SizeCase cases[] = {
      {"4 KiB", 4 * kKiB, 20000, 20000},
      {"1 MiB", kMiB, 20000, 100},
      {"1 GiB", kGiB, 20000, 2},
      {"4 GiB", 4 * kGiB, 20000, 1},
  };
  std::printf("%-8s %-28s %14s %14s %12s\n", "file", "content", "backwards", "forwards", "ratio");
  double smallest = 0;
  double largest = 0;
  for (const SizeCase& c : cases) {
    const std::string path = dir.File("ALL.TXT");
    MakeDecodeFile(path, c.bytes, 2 * kGiB);
    velk::LastLineRead backwards;
    const double back = SecondsPerRead(c.backwardRepeats, [&] { backwards = ReadBackwards(path); });
    std::optional<velk::LineSummary> forwards;
    const double forth = SecondsPerRead(c.forwardRepeats, [&] { forwards = ReadForwards(path); });
    std::filesystem::remove(path);
    const bool same = !backwards.failed && backwards.line == forwards && forwards;
    allRight = allRight && same;
    std::printf("%-8s %-28s %s %s %11.0fx%s\n", c.name,
                c.bytes > 2 * kGiB ? "hole + 1 MiB of decode lines" : "decode lines",
                Duration(back).c_str(), Duration(forth).c_str(), forth / back,
                same ? "" : "  RESULTS DIFFER");
    if (smallest == 0) smallest = back;
    largest = back;
  }
  std::printf("\nbackwards read, 4 GiB against 4 KiB: %.2fx\n", largest / smallest);
  return allRight ? 0 : 1;
}
