// SPDX-License-Identifier: GPL-3.0-or-later
// The fault matrix: the watch loop, with the log's real append step behind
// it, against decode files and log files that misbehave the way they do in
// the field. Every case names what the program must do with the fault:
//   shown     - the display line goes to the list,
//   logged    - the log record goes to the log file, byte for byte,
//   recovered - the loop moved to the fallback path and says so above the
//               waiting message,
//   ignored   - nothing happens, by the watcher's own rules (only lines
//               added after Go count, and of a file that was already there
//               only the last line; only lines with "*" are selected).
// And in every case: no crash, no hang, memory bounded, nothing lost that
// the rules let through.
//
// The matrix runs on Windows too. What Windows has no such thing for (FIFOs,
// /dev/zero, /dev/full) is left out there; what only Windows has (files
// other programs hold open without sharing) is there only.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/platform.h"
#include "logfile/log_book.h"
#include "tests/support/test_files.h"
#include "watch/watcher.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#define VELK_HAVE_FIFOS_AND_DEVICES 1
#endif

namespace velk {
namespace {

namespace fs = std::filesystem;
using test_files::Borrowed;
using test_files::Eventually;
using test_files::kAnsweringDiskWait;
using test_files::LocalNoon;
using test_files::TempDir;
using Lines = std::vector<std::string>;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

// --- decode lines and what must come of them ---

// The fields of the decoder's usual line from sync to the marker, standing
// in columns 5 to 35; the message starts in column 36.
const std::string kMiddle = "    3  -23  0.3   -5    3 *    ";
const std::string kShownMiddle = "z   Sync= 3  dB=-23  DT= .3  DF=-5  W= 3     ";

std::string Decode(const std::string& time, const std::string& message = "ABC DEF GH") {
  return time + kMiddle + message;
}
// The display line of Decode(time, message) in a file dated 2009/08/22.
std::string Shown(const std::string& time, const std::string& message = "ABC DEF GH") {
  return "2009/08/22 " + time + kShownMiddle + message + "\r\n";
}
// The log file's line for Decode(time, message).
std::string Logged(const std::string& time, const std::string& message = "ABC DEF GH") {
  return time + ", 3,-23, .3,-5, 3, \"" + message + "\"\r\n";
}
const std::string kFallbackCaption =
    std::string(kFallbackDecodePath) + "\r\n" + std::string(kWaitingCaption);

// A log record of its own for every `n`, and its line.
LogRecord Numbered(int n) {
  return LogRecord{"0700, 1,-1, .1, 1", ", 1, \"R" + std::to_string(n) + "\""};
}
std::string NumberedLines(int from, int to) {
  std::string lines;
  for (int n = from; n <= to; ++n) lines += Numbered(n).Line();
  return lines;
}

// Everything in the rescue files in `directory`.
std::string Rescued(const fs::path& directory) {
  std::string all;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    if (std::regex_match(entry.path().filename().string(),
                         std::regex("VELK_LOG-unsaved-[0-9]{8}-[0-9]{6}-[0-9]+(-[0-9]+)?\\.TXT"))) {
      all += test_files::ReadFile(entry.path());
    }
  }
  return all;
}

// --- the window ---

// The window as the watch loop's owner shows what a pass returns: the list
// is a list of lines and the records go to the real LogBook writing the
// armed log file.
struct LoggingWindow {
  void Pass(DecodeWatcher& watcher) {
    const WatchPass pass = watcher.RunPass(!logPath.empty());
    if (pass.fallback) caption = CaptionWithFallback(caption, *pass.fallback);
    for (const LogRecord& record : pass.records) book.Append(logPath, record);
    for (std::size_t start = 0; start < pass.displayLines.size();) {
      const std::size_t end = pass.displayLines.find("\r\n", start) + 2;
      shown.push_back(pass.displayLines.substr(start, end - start));
      start = end;
    }
  }

  std::string logPath;
  std::string caption{kWaitingCaption};
  Lines shown;
  LogBook book;
};

// An open decode file that counts the bytes read from it.
class CountedFile final : public platform::ReadOnlyFile {
 public:
  CountedFile(std::unique_ptr<platform::ReadOnlyFile> file, std::uint64_t& bytesRead)
      : file_(std::move(file)), bytesRead_(bytesRead) {}
  std::optional<std::uint64_t> Size() override { return file_->Size(); }
  std::optional<platform::FileIdentity> Identity() override { return file_->Identity(); }
  std::optional<std::size_t> ReadAt(std::uint64_t offset, char* buffer,
                                    std::size_t count) override {
    const std::optional<std::size_t> got = file_->ReadAt(offset, buffer, count);
    bytesRead_ += got.value_or(0);
    return got;
  }

 private:
  std::unique_ptr<platform::ReadOnlyFile> file_;
  std::uint64_t& bytesRead_;
};

// The disk, with a moment between the length poll and the read in which a
// test can change the file: the decoder does not wait for us. Counts the
// bytes read from decode files.
class RacingFiles final : public DecodeFileAccess {
 public:
  explicit RacingFiles(FileClock now = {}) : disk_(std::move(now)) {}
  std::optional<platform::FileStatus> Status(const std::string& path) override {
    std::optional<platform::FileStatus> status = disk_.Status(path);
    if (afterPoll) std::exchange(afterPoll, nullptr)();
    return status;
  }
  std::unique_ptr<platform::ReadOnlyFile> Open(const std::string& path) override {
    std::unique_ptr<platform::ReadOnlyFile> file = disk_.Open(path);
    if (!file) return nullptr;
    return std::make_unique<CountedFile>(std::move(file), bytesRead);
  }
  std::optional<std::string> ModificationDate(const std::string& path) override {
    return disk_.ModificationDate(path);
  }

  std::function<void()> afterPoll;
  std::uint64_t bytesRead = 0;

 private:
  DiskDecodeFiles disk_;
};

// The disk behind a share that stops answering: from the first call of the
// kind named on, every call waits until the share is back.
class HangingShare final : public DecodeFileAccess {
 public:
  enum class Call { kStatus, kOpen, kDate };

  void HangAt(Call call) {
    const std::lock_guard lock(mutex_);
    hangAt_ = call;
  }
  void Answer() {
    const std::lock_guard lock(mutex_);
    hangAt_.reset();
    hung_ = false;
    back_.notify_all();
  }
  int CallsWhileHung() {
    const std::lock_guard lock(mutex_);
    return callsWhileHung_;
  }

