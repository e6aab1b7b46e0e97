#include "logfile/log_book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "common/platform.h"
#include "tests/support/test_files.h"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#define VELK_HAVE_FILE_SIZE_LIMIT 1
#endif

namespace velk {
namespace {

namespace fs = std::filesystem;

const LogRecord kWorkedExample{"0712, 3,-23, .3,-5", ", 3, \"ABC DEF GH\""};
const std::string kWorkedExampleLine = "0712, 3,-23, .3,-5, 3, \"ABC DEF GH\"\r\n";

LogRecord NumberedRecord(int n) {
  return LogRecord{"000" + std::to_string(n) + ", 1,-20, .1, 5",
                   ", 2, \"R" + std::to_string(n) + "\""};
}

std::string Lines(const std::vector<int>& numbers) {
  std::string all;
  for (int n : numbers) all += NumberedRecord(n).pieceOne + NumberedRecord(n).pieceTwo + "\r\n";
  return all;
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteWhole(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// A fresh directory of its own for every test, removed afterwards.
class LogBookFileTest : public testing::Test {
 protected:
  test_files::TempDir temp_;
  const fs::path& dir_ = temp_.Path();
  const fs::path log_ = dir_ / "MYLOG.TXT";
};

TEST_F(LogBookFileTest, WorkedExampleIsWrittenByteForByte) {
  LogBook book;
  EXPECT_TRUE(book.Append(log_.string(), kWorkedExample));
  EXPECT_EQ(ReadWhole(log_), kWorkedExampleLine);
  EXPECT_EQ(book.KeptCount(), 0u);
}

TEST_F(LogBookFileTest, RecordsFollowEachOtherOneLineEach) {
  LogBook book;
  for (int n = 1; n <= 3; ++n) EXPECT_TRUE(book.Append(log_.string(), NumberedRecord(n)));
  EXPECT_EQ(ReadWhole(log_), Lines({1, 2, 3}));
}

TEST_F(LogBookFileTest, EightBitAndNulBytesGoThroughUnchanged) {
  const LogRecord odd{std::string("07\xE9\x00", 4) + ",-1", std::string(", 1, \"\xFF\x01\"")};
  LogBook book;
  EXPECT_TRUE(book.Append(log_.string(), odd));
  EXPECT_EQ(ReadWhole(log_), odd.pieceOne + odd.pieceTwo + "\r\n");
}

TEST_F(LogBookFileTest, ExistingFileIsAppendedToNeverOverwritten) {
  // Also a file whose last line has no line end: nothing is added or removed.
  for (const std::string earlier : {"old record\r\n", "no line end"}) {
    WriteWhole(log_, earlier);
    LogBook book;
    EXPECT_TRUE(book.Append(log_.string(), kWorkedExample));
    EXPECT_TRUE(LogBook().Append(log_.string(), NumberedRecord(1)));
    EXPECT_EQ(ReadWhole(log_), earlier + kWorkedExampleLine + Lines({1}));
  }
}

TEST_F(LogBookFileTest, MissingDirectoryKeepsRecordsUntilItExists) {
  const fs::path subdir = dir_ / "later";
  const std::string path = (subdir / "LOG.TXT").string();
  LogBook book;

  EXPECT_FALSE(book.Append(path, NumberedRecord(1)));
  EXPECT_FALSE(book.Append(path, NumberedRecord(2)));
  EXPECT_EQ(book.KeptCount(), 2u);
  EXPECT_FALSE(fs::exists(subdir));

  fs::create_directory(subdir);
  EXPECT_TRUE(book.Append(path, NumberedRecord(3)));
  EXPECT_TRUE(book.Append(path, NumberedRecord(4)));

  EXPECT_EQ(ReadWhole(path), Lines({1, 2, 3, 4}));
  EXPECT_EQ(book.KeptCount(), 0u);
  EXPECT_EQ(book.DroppedCount(), 0u);
}

TEST_F(LogBookFileTest, UnwritableLogKeepsRecordsAndRecovers) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  fs::create_symlink("/dev/full", log_);
  LogBook book;

  EXPECT_FALSE(book.Append(log_.string(), NumberedRecord(1)));
  EXPECT_FALSE(book.Append(log_.string(), NumberedRecord(2)));
  EXPECT_EQ(book.KeptCount(), 2u);

  fs::remove(log_);
  EXPECT_TRUE(book.Append(log_.string(), NumberedRecord(3)));
  EXPECT_EQ(ReadWhole(log_), Lines({1, 2, 3}));
  EXPECT_EQ(book.KeptCount(), 0u);
}

TEST_F(LogBookFileTest, DirectoryInTheLogsPlaceKeepsRecordsAndRecovers) {
  fs::create_directory(log_);
  LogBook book;

  EXPECT_FALSE(book.Append(log_.string(), NumberedRecord(1)));
  EXPECT_EQ(book.KeptCount(), 1u);
  EXPECT_TRUE(fs::is_directory(log_));

  fs::remove(log_);
  EXPECT_TRUE(book.Append(log_.string(), NumberedRecord(2)));
  EXPECT_EQ(ReadWhole(log_), Lines({1, 2}));
}

TEST_F(LogBookFileTest, EmptyPathKeepsTheRecord) {
  LogBook book;
  EXPECT_FALSE(book.Append("", kWorkedExample));
  EXPECT_EQ(book.KeptCount(), 1u);
}

// An append stand-in that records every line it is given and fails the
// calls whose (1-based) numbers are listed, or every call while `down`.
struct FakeAppend {
  std::vector<std::string> calls;
  std::vector<std::size_t> failing;
  bool down = false;
  std::string written;

  AppendFunction Function() {
    return [this](const std::string&, std::string_view bytes) {
      calls.emplace_back(bytes);
      const bool fails =
          down || std::find(failing.begin(), failing.end(), calls.size()) != failing.end();
      if (!fails) written += bytes;
      return !fails;
    };
  }
};

TEST(LogBookTest, FailedCallKeepsOrderAndNothingIsWrittenTwice) {
  struct Case {
    std::vector<std::size_t> failing;
    std::vector<std::string> expectedCalls;  // line numbers as given to the writer
    std::vector<bool> expectedResults;
  };
  // Four records; the writer fails the listed calls.
  const std::vector<Case> cases{
      {{}, {"1", "2", "3", "4"}, {true, true, true, true}},
      // Record 2 fails once and goes first with record 3.
      {{2}, {"1", "2", "2", "3", "4"}, {true, false, true, true}},
      // The kept record fails again: record 3 is not even tried.
      {{2, 3}, {"1", "2", "2", "2", "3", "4"}, {true, false, false, true}},
      // The kept one goes through, the new one fails and is kept behind it.
      {{2, 4}, {"1", "2", "2", "3", "3", "4"}, {true, false, false, true}},
      {{1, 2, 3, 4}, {"1", "1", "1", "1"}, {false, false, false, false}},
  };
  for (const Case& c : cases) {
    FakeAppend fake;
    fake.failing = c.failing;
    LogBook book(fake.Function());
    std::vector<bool> results;
    for (int n = 1; n <= 4; ++n) results.push_back(book.Append("log", NumberedRecord(n)));

    std::vector<std::string> calledNumbers;
    for (const std::string& line : fake.calls) calledNumbers.push_back(line.substr(3, 1));
    EXPECT_EQ(calledNumbers, c.expectedCalls);
    EXPECT_EQ(results, c.expectedResults);
    EXPECT_EQ(fake.written, c.expectedResults.back() ? Lines({1, 2, 3, 4}) : "");
    EXPECT_EQ(book.DroppedCount(), 0u);
  }
}

TEST(LogBookTest, EachKeptRecordGoesInItsOwnCall) {
  FakeAppend fake;
  fake.down = true;
  LogBook book(fake.Function());
  for (int n = 1; n <= 3; ++n) book.Append("log", NumberedRecord(n));

  fake.down = false;
  fake.calls.clear();
  EXPECT_TRUE(book.Append("log", NumberedRecord(4)));

  const std::vector<std::string> expected{Lines({1}), Lines({2}), Lines({3}), Lines({4})};
  EXPECT_EQ(fake.calls, expected);
}

TEST(LogBookTest, BeyondTheLimitTheOldestAreDroppedAndCounted) {
  FakeAppend fake;
  fake.down = true;
  LogBook book(fake.Function(), 3);
  for (int n = 1; n <= 5; ++n) EXPECT_FALSE(book.Append("log", NumberedRecord(n)));
  EXPECT_EQ(book.KeptCount(), 3u);
  EXPECT_EQ(book.DroppedCount(), 2u);

  fake.down = false;
  EXPECT_TRUE(book.Append("log", NumberedRecord(6)));
  EXPECT_EQ(fake.written, Lines({3, 4, 5, 6}));
  EXPECT_EQ(book.KeptCount(), 0u);
  EXPECT_EQ(book.DroppedCount(), 2u);
}

TEST(LogBookTest, WithNoRoomToKeepAFailedRecordIsDropped) {
  FakeAppend fake;
  fake.failing = {1};
  LogBook book(fake.Function(), 0);
  EXPECT_FALSE(book.Append("log", NumberedRecord(1)));
  EXPECT_TRUE(book.Append("log", NumberedRecord(2)));
  EXPECT_EQ(book.DroppedCount(), 1u);
  EXPECT_EQ(fake.written, Lines({2}));
}

#ifdef VELK_HAVE_FILE_SIZE_LIMIT
using LogBookDeathTest = LogBookFileTest;

// A file size limit makes the write stop part way, as a full disk does. Run
// in a child process so that the limit stays there.
TEST_F(LogBookDeathTest, ShortWriteIsCutBackAndTheRecordKept) {
  const std::string path = log_.string();
  const std::string before = "0700, 1,-1, .1, 1, 1, \"X\"\r\n";  // 28 bytes
  WriteWhole(log_, before);

  EXPECT_EXIT(
      {
        auto fail = [](const char* why) {
          std::fputs(why, stderr);
          std::_Exit(1);
        };
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlim_t unlimited = limit.rlim_cur;
        limit.rlim_cur = before.size() + 10;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) fail("cannot set the limit");

        if (platform::AppendWhole(path, kWorkedExampleLine)) fail("short write reported whole");
        if (ReadWhole(path) != before) fail("short write left in the file");

        LogBook book;
        if (book.Append(path, kWorkedExample)) fail("record reported written");
        if (book.KeptCount() != 1 || ReadWhole(path) != before) fail("record not kept whole");

        limit.rlim_cur = unlimited;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) fail("cannot lift the limit");
        if (!book.Append(path, NumberedRecord(1))) fail("no recovery");
        if (ReadWhole(path) != before + kWorkedExampleLine + Lines({1})) fail("wrong content");
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace velk
