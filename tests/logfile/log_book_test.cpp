// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile/log_book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
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
using test_files::Eventually;
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

// The rescue files anywhere under `directory`, checking their names. A
// file just made whose first write has not answered (a stalled disk) holds
// no record yet and is left out.
std::vector<fs::path> RescueFiles(const fs::path& directory) {
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("VELK_LOG-unsaved-")) continue;
    std::error_code gone;  // taken away since it was listed
    const std::uintmax_t size = fs::file_size(entry.path(), gone);
    if (gone || size == 0) continue;
    EXPECT_TRUE(std::regex_match(
        name, std::regex("VELK_LOG-unsaved-[0-9]{8}-[0-9]{6}-[0-9]+(-[0-9]+)?\\.TXT")));
    found.push_back(entry.path());
  }
  return found;
}

// The book's progress once every record handed over is in the log or the
// log has failed; the records written meanwhile summed.
LogBook::Progress Settled(LogBook& book) {
  LogBook::Progress total;
  Eventually([&] {
    const LogBook::Progress now = book.TakeProgress();
    total = {total.written + now.written, now.waiting, now.failing};
    return now.waiting == 0 || now.failing;
  });
  return total;
}

// A fresh directory of its own for every test, removed afterwards, which
// also takes the rescue files.
class LogBookFileTest : public testing::Test {
 protected:
  // The rescue file's fallback is the test's own folder too, not the
  // system's temporary folder, which outlives the test.
  LogBook Book() {
    return LogBook(nullptr, kMaxKeptRecords, RescueFile(dir_.string(), dir_.string()));
  }

  test_files::TempDir temp_;
  const fs::path& dir_ = temp_.Path();
  const fs::path log_ = dir_ / "MYLOG.TXT";
};

TEST_F(LogBookFileTest, WorkedExampleIsWrittenByteForByte) {
  LogBook book = Book();
  book.Append(log_.string(), kWorkedExample);
  const LogBook::Progress progress = Settled(book);
  EXPECT_EQ(ReadFile(log_), kWorkedExampleLine);
  EXPECT_EQ(progress.written, 1u);
  EXPECT_EQ(progress.waiting, 0u);
  EXPECT_FALSE(progress.failing);
  EXPECT_EQ(book.Close(log_.string()), "");
}

TEST_F(LogBookFileTest, RecordsFollowEachOtherOneLineEach) {
  LogBook book = Book();
  for (int n = 1; n <= 3; ++n) book.Append(log_.string(), NumberedRecord(n));
  EXPECT_EQ(Settled(book).written, 3u);
  EXPECT_EQ(ReadFile(log_), Lines({1, 2, 3}));
}

TEST_F(LogBookFileTest, EightBitAndNulBytesGoThroughUnchanged) {
  const LogRecord odd{std::string("07\xE9\x00", 4) + ",-1", std::string(", 1, \"\xFF\x01\"")};
  LogBook book = Book();
  book.Append(log_.string(), odd);
  Settled(book);
  EXPECT_EQ(ReadFile(log_), odd.pieceOne + odd.pieceTwo + "\r\n");
}

TEST_F(LogBookFileTest, ExistingFileIsAppendedToNeverOverwritten) {
  // Also a file whose last line has no line end: nothing is added or removed.
  for (const std::string earlier : {"old record\r\n", "no line end"}) {
    WriteFile(log_, earlier);
    LogBook book = Book();
    book.Append(log_.string(), kWorkedExample);
    EXPECT_EQ(book.Close(log_.string()), "");
    Book().Append(log_.string(), NumberedRecord(1));
    EXPECT_EQ(ReadFile(log_), earlier + kWorkedExampleLine + Lines({1}));
  }
}

// Records the log does not take are in the rescue file at once, named in
// the note; once the log takes them they are in it in order and the rescue
// file is gone.
TEST_F(LogBookFileTest, MissingDirectoryKeepsRecordsUntilItExists) {
  const fs::path subdir = dir_ / "later";
  const std::string path = (subdir / "LOG.TXT").string();
  LogBook book = Book();

  book.Append(path, NumberedRecord(1));
  book.Append(path, NumberedRecord(2));
  ASSERT_TRUE(Eventually([&] {
    return RescueFiles(dir_).size() == 1 && ReadFile(RescueFiles(dir_)[0]) == Lines({1, 2});
  }));
  const std::string note = "2 records waiting to be written (" +
                           test_files::MissingDirectoryReason() + "); kept in " +
                           RescueFiles(dir_)[0].string() + "; trying again every second";
  EXPECT_TRUE(Eventually([&] { return book.StatusText(path) == note; })) << book.StatusText(path);
  EXPECT_FALSE(fs::exists(subdir));

  fs::create_directory(subdir);
  book.Append(path, NumberedRecord(3));
  book.Append(path, NumberedRecord(4));
  EXPECT_TRUE(Eventually([&] { return ReadFile(path) == Lines({1, 2, 3, 4}); }));
  EXPECT_TRUE(Eventually([&] { return RescueFiles(dir_).empty(); }));
  EXPECT_EQ(Settled(book).waiting, 0u);
  EXPECT_EQ(book.StatusText(path), path);
  EXPECT_EQ(book.Close(path), "");
}