  std::optional<platform::FileStatus> Status(const std::string& path) override {
    Enter(Call::kStatus);
    return disk_.Status(path);
  }
  std::unique_ptr<platform::ReadOnlyFile> Open(const std::string& path) override {
    Enter(Call::kOpen);
    return disk_.Open(path);
  }
  std::optional<std::string> ModificationDate(const std::string& path) override {
    Enter(Call::kDate);
    return disk_.ModificationDate(path);
  }

 private:
  void Enter(Call call) {
    std::unique_lock lock(mutex_);
    hung_ = hung_ || hangAt_ == call;
    if (hung_) ++callsWhileHung_;
    back_.wait(lock, [this] { return !hung_; });
  }

  std::mutex mutex_;
  std::condition_variable back_;
  std::optional<Call> hangAt_;
  bool hung_ = false;
  int callsWhileHung_ = 0;
  DiskDecodeFiles disk_;
};

// --- the machine ---

#ifdef VELK_HAVE_FIFOS_AND_DEVICES
// Lets a reader blocked on any FIFO in `directory` go: a writer that opens
// and closes gives it end of file.
void ReleaseFifoReaders(const fs::path& directory) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(directory, error)) {
    if (!entry.is_fifo(error)) continue;
    const int fd = ::open(entry.path().c_str(), O_RDWR | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  }
}

void MakeFifo(const std::string& path) {
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
}
#else
void ReleaseFifoReaders(const fs::path&) {}
#endif

// --- the fixture ---

class FaultMatrix : public ::testing::Test {
 protected:
  std::string DecodePath() const { return dir.File("ALL.TXT"); }
  std::string LogPath() const { return dir.File("LOG.TXT"); }

  // A log book whose rescue file goes to the working directory.
  LogBook Book(AppendFunction append = nullptr) const {
    return LogBook(std::move(append), kMaxKeptRecords,
                   RescueFile(dir.Path().string(), dir.Path().string()));
  }

  // Go, with the log armed on LOG.TXT in the working directory.
  void Go() {
    window.book = Book();
    window.logPath = LogPath();
    watcher->Start(dir.Path().string(), false);
  }

  // One pass of the loop, on a thread of its own so that a pass that blocks
  // fails the test instead of hanging it. The display lines it showed.
  Lines Pass() {
    const std::size_t before = window.shown.size();
    auto pass = std::async(std::launch::async, [this] { window.Pass(*watcher); });
    if (pass.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
      ADD_FAILURE() << "a pass of the watch loop blocked";
      ReleaseFifoReaders(dir.Path());
      if (pass.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        std::cerr << "the watch loop is still blocked; giving up\n";
        std::abort();
      }
    }
    pass.get();
    return Lines(window.shown.begin() + static_cast<std::ptrdiff_t>(before), window.shown.end());
  }

  // Changes the decode file and dates it 2009/08/22.
  void Write(std::string_view bytes) {
    Dated([&] { test_files::WriteFile(DecodePath(), bytes); });
  }
  void Append(std::string_view bytes) {
    Dated([&] { test_files::AppendFile(DecodePath(), bytes); });
  }
  // The log once the log book's writer has done with what it was handed.
  // The log file once the log's writer has written what it was handed (or
  // given up on it); a long backlog is waited for while it shrinks.
  std::string Log() {
    bool written = true;
    while (written) {
      written = false;
      const bool settled = Eventually([&] {
        const LogBook::Progress progress = window.book.TakeProgress();
        written = written || progress.written > 0;
        return progress.waiting == 0 || progress.failing;
      });
      if (settled) break;
    }
    return test_files::ReadFile(LogPath());
  }
  bool Recovered() const {
    return watcher->DecodePath() == kFallbackDecodePath && window.caption == kFallbackCaption;
  }
  bool StillWatching() const {
    return watcher->DecodePath() == DecodePath() && window.caption == kWaitingCaption;
  }

  // A window and a watch loop as fresh as at the program's start.
  void Restart() {
    window = LoggingWindow();
    watcher.emplace(Borrowed(files), clock, kAnsweringDiskWait);
  }

  TempDir dir;
  LoggingWindow window;
  // The watch loop's clock, moved on by the tests; the disk's too.
  std::chrono::steady_clock::time_point now{};
  RacingFiles files{[this] { return now; }};
  WatchClock clock = [this] { return now; };
  std::optional<DecodeWatcher> watcher{std::in_place, Borrowed(files), clock, kAnsweringDiskWait};

 private:
  template <typename Change>
  void Dated(Change change) {
    change();
    fs::last_write_time(DecodePath(), LocalNoon(2009, 8, 22));
  }
};

// ===================== the decode file =====================

// Missing at Go (the decoder started after VELK_LOG): recovered. The decode
// file that turns up later in the working directory is followed from then
// on, every line of it; the fallback path stays shown above the waiting
// message.
TEST_F(FaultMatrix, DecodeFileMissingAtGoIsRecoveredAndFollowedOnceCreated) {
  Go();
  EXPECT_EQ(Pass(), Lines{});
  EXPECT_TRUE(Recovered());
  EXPECT_EQ(Pass(), Lines{});
  Write(Decode("0712") + "\r\n" + Decode("0713") + "\r\n");
  EXPECT_EQ(Pass(), (Lines{Shown("0712"), Shown("0713")}));
  EXPECT_EQ(Pass(), Lines{});
  EXPECT_EQ(watcher->DecodePath(), DecodePath());
  EXPECT_EQ(window.caption, kFallbackCaption);
  EXPECT_EQ(Log(), Logged("0712") + Logged("0713"));
}

