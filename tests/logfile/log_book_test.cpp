#include "logfile/log_book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <system_error>
#include <thread>
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
using test_files::ReadFile;
using test_files::TempDir;
using test_files::WriteFile;

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

// The rescue files anywhere under `directory`, checking their names.
std::vector<fs::path> RescueFiles(const fs::path& directory) {
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("VELK_LOG-unsaved-")) continue;
    EXPECT_TRUE(std::regex_match(name, std::regex("VELK_LOG-unsaved-[0-9]{8}-[0-9]{6}\\.TXT")));
    found.push_back(entry.path());
  }
  return found;
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
  EXPECT_EQ(ReadFile(log_), kWorkedExampleLine);
  EXPECT_EQ(book.KeptCount(), 0u);
}

TEST_F(LogBookFileTest, RecordsFollowEachOtherOneLineEach) {
  LogBook book;
  for (int n = 1; n <= 3; ++n) EXPECT_TRUE(book.Append(log_.string(), NumberedRecord(n)));
  EXPECT_EQ(ReadFile(log_), Lines({1, 2, 3}));
}

TEST_F(LogBookFileTest, EightBitAndNulBytesGoThroughUnchanged) {
  const LogRecord odd{std::string("07\xE9\x00", 4) + ",-1", std::string(", 1, \"\xFF\x01\"")};
  LogBook book;
  EXPECT_TRUE(book.Append(log_.string(), odd));
  EXPECT_EQ(ReadFile(log_), odd.pieceOne + odd.pieceTwo + "\r\n");
}

TEST_F(LogBookFileTest, ExistingFileIsAppendedToNeverOverwritten) {
  // Also a file whose last line has no line end: nothing is added or removed.
  for (const std::string earlier : {"old record\r\n", "no line end"}) {
    WriteFile(log_, earlier);
    LogBook book;
    EXPECT_TRUE(book.Append(log_.string(), kWorkedExample));
    EXPECT_TRUE(LogBook().Append(log_.string(), NumberedRecord(1)));
    EXPECT_EQ(ReadFile(log_), earlier + kWorkedExampleLine + Lines({1}));
  }
}

TEST_F(LogBookFileTest, MissingDirectoryKeepsRecordsUntilItExists) {
  const fs::path subdir = dir_ / "later";
  const std::string path = (subdir / "LOG.TXT").string();
  LogBook book;

  EXPECT_FALSE(book.Append(path, NumberedRecord(1)));
  EXPECT_FALSE(book.Append(path, NumberedRecord(2)));
  EXPECT_EQ(book.KeptCount(), 2u);
  EXPECT_EQ(book.Note(path), "2 records waiting to be written (" +
                                 test_files::MissingDirectoryReason() +
                                 "); trying again every second");
  EXPECT_FALSE(fs::exists(subdir));

  fs::create_directory(subdir);
  EXPECT_TRUE(book.Append(path, NumberedRecord(3)));
  EXPECT_TRUE(book.Append(path, NumberedRecord(4)));

  EXPECT_EQ(ReadFile(path), Lines({1, 2, 3, 4}));
  EXPECT_EQ(book.KeptCount(), 0u);
  EXPECT_EQ(book.Note(path), path);
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
  EXPECT_EQ(ReadFile(log_), Lines({1, 2, 3}));
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
  EXPECT_EQ(ReadFile(log_), Lines({1, 2}));
}