TEST_F(LogBookFileTest, UnwritableLogKeepsRecordsAndRecovers) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  fs::create_symlink("/dev/full", log_);
  LogBook book = Book();

  book.Append(log_.string(), NumberedRecord(1));
  book.Append(log_.string(), NumberedRecord(2));
  EXPECT_TRUE(
      Eventually([&] { return book.TakeProgress().waiting == 2 && !RescueFiles(dir_).empty(); }));

  fs::remove(log_);
  book.Append(log_.string(), NumberedRecord(3));
  EXPECT_TRUE(Eventually([&] { return ReadFile(log_) == Lines({1, 2, 3}); }));
  EXPECT_EQ(book.Close(log_.string()), "");
  EXPECT_TRUE(RescueFiles(dir_).empty());
}

TEST_F(LogBookFileTest, DirectoryInTheLogsPlaceKeepsRecordsAndRecovers) {
  fs::create_directory(log_);
  LogBook book = Book();

  book.Append(log_.string(), NumberedRecord(1));
  EXPECT_TRUE(Settled(book).failing);
  EXPECT_TRUE(fs::is_directory(log_));

  fs::remove(log_);
  book.Append(log_.string(), NumberedRecord(2));
  EXPECT_TRUE(Eventually([&] { return ReadFile(log_) == Lines({1, 2}); }));
}

// The close: a last try at the log; what it still does not take is in the
// rescue file (put there as soon as the log failed or stopped answering),
// byte for byte and in order, named in the notice for standard error; with
// nowhere to save them the notice holds the records. A share that stops
// answering (the log and the working directory on it) holds the close up
// for well under a second.
TEST_F(LogBookFileTest, CloseSavesWhatTheLogDoesNotTakeInWellUnderASecond) {
  enum Stall { kNone, kAtTheClose, kFromTheStart };
  struct Case {
    bool mended;          // the log's directory made before the close
    Stall stall;          // the working directory's file system stops answering
    bool directories;     // the working directory and the fallback exist
    const char* savedIn;  // "" for the log, else the directory; null: nowhere
    const char* reason;
  };
  const std::string missing = test_files::MissingDirectoryReason();
  const char* const kMissing = missing.c_str();
  const char* const kNoAnswer = "no answer from the file system in time";
  const Case cases[] = {
      {true, kNone, true, "", ""},
      {false, kNone, true, "work", kMissing},
      {true, kAtTheClose, true, "work", kNoAnswer},
      {true, kFromTheStart, true, "tmp", kNoAnswer},
      {false, kNone, false, nullptr, kMissing},
  };
  std::promise<void> stallOver;
  const std::shared_future<void> released = stallOver.get_future().share();
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    TempDir temp;
    const std::string work = (temp.Path() / "work").string();
    const std::string log = work + "/SUB/LOG.TXT";
    if (c.directories) fs::create_directory(work);
    if (c.directories) fs::create_directory(temp.Path() / "tmp");
    auto stalled = std::make_shared<std::atomic<bool>>(c.stall == kFromTheStart);
    const AppendFunction append = [=](const std::string& path, std::string_view bytes) {
      if (!*stalled || !path.starts_with(work)) return platform::AppendWhole(path, bytes);
      released.wait();
      return platform::AppendOutcome{false, "stalled"};
    };
    if (c.mended && c.stall == kFromTheStart) fs::create_directory(work + "/SUB");
    LogBook book(append, kMaxKeptRecords, RescueFile(work, temp.File("tmp"), append));
    for (int n = 1; n <= 3; ++n) book.Append(log, NumberedRecord(n));
    if (c.stall != kFromTheStart) {
      // The log fails: the records are saved before anything else happens.
      EXPECT_TRUE(Eventually([&] {
        const std::vector<fs::path> rescue = RescueFiles(temp.Path());
        return c.savedIn ? rescue.size() == 1 && ReadFile(rescue[0]) == Lines({1, 2, 3})
                         : book.StatusText(log).find("no rescue file") != std::string::npos;
      }));
    }
    if (c.mended) fs::create_directories(work + "/SUB");
    *stalled = c.stall != kNone;

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
  LogBook book = Book();
  book.Append("", kWorkedExample);
  const LogBook::Progress progress = Settled(book);
  EXPECT_TRUE(progress.failing);
  EXPECT_EQ(progress.waiting, 1u);
}