// A decode file cleared, replaced or made anew, then holding `lines`
// decodes; the old file held 3. Whether or not a pass saw it gone or empty
// in between, it is a new file: every line written into it is shown and
// logged once, in order, and so is everything it grows by. A poll that
// found no file runs the recovery (the fallback path is shown), and the
// loop follows ALL.TXT again as soon as it is back.
TEST_F(FaultMatrix, ClearedReplacedOrRecreatedFilesAreReadFromTheirStart) {
  enum class Change { kRenamedOver, kCleared, kRenamedAway, kDeleted, kClearedAfterPoll };
  struct Case {
    const char* name;
    Change change;
    int lines;           // decodes in the file afterwards
    bool passInBetween;  // a pass sees the file gone or empty
  };
  const Case cases[] = {
      {"renamed over, more lines", Change::kRenamedOver, 5, false},
      {"renamed over, fewer lines", Change::kRenamedOver, 1, false},
      // Told apart from the file before by its identity alone, a second on.
      {"renamed over, same size and date", Change::kRenamedOver, 3, false},
      {"cleared, written past the old length", Change::kCleared, 5, true},
      {"cleared, written below the old length", Change::kCleared, 2, true},
      {"cleared and written below the old length between two polls", Change::kCleared, 2, false},
      {"cleared and written past the old length between two polls", Change::kCleared, 5, false},
      {"renamed away, a new file started", Change::kRenamedAway, 4, false},
      {"renamed away, a new file started after a poll found none", Change::kRenamedAway, 4, true},
      {"deleted and made anew", Change::kDeleted, 1, false},
      {"deleted, a poll found none, made anew", Change::kDeleted, 4, true},
      // The decoder clears its file between the poll that found it grown and
      // the read: the read ends where the file now ends, which is no failure.
      {"cleared between the poll and the read", Change::kClearedAfterPoll, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir other;
    LoggingWindow fresh;
    RacingFiles disk{clock};
    DecodeWatcher watching(Borrowed(disk), clock, kAnsweringDiskWait);
    const std::string path = other.File("ALL.TXT");
    const auto dated = [&] { fs::last_write_time(path, LocalNoon(2009, 8, 22)); };
    fresh.logPath = other.File("LOG.TXT");
    test_files::WriteFile(
        path, Decode("0701") + "\r\n" + Decode("0702") + "\r\n" + Decode("0703") + "\r\n");
    dated();
    watching.Start(other.Path().string(), false);
    fresh.Pass(watching);
    ASSERT_EQ(fresh.shown, Lines{Shown("0703")});

    std::string after;
    Lines shown = {Shown("0703")};
    std::string logged = Logged("0703");
    for (int i = 1; i <= c.lines; ++i) {
      const std::string time = "08" + std::to_string(10 + i);
      after += Decode(time) + "\r\n";
      shown.push_back(Shown(time));
      logged += Logged(time);
    }
    switch (c.change) {
      case Change::kRenamedOver:
        test_files::WriteFile(path + ".new", after);
        fs::rename(path + ".new", path);
        now += kIdentityRecheck;
        break;
      case Change::kCleared:
        fs::resize_file(path, 0);
        if (c.passInBetween) fresh.Pass(watching);
        test_files::AppendFile(path, after);
        break;
      case Change::kRenamedAway:
      case Change::kDeleted:
        if (c.change == Change::kRenamedAway) fs::rename(path, other.File("ALL.OLD"));
        if (c.change == Change::kDeleted) fs::remove(path);
        if (c.passInBetween) fresh.Pass(watching);
        test_files::WriteFile(path, after);
        break;
      case Change::kClearedAfterPoll:
        test_files::AppendFile(path, Decode("0704") + "\r\n");
        disk.afterPoll = [&] { fs::resize_file(path, 0); };
        fresh.Pass(watching);  // finds nothing to read
        EXPECT_EQ(fresh.caption, kWaitingCaption);
        test_files::AppendFile(path, after);
        break;
    }
    dated();
    fresh.Pass(watching);
    EXPECT_EQ(fresh.shown, shown);

    test_files::AppendFile(
        path, Decode("0900") + "\r\n" + Decode("0901") + "\r\n" + Decode("0902") + "\r\n");
    dated();
    fresh.Pass(watching);
    for (const std::string time : {"0900", "0901", "0902"}) {
      shown.push_back(Shown(time));
      logged += Logged(time);
    }
    EXPECT_EQ(fresh.shown, shown);
    EXPECT_TRUE(Eventually([&] { return test_files::ReadFile(fresh.logPath) == logged; }));
    EXPECT_EQ(watching.DecodePath(), path);
    const bool sawNone =
        c.passInBetween && (c.change == Change::kRenamedAway || c.change == Change::kDeleted);
    EXPECT_EQ(fresh.caption, sawNone ? kFallbackCaption : std::string(kWaitingCaption));
  }
}

// A decoder keeps ALL.TXT open for writing all along, sharing it for reading
// and writing only, never for deletion. The loop follows it all the same,
// and never holds the decoder up: while a handle of the loop's is open on
// the file, the decoder still writes to it, renames it away and deletes it,
// and the file it then starts is followed.
TEST_F(FaultMatrix, ADecoderHoldingItsFileOpenIsFollowedAndNeverHeldUp) {
  std::optional<test_files::HeldFile> decoder{std::in_place, DecodePath(), true};
  ASSERT_TRUE(decoder->IsOpen());
  const auto decode = [&](const std::string& time) {
    EXPECT_TRUE(decoder->Append(Decode(time) + "\r\n"));
    fs::last_write_time(DecodePath(), LocalNoon(2009, 8, 22));
  };
  Go();
  EXPECT_EQ(Pass(), Lines{});
  decode("0701");
  EXPECT_EQ(Pass(), Lines{Shown("0701")});

  std::unique_ptr<platform::ReadOnlyFile> ours = DiskDecodeFiles().Open(DecodePath());
  ASSERT_TRUE(ours);
  decode("0702");
  EXPECT_EQ(Pass(), Lines{Shown("0702")});
  decoder->Close();
  std::error_code error;
  fs::rename(DecodePath(), dir.File("ALL.OLD"), error);
  EXPECT_FALSE(error) << "rename: " << error.message();
  EXPECT_TRUE(fs::remove(dir.File("ALL.OLD"), error)) << "delete: " << error.message();
  ours.reset();

  decoder.emplace(DecodePath(), true);
  decode("0801");
  EXPECT_EQ(Pass(), Lines{Shown("0801")});
  EXPECT_TRUE(StillWatching());
  EXPECT_EQ(Log(), Logged("0701") + Logged("0702") + Logged("0801"));
}

// What is no regular file in the decode file's place - at Go, while
// watched, or slipped in between the length poll and the read - is a failed
// step: recovered, never blocking, nothing new shown or logged (a failed
// read takes no line).
TEST_F(FaultMatrix, NoRegularFileInTheDecodeFilesPlaceIsRecoveredWithoutBlocking) {
  struct Kind {
    const char* name;
    std::function<void(const std::string&)> make;
  };
  const Kind kinds[] = {
      {"directory", [](const std::string& path) { fs::create_directory(path); }},
#ifdef VELK_HAVE_FIFOS_AND_DEVICES
      {"FIFO", [](const std::string& path) { MakeFifo(path); }},
      {"link to /dev/zero", [](const std::string& path) { fs::create_symlink("/dev/zero", path); }},
#endif
  };
  enum class When { kAtGo, kWhileWatched, kBetweenPollAndRead };
  for (const Kind& kind : kinds) {
    for (const When when : {When::kAtGo, When::kWhileWatched, When::kBetweenPollAndRead}) {
      SCOPED_TRACE(std::string(kind.name) + " " + std::to_string(static_cast<int>(when)));
      Restart();
      fs::remove_all(DecodePath());
      fs::remove_all(LogPath());

      if (when == When::kAtGo) kind.make(DecodePath());
      if (when != When::kAtGo) Write(Decode("0712") + "\r\n");
      Go();
      if (when != When::kAtGo) {
        ASSERT_EQ(Pass(), Lines{Shown("0712")});
        fs::remove(DecodePath());
        if (when == When::kWhileWatched) kind.make(DecodePath());
      }
      if (when == When::kBetweenPollAndRead) {
        Write(Decode("0712") + "\r\n" + Decode("0713") + "\r\n");
        files.afterPoll = [&] {
          fs::remove(DecodePath());
          kind.make(DecodePath());
        };
      }
      EXPECT_EQ(Pass(), Lines{});
      EXPECT_TRUE(Recovered());
      EXPECT_EQ(Pass(), Lines{});
      EXPECT_EQ(Log(), when == When::kAtGo ? "" : Logged("0712"));
    }
  }
}

// Decodes come in bursts: one appended between the length poll and the read
// is not read in that pass, which reads only as far as the length polled. It
// is a growth of its own at the next pass, so each decode is shown and
// logged once.
TEST_F(FaultMatrix, ADecodeAppendedBetweenPollAndReadIsTakenAtTheNextPass) {
  Write("");
  Go();
  Append(Decode("0701") + "\r\n");
  files.afterPoll = [this] { Append(Decode("0702") + "\r\n"); };
  EXPECT_EQ(Pass(), Lines{Shown("0701")});
  EXPECT_EQ(Pass(), Lines{Shown("0702")});
  EXPECT_EQ(Pass(), Lines{});
  EXPECT_EQ(watcher->LastSize(), fs::file_size(DecodePath()));
  Append(Decode("0703") + "\r\n");
  EXPECT_EQ(Pass(), Lines{Shown("0703")});
  EXPECT_EQ(Log(), Logged("0701") + Logged("0702") + Logged("0703"));
}

// The decode file's share stops answering at its status, at the open for a
// read or at its date, while the decoder goes on writing. Each pass returns
// at once (the window's clock and clicks are served), only the one call is
// made while it hangs, and a call that does not answer is no failure: no
// recovery. Once the share answers, every decode written meanwhile is shown
// and logged once, in order.
TEST_F(FaultMatrix, AShareThatStopsAnsweringHoldsNoPassUpAndLosesNothing) {
  using Call = HangingShare::Call;
  for (const Call hangAt : {Call::kStatus, Call::kOpen, Call::kDate}) {
    SCOPED_TRACE(static_cast<int>(hangAt));
    HangingShare share;
    Restart();
    watcher.emplace(Borrowed(share), clock);  // the program's own wait
    fs::remove(LogPath());
    Write("");
    Go();
    const auto passUntilShown = [this](std::size_t count) {
      return Eventually([&] {
        Pass();
        return window.shown.size() >= count;
      });
    };
    Append(Decode("0701") + "\r\n");
    ASSERT_TRUE(passUntilShown(1));
    share.HangAt(hangAt);
    Append(Decode("0702") + "\r\n");
    const auto hungAt = std::chrono::steady_clock::now();
    for (int pass = 0; pass < 50; ++pass) {
      EXPECT_EQ(Pass(), Lines{});
      if (pass == 20) Append(Decode("0703") + "\r\n");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - hungAt, std::chrono::seconds(5));
    EXPECT_TRUE(StillWatching());
    EXPECT_EQ(share.CallsWhileHung(), 1);
    Append(Decode("0704") + "\r\n");
    share.Answer();
    ASSERT_TRUE(passUntilShown(4));
    for (int pass = 0; pass < 5; ++pass) Pass();
    EXPECT_EQ(window.shown, (Lines{Shown("0701"), Shown("0702"), Shown("0703"), Shown("0704")}));
    EXPECT_EQ(Log(), Logged("0701") + Logged("0702") + Logged("0703") + Logged("0704"));
    Restart();
  }
}

// A line written in two pieces, the second after a pause. A first piece
// without a line end is waited on: when the rest comes within the wait (the
// system splitting one write at a page boundary does that in microseconds)
// the line is shown and logged once, whole. When the decoder pauses longer
// (here 400 ms), the first piece is taken as it stands once the wait is
// over - shown and logged if it carries the marker - and the rest of the
// line, when it comes, is not taken again. A line ended by CR is whole at
// once; the LF of its CR LF coming later adds no line.
TEST_F(FaultMatrix, ALineWrittenInTwoPiecesIsTakenOnce) {
  const std::string line = Decode("0712");
  struct Case {
    const char* name;
    std::size_t splitAt;  // bytes of line + CR LF in the first piece
    bool longPause;       // 400 ms, longer than the wait on an unended line
    Lines messages;       // of the lines shown and logged, in order
  };
  const std::string whole = "ABC DEF GH";
  const Case cases[] = {
      {"inside the message, after the marker", 40, false, {whole}},
      {"before the marker", 20, false, {whole}},
      {"before the line end", line.size(), false, {whole}},
      {"between CR and LF", line.size() + 1, false, {whole}},
      {"inside the message, after the marker; long pause", 40, true, {"ABC D"}},
      {"before the marker; long pause", 20, true, {}},
      {"before the line end; long pause", line.size(), true, {whole}},
      {"between CR and LF; long pause", line.size() + 1, true, {whole}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoggingWindow fresh;
    DecodeWatcher watching(Borrowed(files), clock, kAnsweringDiskWait);
    TempDir other;
    const std::string path = other.File("ALL.TXT");
    const std::string written = line + "\r\n";
    test_files::WriteFile(path, "");
    fresh.logPath = other.File("LOG.TXT");
    watching.Start(other.Path().string(), false);
    fresh.Pass(watching);
    for (const std::string& piece : {written.substr(0, c.splitAt), written.substr(c.splitAt)}) {
      test_files::AppendFile(path, piece);
      fs::last_write_time(path, LocalNoon(2009, 8, 22));
      for (int pass = 0; pass < 20; ++pass) {
        fresh.Pass(watching);
        now += c.longPause ? std::chrono::milliseconds(20) : std::chrono::microseconds(1);
      }
    }
    now += kUnendedLineWait;
    fresh.Pass(watching);
    Lines shown;
    std::string logged;
    for (const std::string& message : c.messages) {
      shown.push_back(Shown("0712", message));
      logged += Logged("0712", message);
    }
    EXPECT_EQ(fresh.shown, shown);
    EXPECT_TRUE(Eventually([&] { return test_files::ReadFile(fresh.logPath) == logged; }));
  }
}

// Every kind of line end ends a line; a line end right after another ends
// an empty line, which has no marker and is ignored. Every marked line of a
// growth is shown and logged, in order; a last line without a line end once
// its wait is over.
TEST_F(FaultMatrix, CrOnlyLfOnlyMixedLineEndsAndBursts) {
  struct Growth {
    std::string appended;
    Lines shownTimes;
  };
  struct Case {
    const char* name;
    std::vector<Growth> growths;
  };
  std::string burst;
  Lines burstTimes;
  for (int i = 0; i < 8; ++i) {
    burstTimes.push_back("071" + std::to_string(i));
    burst += Decode(burstTimes.back()) + "\r\n";
  }
  const Case cases[] = {
      {"CR only",
       {{Decode("0701") + "\r", {"0701"}},
        {Decode("0702") + "\r" + Decode("0703") + "\r", {"0702", "0703"}},
        {"\r", {}}}},
      {"LF only",
       {{Decode("0701") + "\n", {"0701"}},
        {Decode("0702") + "\n" + Decode("0703") + "\n", {"0702", "0703"}},
        {"\n", {}}}},
      {"mixed",
       {{Decode("0701") + "\r", {"0701"}},
        {Decode("0702") + "\n", {"0702"}},
        {Decode("0703") + "\r\n", {"0703"}},
        {Decode("0704") + "\n\r", {"0704"}},
        {Decode("0705") + "\r\r\n", {"0705"}},
        {Decode("0706") + "\n" + Decode("0707") + "\r" + Decode("0708"), {"0706", "0707", "0708"}},
        {"\r\n" + Decode("0709") + "\r\n", {"0709"}}}},
      {"a burst of 8 lines in one write", {{burst, burstTimes}, {burst, burstTimes}}},
  };
  for (const Case& c : cases) {
    LoggingWindow fresh;
    DecodeWatcher watching(Borrowed(files), clock, kAnsweringDiskWait);
    TempDir other;
    const std::string path = other.File("ALL.TXT");
    test_files::WriteFile(path, "");
    fresh.logPath = other.File("LOG.TXT");
    watching.Start(other.Path().string(), false);
    fresh.Pass(watching);
    std::string logged;
    for (const Growth& growth : c.growths) {
      SCOPED_TRACE(std::string(c.name) + ": " + ::testing::PrintToString(growth.appended));
      test_files::AppendFile(path, growth.appended);
      fs::last_write_time(path, LocalNoon(2009, 8, 22));
      const std::size_t before = fresh.shown.size();
      fresh.Pass(watching);
      // A last line without a line end is taken once the wait is over.
      now += kUnendedLineWait;
      fresh.Pass(watching);
      Lines shown;
      for (const std::string& time : growth.shownTimes) {
        shown.push_back(Shown(time));
        logged += Logged(time);
      }
      EXPECT_EQ(Lines(fresh.shown.begin() + static_cast<std::ptrdiff_t>(before), fresh.shown.end()),
                shown);
    }
    EXPECT_TRUE(Eventually([&] { return test_files::ReadFile(fresh.logPath) == logged; }))
        << c.name;
  }
}

// Whatever bytes the decoder wrote stand in the fields unchanged: NUL, the
// upper half of the 8-bit range, and byte runs that are no UTF-8. Shown and
// logged byte for byte.
TEST_F(FaultMatrix, AnyBytesGoThroughTheFieldsUnchanged) {
  using namespace std::string_literals;
  struct Case {
    const char* name;
    std::string time;
    std::string message;
  };
  const Case cases[] = {
      {"NUL",
       "0\0"s
       "12",
       "AB\0CD\0"s},
      {"0x80-0xFF", "\x80\xff\xfe\xa0", "\xe9t\xe9 \xff\x80\xc0\xc1"},
      {"invalid UTF-8", "\xc3\x28\xed\xa0", "\xed\xa0\x80 \xf8\x88\x80\x80\x80 \xc0\xaf \xe2\x82"},
      {"every byte but line ends and the marker", "\x01\x7f\x9f\x1a",
       "\x01\x02\x0b\x0c\x1b\x7f\x8d\xa0\xfe\xff"},
  };
  Write("");
  Go();
  std::string logged;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.time.size(), 4U);
    Append(Decode(c.time, c.message) + "\r\n");
    EXPECT_EQ(Pass(), Lines{Shown(c.time, c.message)});
    logged += Logged(c.time, c.message);
  }
  EXPECT_EQ(Log(), logged);
  EXPECT_TRUE(StillWatching());
}

