// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/last_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/platform.h"
#include "tests/support/lines_forwards.h"
#include "watch/line_splitter.h"

namespace velk {
namespace {

using test_lines::AllLinesForwards;
using test_lines::LastLineReadForwards;

// A read-only file over bytes in memory that can be made to fail, and that
// remembers what was asked of it.
class MemoryFile final : public platform::ReadOnlyFile {
 public:
  explicit MemoryFile(std::string bytes) : bytes_(std::move(bytes)) {}

  std::optional<std::uint64_t> Size() override {
    if (failSize) return std::nullopt;
    return bytes_.size();
  }

  std::optional<platform::FileIdentity> Identity() override { return platform::FileIdentity{}; }

  std::optional<std::size_t> ReadAt(std::uint64_t offset, char* buffer,
                                    std::size_t count) override {
    ++reads;
    largestRequest = std::max(largestRequest, count);
    if (reads == failingRead) return std::nullopt;
    if (reads == shrinkingRead) bytes_.resize(bytes_.size() / 2);
    if (offset >= bytes_.size()) return 0;
    const std::size_t got = std::min<std::size_t>(count, bytes_.size() - offset);
    std::memcpy(buffer, bytes_.data() + offset, got);
    bytesRead += got;
    return got;
  }

  bool failSize = false;
  int failingRead = 0;    // 1-based index of the read that fails; 0: none
  int shrinkingRead = 0;  // the file loses half its bytes before this read
  int reads = 0;
  std::size_t largestRequest = 0;
  std::size_t bytesRead = 0;

 private:
  std::string bytes_;
};

LineSummary Line(std::string head, bool hasMarker) {
  return LineSummary{std::move(head), hasMarker};
}

struct LineCase {
  std::string bytes;
  std::optional<LineSummary> expected;
};

const std::string kLong(100, 'x');

std::vector<LineCase> LineCases() {
  using namespace std::string_literals;
  return {
      {"", std::nullopt},
      {"abc", Line("abc", false)},
      {"abc\r\n", Line("abc", false)},
      {"abc\r", Line("abc", false)},
      {"abc\n", Line("abc", false)},
      {"one\r\ntwo *", Line("two *", true)},
      {"one *\r\ntwo\r\n", Line("two", false)},
      {"one\ntwo*\n", Line("two*", true)},
      {"one\rtwo\r", Line("two", false)},
      {"\r\n", Line("", false)},
      {"\n", Line("", false)},
      {"\r", Line("", false)},
      {"*\r\n\r\n", Line("", false)},
      {"*\n\r", Line("", false)},  // LF ends "*", then CR ends an empty line
      {"*\r\r\n", Line("", false)},
      {"a\r\n\n", Line("", false)},
      {"x\n\r\n", Line("", false)},
      {"*", Line("*", true)},
      {"a\0b*\0"s, Line("a\0b*\0"s, true)},
      {"\x80\xff*\r\n"s, Line("\x80\xff*", true)},
      {kLong, Line(kLong.substr(0, kLineBytesUsed), false)},
      {"prev\r\n" + kLong + "*\r\n", Line(kLong.substr(0, kLineBytesUsed), true)},
      {"*\n" + kLong, Line(kLong.substr(0, kLineBytesUsed), false)},
      {std::string(kLineBytesUsed, 'y') + "\r", Line(std::string(kLineBytesUsed, 'y'), false)},
  };
}

TEST(LastLineReadForwards, FindsTheLastLineForEveryKindOfLineEnd) {
  for (const LineCase& c : LineCases()) {
    EXPECT_EQ(LastLineReadForwards(c.bytes), c.expected)
        << "bytes: " << ::testing::PrintToString(c.bytes);
  }
}

TEST(ReadLastLine, MatchesTheTableAtEveryChunkSize) {
  for (const LineCase& c : LineCases()) {
    for (const std::size_t chunk : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3},
                                    std::size_t{7}, std::size_t{57}, std::size_t{64 * 1024}}) {
      MemoryFile file(c.bytes);
      const LastLineRead read = ReadLastLine(file, chunk);
      EXPECT_FALSE(read.failed);
      EXPECT_EQ(read.line, c.expected)
          << "bytes: " << ::testing::PrintToString(c.bytes) << " chunk: " << chunk;
    }
  }
}

// Bytes drawn mostly from the ones that matter to line splitting, with
// lines now and then longer than the kept head and than the chunk.
std::string RandomBytes(std::mt19937& random) {
  static constexpr std::array<char, 4> kRich = {'*', ' ', '*', 'a'};
  static constexpr std::array<int, 7> kLineEndPercents = {0, 1, 2, 5, 15, 35, 70};
  std::uniform_int_distribution<int> anyByte(0, 255);
  std::uniform_int_distribution<std::size_t> rich(0, kRich.size() - 1);
  const std::size_t length = std::uniform_int_distribution<std::size_t>(
      0, std::uniform_int_distribution<int>(0, 9)(random) < 6 ? 12 : 400)(random);
  const int lineEndPercent = kLineEndPercents[std::uniform_int_distribution<std::size_t>(
      0, kLineEndPercents.size() - 1)(random)];
  std::string bytes;
  for (std::size_t i = 0; i < length; ++i) {
    const int roll = std::uniform_int_distribution<int>(0, 99)(random);
    if (roll < lineEndPercent) {
      bytes += roll % 2 == 0 ? '\r' : '\n';
    } else if (roll < lineEndPercent + 40) {
      bytes += kRich[rich(random)];
    } else {
      bytes += static_cast<char>(anyByte(random));
    }
  }
  return bytes;
}