// An append stand-in that records every line it is given and fails the
// calls whose (1-based) numbers are listed, or every call while `down`;
// each call takes `slowness`. Called on the log book's writer thread.
struct FakeAppend {
  std::mutex mutex;
  std::vector<std::string> calls;
  std::vector<std::size_t> failing;
  bool down = false;
  std::string written;

  AppendFunction Function() {
    return [this](const std::string&, std::string_view bytes) {
      const std::lock_guard lock(mutex);
      calls.emplace_back(bytes);
      const bool fails =
          down || std::find(failing.begin(), failing.end(), calls.size()) != failing.end();
      if (!fails) written += bytes;
      return platform::AppendOutcome{!fails, fails ? "Disk on fire" : ""};
    };
  }
  std::size_t Calls() {
    const std::lock_guard lock(mutex);
    return calls.size();
  }
  std::string Written() {
    const std::lock_guard lock(mutex);
    return written;
  }
  void Down(bool isDown) {
    const std::lock_guard lock(mutex);
    down = isDown;
    calls.clear();
  }
};

// A record that comes while the log fails makes the writer try the kept ones
// again at once, before it; they are never overtaken, and none is written
// twice.
TEST(LogBookTest, FailedCallKeepsOrderAndNothingIsWrittenTwice) {
  struct Case {
    std::vector<std::size_t> failing;
    // Per record handed over, the records given to the writer meanwhile.
    std::vector<std::vector<std::string>> expectedCalls;
  };
  // Four records; the writer fails the listed calls.
  const std::vector<Case> cases{
      {{}, {{"1"}, {"2"}, {"3"}, {"4"}}},
      // Record 2 fails once and goes first with record 3.
      {{2}, {{"1"}, {"2"}, {"2", "3"}, {"4"}}},
      // The kept record fails again: record 3 is not even tried.
      {{2, 3}, {{"1"}, {"2"}, {"2"}, {"2", "3", "4"}}},
      // The kept one goes through, the new one fails and is kept behind it.
      {{2, 4}, {{"1"}, {"2"}, {"2", "3"}, {"3", "4"}}},
      {{1, 2, 3, 4}, {{"1"}, {"1"}, {"1"}, {"1"}}},
  };
  for (const Case& c : cases) {
    TempDir work;
    FakeAppend fake;
    fake.failing = c.failing;
    LogBook book(fake.Function(), kMaxKeptRecords,
                 RescueFile(work.Path().string(), work.Path().string()));
    std::vector<std::string> expected;
    for (int n = 1; n <= 4; ++n) {
      book.Append("log", NumberedRecord(n));
      expected.insert(expected.end(), c.expectedCalls[n - 1].begin(), c.expectedCalls[n - 1].end());
      EXPECT_TRUE(Eventually([&] { return fake.Calls() == expected.size(); }));
    }
    const bool allWritten = c.failing.size() < 4;
    EXPECT_EQ(Settled(book).failing, !allWritten);
    std::vector<std::string> calledNumbers;
    {
      const std::lock_guard lock(fake.mutex);
      for (const std::string& line : fake.calls) calledNumbers.push_back(line.substr(3, 1));
    }
    EXPECT_EQ(calledNumbers, expected);
    EXPECT_EQ(fake.Written(), allWritten ? Lines({1, 2, 3, 4}) : "");
  }
}

TEST(LogBookTest, EachKeptRecordGoesInItsOwnCall) {
  TempDir work;
  FakeAppend fake;
  fake.down = true;
  LogBook book(fake.Function(), kMaxKeptRecords,
               RescueFile(work.Path().string(), work.Path().string()));
  for (int n = 1; n <= 3; ++n) {
    book.Append("log", NumberedRecord(n));
    EXPECT_TRUE(Eventually([&] { return fake.Calls() == static_cast<std::size_t>(n); }));
  }

  fake.Down(false);
  book.Append("log", NumberedRecord(4));
  EXPECT_TRUE(Eventually([&] { return fake.Calls() == 4; }));

  const std::vector<std::string> expected{Lines({1}), Lines({2}), Lines({3}), Lines({4})};
  const std::lock_guard lock(fake.mutex);
  EXPECT_EQ(fake.calls, expected);
}