// A last line of 1 GiB with no line end (a sparse file: a decode, then a
// hole of NUL bytes, then the marker): read from its end back to its start
// with memory bounded by the read's one chunk, never by the line. Shown, its
// head being the decode and the NUL bytes after it.
TEST_F(FaultMatrix, AGibibyteLastLineIsShownWithMemoryBounded) {
  Write(Decode("0700") + "\r\n" + Decode("0712"));
  test_files::ExtendSparse(DecodePath(), kGiB);
  Append(" *");
  Go();
  const std::optional<long> before = test_files::PeakResidentKiB(true);
  EXPECT_EQ(Pass(), Lines{});  // no line end: waited on
  now += kUnendedLineWait;
  const Lines shown = Pass();
  const std::optional<long> after = test_files::PeakResidentKiB(false);

  const std::string holeInMessage(8, '\0');  // the display message has 18 columns
  EXPECT_EQ(shown, Lines{Shown("0712", "ABC DEF GH" + holeInMessage)});
  EXPECT_EQ(Log(), Logged("0712", "ABC DEF GH" + holeInMessage + std::string(4, '\0')));
  EXPECT_EQ(watcher->LastSize(), kGiB + 2);
  ASSERT_TRUE(before && after);
  const long growthKiB = *after - *before;
  std::cout << "[ figures  ] peak RSS growth reading a 1 GiB last line: " << growthKiB << " KiB\n";
  EXPECT_LT(growthKiB, 16 * 1024);
}