// The close: a last try at the log, then what it still does not take goes to
// the rescue file, byte for byte and in order, named in the notice for
// standard error; with nowhere to save them the notice holds the records.
// A share that stops answering (the log and the working directory on it)
// holds the close up for well under a second.
TEST_F(LogBookFileTest, CloseSavesWhatTheLogDoesNotTakeInWellUnderASecond) {
  struct Case {
    bool mended;          // the log's directory made before the close
    bool stalled;         // the working directory's file system stops answering
    bool directories;     // the working directory and the fallback exist
    const char* savedIn;  // "" for the log, else the directory; null: nowhere
    const char* reason;
  };
  const std::string missing = test_files::MissingDirectoryReason();
  const char* const kMissing = missing.c_str();
  const Case cases[] = {
      {true, false, true, "", ""},
      {false, false, true, "work", kMissing},
      {true, true, true, "tmp", "no answer from the file system in time"},
      {false, false, false, nullptr, kMissing},
  };
  std::promise<void> stallOver;
  const std::shared_future<void> released = stallOver.get_future().share();
  for (const Case& c : cases) {
    TempDir temp;
    const std::string work = (temp.Path() / "work").string();
    const std::string log = work + "/SUB/LOG.TXT";
    if (c.directories) fs::create_directory(work);
    if (c.directories) fs::create_directory(temp.Path() / "tmp");
    auto stalled = std::make_shared<std::atomic<bool>>(false);
    const AppendFunction append = [=](const std::string& path, std::string_view bytes) {
      if (!*stalled || !path.starts_with(work)) return platform::AppendWhole(path, bytes);
      released.wait();
      return platform::AppendOutcome{false, "stalled"};
    };
    LogBook book(append, kMaxKeptRecords, RescueFile(work, temp.File("tmp"), append));
    for (int n = 1; n <= 3; ++n) book.Append(log, NumberedRecord(n));
    if (c.mended) fs::create_directory(work + "/SUB");
    *stalled = c.stalled;

    const auto closing = std::chrono::steady_clock::now();
    const std::string notice = book.Close(log);
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(1));
    const std::vector<fs::path> rescue = RescueFiles(temp.Path());
    const std::string problem =
        "VELK_LOG: 3 records could not be written to " + log + " (" + c.reason + ")";
    if (!c.savedIn) {
      EXPECT_EQ(notice, problem + " nor to a rescue file; here they are:\n" + Lines({1, 2, 3}));
    } else if (*c.savedIn == '\0') {
      EXPECT_EQ(ReadFile(log), Lines({1, 2, 3}));
      EXPECT_EQ(notice, "");
    } else if (rescue.size() == 1) {
      EXPECT_EQ(rescue[0].parent_path().filename(), c.savedIn);
      EXPECT_EQ(ReadFile(rescue[0]), Lines({1, 2, 3}));
      EXPECT_EQ(notice, problem + "; saved in " + rescue[0].string() + "\n");
    }
    EXPECT_EQ(rescue.size(), c.savedIn && *c.savedIn ? 1u : 0u);
  }
  stallOver.set_value();
}

TEST_F(LogBookFileTest, EmptyPathKeepsTheRecord) {
  LogBook book;
  EXPECT_FALSE(book.Append("", kWorkedExample));
  EXPECT_EQ(book.KeptCount(), 1u);
}

// An append stand-in that records every line it is given and fails the
// calls whose (1-based) numbers are listed, or every call while `down`;
// each call takes `slowness`.
struct FakeAppend {
  std::vector<std::string> calls;
  std::vector<std::size_t> failing;
  bool down = false;
  std::chrono::milliseconds slowness{0};
  std::string written;