// Kept records are tried again on their own once a second, with no new
// record to carry them: oldest first, each written once.
TEST(LogBookTest, RetryWritesKeptRecordsOnTheirOwnInOrderNoneTwice) {
  TempDir work;
  FakeAppend fake;
  fake.down = true;
  LogBook book(fake.Function(), kMaxKeptRecords,
               RescueFile(work.Path().string(), work.Path().string()));
  for (int n = 1; n <= 3; ++n) book.Append("log", NumberedRecord(n));
  EXPECT_TRUE(Settled(book).failing);

  // Mended, but the second record fails once more: the next retry goes on
  // from it.
  {
    const std::lock_guard lock(fake.mutex);
    fake.down = false;
    fake.calls.clear();
    fake.failing = {2};
  }
  EXPECT_TRUE(Eventually([&] { return fake.Written() == Lines({1, 2, 3}); }));
  const LogBook::Progress progress = Settled(book);
  EXPECT_EQ(progress.waiting, 0u);
  EXPECT_FALSE(progress.failing);
  EXPECT_EQ(fake.Written(), Lines({1, 2, 3}));
  EXPECT_EQ(book.StatusText("log"), "log");
  EXPECT_TRUE(Eventually([&] { return RescueFiles(work.Path()).empty(); }));
}

// Beyond the limit of records waiting the oldest stay in the rescue file
// alone; the log later takes the rest, and the rescue file keeps them all.
TEST_F(LogBookFileTest, BeyondTheLimitTheOldestGoToTheRescueFile) {
  struct Case {
    std::size_t maxKept;
    std::string logged;
  };
  for (const Case& c : {Case{3, Lines({3, 4, 5, 6})}, Case{0, Lines({6})}}) {
    TempDir work;
    FakeAppend fake;
    fake.down = true;
    LogBook book(fake.Function(), c.maxKept,
                 RescueFile(work.Path().string(), work.Path().string()));
    for (int n = 1; n <= 5; ++n) book.Append("log", NumberedRecord(n));
    EXPECT_TRUE(Eventually([&] { return book.TakeProgress().waiting == c.maxKept; }));

    fake.Down(false);
    book.Append("log", NumberedRecord(6));
    EXPECT_TRUE(Eventually([&] { return fake.Written() == c.logged; }));
    const std::vector<fs::path> rescue = RescueFiles(work.Path());
    ASSERT_EQ(rescue.size(), 1u);
    EXPECT_EQ(ReadFile(rescue[0]), Lines({1, 2, 3, 4, 5}));
    EXPECT_EQ(book.Close("log"), "VELK_LOG: 5 records could not be written to log; saved in " +
                                     rescue[0].string() + "\n");
  }
}

// Rescue files left by an earlier run are told at the start, one line; the
// book's own, made whenever, is not.
TEST_F(LogBookFileTest, RescueFilesFromAnEarlierRunAreTold) {
  LogBook book = Book();
  EXPECT_EQ(book.FindEarlierRescueFiles().get().find(dir_.string()), std::string::npos);
  const fs::path left = dir_ / "VELK_LOG-unsaved-20240822-071259-4242.TXT";
  WriteFile(left, Lines({1}));
  book.Append((dir_ / "missing" / "LOG.TXT").string(), NumberedRecord(2));
  ASSERT_TRUE(Eventually([&] { return RescueFiles(dir_).size() == 2; }));
  EXPECT_EQ(
      book.FindEarlierRescueFiles().get(),
      "VELK_LOG: a rescue file from an earlier run holds records not in the log: " + left.string());
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

        LogBook book = Book();
        book.Append(path, kWorkedExample);
        const LogBook::Progress kept = Settled(book);
        if (!kept.failing || kept.waiting != 1 || ReadFile(path) != before) {
          fail("record not kept whole");
        }

        limit.rlim_cur = unlimited;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) fail("cannot lift the limit");
        book.Append(path, NumberedRecord(1));
        if (!Eventually(
                [&] { return ReadFile(path) == before + kWorkedExampleLine + Lines({1}); })) {
          fail("no recovery");
        }
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace velk