// A decode file past 4 GiB (sparse): lengths are 64-bit. The file jumps
// from a small length to one whose low 32 bits are below it, and then grows
// on: both growths are acted on, and the line at the end is shown (the
// jump, copied in, once the file has rested).
TEST_F(FaultMatrix, AFileOverFourGibibytesIsFollowedWithSixtyFourBitLengths) {
  Write(Decode("0700") + "\r\n" + Decode("0701") + "\r\n");
  Go();
  EXPECT_EQ(Pass(), Lines{Shown("0701")});
  const std::uint64_t small = watcher->LastSize();

  test_files::ExtendSparse(DecodePath(), 4 * kGiB);
  Append("\r\n" + Decode("0712") + "\r\n");
  const std::uint64_t huge = fs::file_size(DecodePath());
  ASSERT_LT(huge % (4 * kGiB), small);
  EXPECT_EQ(Pass(), Lines{});
  now += kLargeGrowthRestWait;
  EXPECT_EQ(Pass(), Lines{Shown("0712")});
  EXPECT_EQ(watcher->LastSize(), huge);

  Append(Decode("0713") + "\r\n");
  EXPECT_EQ(Pass(), Lines{Shown("0713")});
  EXPECT_EQ(Pass(), Lines{});
  EXPECT_EQ(Log(), Logged("0701") + Logged("0712") + Logged("0713"));
  EXPECT_TRUE(StillWatching());
}