  AppendFunction Function() {
    return [this](const std::string&, std::string_view bytes) {
      std::this_thread::sleep_for(slowness);
      calls.emplace_back(bytes);
      const bool fails =
          down || std::find(failing.begin(), failing.end(), calls.size()) != failing.end();
      if (!fails) written += bytes;
      return platform::AppendOutcome{!fails, fails ? "Disk on fire" : ""};
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

// Kept records are tried again on their own once a second, with no new
// record to carry them: oldest first, each written once.
TEST(LogBookTest, RetryWritesKeptRecordsOnTheirOwnInOrderNoneTwice) {
  using std::chrono::milliseconds;
  const LogBook::TimePoint start{};
  FakeAppend fake;
  fake.down = true;
  LogBook book(fake.Function());
  EXPECT_FALSE(book.RetryDue(start));
  for (int n = 1; n <= 3; ++n) book.Append("log", NumberedRecord(n));
  EXPECT_FALSE(book.RetryDue(start));  // the second starts now
  EXPECT_FALSE(book.RetryDue(start + milliseconds(999)));
  ASSERT_TRUE(book.RetryDue(start + milliseconds(1000)));
  EXPECT_EQ(book.RetryKept("log", start + milliseconds(1000)), 0u);

  // Mended, but the second record fails once more: the next retry goes on
  // from it.
  fake.down = false;
  fake.calls.clear();
  fake.failing = {2};
  EXPECT_FALSE(book.RetryDue(start + milliseconds(1999)));
  EXPECT_EQ(book.RetryKept("log", start + milliseconds(2000)), 1u);
  EXPECT_TRUE(book.RetryDue(start + milliseconds(3000)));
  EXPECT_EQ(book.RetryKept("log", start + milliseconds(3000)), 2u);

  EXPECT_EQ(fake.calls, (std::vector<std::string>{Lines({1}), Lines({2}), Lines({2}), Lines({3})}));
  EXPECT_EQ(fake.written, Lines({1, 2, 3}));
  EXPECT_EQ(book.Note("log"), "log");
  EXPECT_FALSE(book.RetryDue(start + milliseconds(9000)));

  // A backlog on a slow file is written a slice at a time, the next retry
  // due at once; a record that comes meanwhile waits behind it.
  fake.down = true;
  for (int n = 4; n <= 8; ++n) book.Append("log", NumberedRecord(n));
  fake.down = false;
  fake.slowness = milliseconds(30);
  const std::size_t firstSlice = book.RetryKept("log", start + milliseconds(10000));
  EXPECT_LT(firstSlice, 3u);
  EXPECT_EQ(book.Note("log"), RecordCount(5 - firstSlice) + " waiting to be written");
  EXPECT_TRUE(book.RetryDue(start + milliseconds(10000)));
  EXPECT_FALSE(book.Append("log", NumberedRecord(9)));
  for (int slice = 0; slice < 10 && book.RetryDue(start + milliseconds(10000)); ++slice) {
    book.RetryKept("log", start + milliseconds(10000));
  }
  EXPECT_EQ(fake.written, Lines({1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

// Beyond the limit of kept records the oldest go to the rescue file instead,
// in order; the log later takes the rest.
TEST_F(LogBookFileTest, BeyondTheLimitTheOldestGoToTheRescueFile) {
  struct Case {
    std::size_t maxKept;
    std::string rescued;
    std::string logged;
  };
  for (const Case& c :
       {Case{3, Lines({1, 2}), Lines({3, 4, 5, 6})}, Case{0, Lines({1, 2, 3, 4, 5}), Lines({6})}}) {
    TempDir work;
    FakeAppend fake;
    fake.down = true;
    LogBook book(fake.Function(), c.maxKept, RescueFile(work.Path().string()));
    for (int n = 1; n <= 5; ++n) EXPECT_FALSE(book.Append("log", NumberedRecord(n)));
    EXPECT_EQ(book.KeptCount(), c.maxKept);

    fake.down = false;
    EXPECT_TRUE(book.Append("log", NumberedRecord(6)));
    EXPECT_EQ(fake.written, c.logged);
    const std::vector<fs::path> rescue = RescueFiles(work.Path());
    ASSERT_EQ(rescue.size(), 1u);
    EXPECT_EQ(ReadFile(rescue[0]), c.rescued);
  }
}

#ifdef VELK_HAVE_FILE_SIZE_LIMIT
using LogBookDeathTest = LogBookFileTest;

// A file size limit makes the write stop part way, as a full disk does. Run
// in a child process so that the limit stays there.
TEST_F(LogBookDeathTest, ShortWriteIsCutBackAndTheRecordKept) {
  const std::string path = log_.string();
  const std::string before = "0700, 1,-1, .1, 1, 1, \"X\"\r\n";  // 28 bytes
  WriteFile(log_, before);

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

        const platform::AppendOutcome outcome = platform::AppendWhole(path, kWorkedExampleLine);
        if (outcome) fail("short write reported whole");
        if (outcome.failure != std::generic_category().message(EFBIG)) fail("wrong reason");
        if (ReadFile(path) != before) fail("short write left in the file");

        LogBook book;
        if (book.Append(path, kWorkedExample)) fail("record reported written");
        if (book.KeptCount() != 1 || ReadFile(path) != before) fail("record not kept whole");

        limit.rlim_cur = unlimited;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) fail("cannot lift the limit");
        if (!book.Append(path, NumberedRecord(1))) fail("no recovery");
        if (ReadFile(path) != before + kWorkedExampleLine + Lines({1})) fail("wrong content");
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace velk