// Mostly small chunks, so that lines span many of them; now and then one
// as large as the file or larger.
std::size_t RandomChunk(std::mt19937& random, std::size_t fileBytes) {
  const bool small = std::uniform_int_distribution<int>(0, 3)(random) > 0;
  return std::uniform_int_distribution<std::size_t>(1, small ? 64 : fileBytes + 3)(random);
}

TEST(ReadLastLine, EqualsTheForwardReaderOnRandomBytes) {
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  for (int round = 0; round < 50000; ++round) {
    const std::string bytes = RandomBytes(random);
    const std::size_t chunk = RandomChunk(random, bytes.size());
    // Now and then only a leading part of the file, as far as a length
    // polled before the file grew on.
    const bool bounded = std::uniform_int_distribution<int>(0, 3)(random) == 0;
    const std::size_t upTo =
        bounded ? std::uniform_int_distribution<std::size_t>(0, bytes.size())(random)
                : bytes.size();
    const std::string_view part = std::string_view(bytes).substr(0, upTo);
    MemoryFile file(bytes);
    const LastLineRead read = bounded ? ReadLastLine(file, chunk, upTo) : ReadLastLine(file, chunk);
    ASSERT_FALSE(read.failed);
    ASSERT_EQ(read.line, LastLineReadForwards(part))
        << "seed " << seed << " round " << round << " chunk " << chunk << " up to " << upTo
        << " bytes: " << ::testing::PrintToString(bytes);
    const char last = part.empty() ? '\0' : part.back();
    ASSERT_EQ(read.lineEnded, last == '\n' || last == '\r');
    ASSERT_EQ(read.endsWithCr, last == '\r');
    ASSERT_LE(file.largestRequest, std::max<std::size_t>(chunk, 2));
  }
}

// Given the bytes in pieces that fall anywhere (inside a line, between CR
// and LF), the forward splitter cuts the same lines as reading the whole
// file line by line; the text after the last line end stays held until it
// is taken.
TEST(LineSplitter, CutsTheSameLinesWhereverThePiecesFall) {
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  for (int round = 0; round < 20000; ++round) {
    const std::string bytes = RandomBytes(random);
    LineSplitter splitter;
    std::vector<LineSummary> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
      const std::size_t piece = RandomChunk(random, bytes.size());
      const std::string_view part = std::string_view(bytes).substr(start, piece);
      std::size_t position = 0;
      while (const std::optional<LineSummary> line = splitter.Next(part, position)) {
        lines.push_back(*line);
      }
      ASSERT_EQ(position, part.size());
      start += part.size();
    }
    if (splitter.HoldsUnendedLine()) lines.push_back(splitter.TakeUnendedLine());
    ASSERT_EQ(lines, AllLinesForwards(bytes))
        << "seed " << seed << " round " << round << " bytes: " << ::testing::PrintToString(bytes);
  }
}

TEST(ReadLastLine, ReadsOnlyTheEndOfALargeFile) {
  std::string bytes;
  for (int i = 0; i < 20000; ++i) bytes += "0712    3  -23  0.3   -5    3 *    ABC DEF GH\r\n";
  MemoryFile file(bytes);
  const LastLineRead read = ReadLastLine(file, 256);
  ASSERT_TRUE(read.line);
  EXPECT_EQ(read.line->head, "0712    3  -23  0.3   -5    3 *    ABC DEF GH");
  EXPECT_LE(file.bytesRead, 2U + 256U);
}

TEST(ReadLastLine, KeepsTheBufferToOneChunkWhateverTheLineLength) {
  std::string bytes = "*" + std::string(1 << 20, 'z');
  MemoryFile file(bytes);
  const LastLineRead read = ReadLastLine(file, 4096);
  ASSERT_TRUE(read.line);
  EXPECT_TRUE(read.line->hasMarker);
  EXPECT_EQ(read.line->head, "*" + std::string(kLineBytesUsed - 1, 'z'));
  EXPECT_LE(file.largestRequest, 4096U);
}

TEST(ReadLastLine, AnEmptyFileHoldsNoLine) {
  MemoryFile file("");
  const LastLineRead read = ReadLastLine(file);
  EXPECT_FALSE(read.failed);
  EXPECT_FALSE(read.line);
}

TEST(ReadLastLine, AnyFailedAccessReportsFailureAndNoLine) {
  const std::string bytes = "first *\r\n" + kLong + "\r\nlast * line";
  {
    MemoryFile file(bytes);
    file.failSize = true;
    const LastLineRead read = ReadLastLine(file, 8);
    EXPECT_TRUE(read.failed);
    EXPECT_FALSE(read.line);
  }
  MemoryFile probe(bytes);
  ReadLastLine(probe, 8);
  ASSERT_GT(probe.reads, 2);
  for (int failing = 1; failing <= probe.reads; ++failing) {
    MemoryFile file(bytes);
    file.failingRead = failing;
    const LastLineRead read = ReadLastLine(file, 8);
    EXPECT_TRUE(read.failed) << "read " << failing;
    EXPECT_FALSE(read.line) << "read " << failing;
  }
}

TEST(ReadLastLine, AFileThatShrinksWhileReadIsAFailedRead) {
  MemoryFile file("0712 *\r\n" + kLong + kLong);
  file.shrinkingRead = 2;
  const LastLineRead read = ReadLastLine(file, 16);
  EXPECT_TRUE(read.failed);
  EXPECT_FALSE(read.line);
}

}  // namespace
}  // namespace velk