// Work a pass does is bounded whatever the growth, and a growth is judged
// by how fast it came. 2 MiB appended at once, or 1.5 MB within a second, is
// no decoder's output (a file copied or restored in): only its last line is
// shown and logged, and only the file's end is read. Just under 1 MiB at
// once, or 1.5 MB written over 30 s while the program was stopped, is the
// decoder's: worked through in chunks over several passes, every line once,
// in order.
TEST_F(FaultMatrix, LargeGrowthsAreWorkedThroughInBoundedPasses) {
  struct Case {
    const char* name;
    std::size_t bytes;
    std::chrono::seconds stopped;  // how long no pass ran while it was written
    bool copied;
  };
  const Case cases[] = {
      {"2 MiB at once", 2 * 1024 * 1024, std::chrono::seconds(0), true},
      {"just under 1 MiB at once", kDecoderBurstBytes - 4096, std::chrono::seconds(0), false},
      {"1.5 MB within a second", 1'500'000, std::chrono::seconds(1), true},
      {"1.5 MB over 30 s, the program stopped", 1'500'000, std::chrono::seconds(30), false},
  };
  // Decodes numbered on in their message until they fill `bytes`.
  int number = 0;
  const auto decodes = [&number](std::size_t bytes, Lines& messages) {
    std::string text;
    while (text.size() < bytes) {
      messages.push_back(std::to_string(number++));
      text += Decode("0800", messages.back()) + "\r\n";
    }
    return text;
  };
  // Besides its chunk, a read looks at the file's last two bytes (for the
  // last line's end) or at the bytes it read last (to tell a file written
  // anew).
  const std::uint64_t mostReadInAPass = kReadChunkBytes + 2 + kRewriteCheckBytes;
  Write(Decode("0700") + "\r\n");
  Go();
  EXPECT_EQ(Pass(), Lines{Shown("0700")});
  std::string logged = Logged("0700");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Lines written;
    Append(decodes(c.bytes, written));
    now += c.stopped;
    Lines shown;
    int passes = 0;
    for (Lines more = {""}; !more.empty() || watcher->Busy(); ++passes) {
      files.bytesRead = 0;
      now += std::chrono::milliseconds(5);
      more = Pass();
      shown.insert(shown.end(), more.begin(), more.end());
      EXPECT_LE(files.bytesRead, mostReadInAPass);
      if (passes > 200) break;
    }
    if (c.copied) written.erase(written.begin(), written.end() - 1);
    Lines expected;
    for (const std::string& message : written) {
      expected.push_back(Shown("0800", message));
      logged += Logged("0800", message);
    }
    EXPECT_TRUE(shown == expected) << shown.size() << " of " << expected.size() << " shown";
    if (!c.copied) {
      EXPECT_GE(passes, static_cast<int>(c.bytes / kReadChunkBytes) - 1);
    }
  }
  EXPECT_TRUE(Log() == logged) << "the log differs";
  EXPECT_TRUE(StillWatching());
}

// 100 MB written in one go by a copy that polls see going on: one record, the last line of the file
// once the write is over - none from its start, none from its middle, no line cut where a poll
// found the file's end. Most of it is a hole, to keep the test fast.
TEST_F(FaultMatrix, AHundredMegabyteWriteGivesOnlyTheLineThatEndsIt) {
  const std::uint64_t total = 100'000'000;
  Write(Decode("0700") + "\r\n");
  Go();
  ASSERT_EQ(Pass(), Lines{Shown("0700")});
  // Polls see the write's start and its middle.
  std::string start;
  for (int i = 0; start.size() < 300 * 1024; ++i)
    start += Decode("0800", std::to_string(i)) + "\r\n";
  Append(start + Decode("0801").substr(0, 20));
  EXPECT_EQ(Pass(), Lines{});
  test_files::ExtendSparse(DecodePath(), total / 2);
  EXPECT_EQ(Pass(), Lines{});
  test_files::ExtendSparse(DecodePath(), total - 64 * 1024);
  std::string end = "\r\n";
  for (int i = 0; end.size() < 64 * 1024; ++i) end += Decode("0802", std::to_string(i)) + "\r\n";
  Append(end + Decode("0803", "LAST") + "\r\n");
  Lines shown;
  for (int pass = 0; pass < 10; ++pass) {
    now += kLargeGrowthRestWait / 4;  // the write is over: the file rests
    const Lines more = Pass();
    shown.insert(shown.end(), more.begin(), more.end());
  }
  EXPECT_EQ(shown, Lines{Shown("0803", "LAST")});
  EXPECT_EQ(Log(), Logged("0700") + Logged("0803", "LAST"));
  EXPECT_TRUE(StillWatching());
}

// ===================== the log file =====================

// The log breaks after its first record and is mended after three more
// decodes. Every decode is shown; the loop never leaves the decode file (a
// bad log is no reason to stop watching); the records that could not be
// written are kept and go into the file first once it takes writes again,
// in order, none twice; and nothing ever blocks.
TEST_F(FaultMatrix, ABrokenLogKeepsRecordsAndWritesThemInOrderOnceMended) {
  // Each case has folders of its own: under Wine, removing the folders of
  // the case before now and then fails as something there is not yet let go.
  std::string logDir;
  std::string log;
  std::string aside;
  // Puts `replacement` where the log file stands, the log file aside.
  const auto inPlaceOfLog = [&](std::function<void()> replacement) {
    fs::rename(log, aside);
    replacement();
  };
  const auto logBack = [&] {
    fs::remove_all(log);
    fs::rename(aside, log);
  };
  std::optional<test_files::HeldFile> othersHandle;
  struct Case {
    const char* name;
    std::function<void()> breakLog;
    std::function<void()> mendLog;
  };
  const Case cases[] = {
      {"directory missing", [&] { fs::rename(logDir, aside); }, [&] { fs::rename(aside, logDir); }},
      {"a directory where the log should be",
       [&] { inPlaceOfLog([&] { fs::create_directory(log); }); }, logBack},
#ifdef VELK_HAVE_FIFOS_AND_DEVICES
      {"a link to /dev/full", [&] { inPlaceOfLog([&] { fs::create_symlink("/dev/full", log); }); },
       logBack},
      {"a FIFO without reader", [&] { inPlaceOfLog([&] { MakeFifo(log); }); }, logBack},
#endif
#ifdef _WIN32
      // As a spreadsheet holds the CSV file it shows.
      {"held open by another program that shares it for reading only",
       [&] { othersHandle.emplace(log, false); }, [&] { othersHandle.reset(); }},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string place = std::to_string(&c - cases);
    logDir = dir.File("logs" + place);
    log = logDir + "/LOG.TXT";
    aside = dir.File("aside" + place);
    fs::create_directory(logDir);
    Restart();
    Write("");
    Go();
    window.logPath = log;

    Append(Decode("0701") + "\r\n");
    EXPECT_EQ(Pass(), Lines{Shown("0701")});
    EXPECT_TRUE(Eventually([&] { return test_files::ReadFile(log) == Logged("0701"); }));
    c.breakLog();
    for (const std::string time : {"0702", "0703", "0704"}) {
      Append(Decode(time) + "\r\n");
      EXPECT_EQ(Pass(), Lines{Shown(time)});
    }
    EXPECT_TRUE(Eventually([&] {
      const LogBook::Progress progress = window.book.TakeProgress();
      return progress.waiting == 3 && progress.failing;
    }));
    EXPECT_TRUE(StillWatching());
    EXPECT_TRUE(Eventually(
        [&] { return Rescued(dir.Path()) == Logged("0702") + Logged("0703") + Logged("0704"); }));
    c.mendLog();
    EXPECT_EQ(test_files::ReadFile(log), Logged("0701"));

    Append(Decode("0705") + "\r\n");
    EXPECT_EQ(Pass(), Lines{Shown("0705")});
    Append(Decode("0706") + "\r\n");
    EXPECT_EQ(Pass(), Lines{Shown("0706")});
    EXPECT_TRUE(Eventually([&] {
      return test_files::ReadFile(log) == Logged("0701") + Logged("0702") + Logged("0703") +
                                              Logged("0704") + Logged("0705") + Logged("0706");
    })) << test_files::ReadFile(log);
    EXPECT_TRUE(Eventually([&] { return window.book.TakeProgress().waiting == 0; }));
  }
}

// A log whose file system stops answering (a frozen file system, a dead
// share): the window's calls return at once and the records are in the
// rescue file within a moment. (The close under a stall: the log book's.)
TEST_F(FaultMatrix, AStalledLogNeverHoldsTheWindowUpAndTheRecordsAreRescued) {
  std::promise<void> stallOver;
  const std::shared_future<void> released = stallOver.get_future().share();
  const std::string log = LogPath();
  LogBook book = Book([=](const std::string& path, std::string_view bytes) {
    if (path == log) released.wait();
    return platform::AppendWhole(path, bytes);
  });
  const auto start = std::chrono::steady_clock::now();
  for (int n = 1; n <= 20; ++n) {
    book.Append(log, Numbered(n));
    book.TakeProgress();
    book.StatusText(log);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(Eventually([&] { return Rescued(dir.Path()) == NumberedLines(1, 20); }));
  EXPECT_TRUE(Eventually([&] {
    return book.TakeProgress().failing &&
           book.StatusText(log).starts_with(
               "20 records waiting to be written (no answer from the file system); kept in ");
  })) << book.StatusText(log);
  stallOver.set_value();
}

// Every place stalled, the log and both rescue places: the records wait in
// memory, the book runs no more than its threads however long it lasts, and
// the close still ends at once with the records in its notice.
TEST_F(FaultMatrix, EveryPlaceStalledKeepsTheThreadsAtTheirBoundAndTheCloseTellsTheRecords) {
#ifndef __linux__
  GTEST_SKIP() << "the threads are counted in /proc/self/task, which only Linux has";
#endif
  const auto threads = [] {
    return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator());
  };
  std::promise<void> stallOver;
  const std::shared_future<void> released = stallOver.get_future().share();
  const AppendFunction stalled = [=](const std::string&, std::string_view) {
    released.wait();
    return platform::AppendOutcome{false, "stalled"};
  };
  fs::create_directory(dir.Path() / "tmp");
  const auto before = threads();
  auto most = before;
  {
    LogBook book(stalled, kMaxKeptRecords,
                 RescueFile(dir.Path().string(), (dir.Path() / "tmp").string(), stalled));
    for (int n = 1; n <= 1000; ++n) {
      book.Append(LogPath(), Numbered(n));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));  // saves are tried again
      most = std::max(most, threads());
    }
    const auto closing = std::chrono::steady_clock::now();
    EXPECT_EQ(book.Close(LogPath()),
              "VELK_LOG: 1000 records could not be written to " + LogPath() +
                  " (no answer from the file system in time) nor to a rescue file; here they "
                  "are:\n" +
                  NumberedLines(1, 1000));
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(1));
  }
  EXPECT_LE(most, before + kLogBookThreads);
  stallOver.set_value();
}

#ifdef VELK_HAVE_FIFOS_AND_DEVICES
// kill -9 while records are kept, as the log is being mended: each record is
// in the log or in the rescue file.
TEST_F(FaultMatrix, KilledWhileRecordsAreKeptLosesNone) {
  const std::string logDir = dir.File("later");
  const std::string log = logDir + "/LOG.TXT";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LogBook book = Book();
    for (int n = 1; n <= 200; ++n) book.Append(log, Numbered(n));
    Eventually([&] { return Rescued(dir.Path()) == NumberedLines(1, 200); });
    // Kept; now the log is mended and the records start to go in.
    ::mkdir(logDir.c_str(), 0700);
    book.Append(log, Numbered(201));
    (void)!::write(ready[1], "k", 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char byte = 0;
  pollfd wait{ready[0], POLLIN, 0};
  EXPECT_EQ(::poll(&wait, 1, 10000), 1);
  EXPECT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  const std::string logged = test_files::ReadFile(log);
  const std::string rescued = Rescued(dir.Path());
  for (int n = 1; n <= 200; ++n) {
    const std::string line = Numbered(n).Line();
    EXPECT_TRUE(logged.find(line) != std::string::npos || rescued.find(line) != std::string::npos)
        << "record " << n << " lost";
  }
}

// A FIFO in the log's place whose reader comes and goes: while none reads,
// the records are kept; once one reads they come in order, none lost; and a
// reader that goes away in the middle of a write ends nothing but the write.
TEST_F(FaultMatrix, AFifoLogWhoseReaderComesAndGoesGetsEveryRecordInOrder) {
  platform::IgnoreBrokenPipes();
  MakeFifo(LogPath());
  LogBook book = Book();
  std::string read;
  const auto drain = [&](int fd) {
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) read.append(buffer, got);
  };
  int n = 0;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 5; ++i) book.Append(LogPath(), Numbered(++n));
    EXPECT_TRUE(Eventually([&] { return Rescued(dir.Path()) == NumberedLines(n - 4, n); }));
    const int fd = ::open(LogPath().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 5; ++i) book.Append(LogPath(), Numbered(++n));
    EXPECT_TRUE(Eventually([&] {
      drain(fd);
      return read == NumberedLines(1, n);
    })) << read;
    EXPECT_TRUE(Eventually([&] { return Rescued(dir.Path()).empty(); }));
    ::close(fd);
  }

  // A reader that opens and closes again and again while records come.
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done) {
      const int fd = ::open(LogPath().c_str(), O_RDONLY | O_NONBLOCK);
      if (fd < 0) continue;
      char buffer[4096];
      while (::read(fd, buffer, sizeof buffer) > 0) {
      }
      ::close(fd);
    }
  });
  for (int i = 0; i < 300; ++i) {
    book.Append(LogPath(), Numbered(++n));
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  done = true;
  reader.join();
  // Still here: a broken pipe was a failed write like any other.
  book.Close(LogPath());
}
#endif

// A log file that exists is appended to: what it held stays, byte for byte,
// also when it does not end in a line end.
TEST_F(FaultMatrix, AnExistingLogIsAppendedToNeverTruncated) {
  for (const std::string held : {"0600, 1,-2, .1, 5, 1, \"OLD\"\r\n", "no line end \xff"}) {
    test_files::WriteFile(LogPath(), held);
    Write(Decode("0712") + "\r\n");
    Restart();
    Go();
    EXPECT_EQ(Pass(), Lines{Shown("0712")});
    Append(Decode("0713") + "\r\n");
    EXPECT_EQ(Pass(), Lines{Shown("0713")});
    EXPECT_EQ(Log(), held + Logged("0712") + Logged("0713"));
  }
}

#ifndef _WIN32
// Rescue files in a folder others can write: two runs whose files are made
// in the same second stay apart, and one's tidy-up leaves the other's
// records; a link put under the name a run would take is not followed (what
// it points at stays as it was) and the records are saved all the same.
TEST_F(FaultMatrix, RescueFilesStayApartAndALinkUnderTheirNameIsNotFollowed) {
  const std::string folder = dir.Path().string();
  const fs::path target = dir.Path() / "profile";
  test_files::WriteFile(target, "kept\n");
  // Links under the names this process would take in the coming seconds.
  const std::time_t started = std::time(nullptr);
  for (std::time_t second = started; second <= started + 2; ++second) {
    const std::tm local = platform::LocalTime(second);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    fs::create_symlink(target, dir.Path() / ("VELK_LOG-unsaved-" + std::string(stamp) + "-" +
                                             std::to_string(platform::ProcessId()) + ".TXT"));
  }
  RescueFile one(folder, "");
  RescueFile other(folder, "");
  ASSERT_TRUE(one.Save(Logged("0701"), 1));
  ASSERT_TRUE(other.Save(Logged("0702"), 1));
  ASSERT_EQ(one.Files().size(), 1u);
  ASSERT_EQ(other.Files().size(), 1u);
  EXPECT_NE(one.Files()[0].path, other.Files()[0].path);
  EXPECT_EQ(test_files::ReadFile(target), "kept\n");
  const std::string onePath = one.Files()[0].path;
  EXPECT_TRUE(one.Replace("", 0));  // the log took all of one's records
  EXPECT_FALSE(fs::exists(onePath));
  EXPECT_EQ(test_files::ReadFile(other.Files()[0].path), Logged("0702"));
  EXPECT_EQ(test_files::ReadFile(target), "kept\n");
}
#endif

}  // namespace
}  // namespace velk
