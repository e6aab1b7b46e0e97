// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace velk {
namespace {

using test_files::AppendFile;
using test_files::Borrowed;
using test_files::kAnsweringDiskWait;
using test_files::LocalNoon;
using test_files::TempDir;
using test_files::WriteFile;
using Paths = std::vector<std::string>;

// The window as the watch loop's owner shows what a pass returns.
struct FakeWindow {
  void Show(const WatchPass& pass) {
    if (pass.fallback) Show(*pass.fallback);
    info += pass.displayLines;
    records.insert(records.end(), pass.records.begin(), pass.records.end());
  }
  void Show(const FallbackLine& fallback) { caption = CaptionWithFallback(caption, fallback); }

  bool armed = false;
  std::string caption{kWaitingCaption};
  std::string info;
  std::vector<LogRecord> records;
};

// The disk, except for the accesses named in `failing`, which report
// failure; remembers which paths were polled.
class FakeFiles final : public DecodeFileAccess {
 public:
  std::optional<platform::FileStatus> Status(const std::string& path) override {
    polled.push_back(path);
    if (failing.contains("Status")) return std::nullopt;
    return disk_.Status(path);
  }
  std::unique_ptr<platform::ReadOnlyFile> Open(const std::string& path) override {
    if (failing.contains("Open")) return nullptr;
    return disk_.Open(path);
  }
  std::optional<std::string> ModificationDate(const std::string& path) override {
    if (failing.contains("ModificationDate")) return std::nullopt;
    return disk_.ModificationDate(path);
  }
  std::optional<std::string> VirtualCopyOf(const std::string& path) override {
    const auto found = copies.find(path);
    if (found == copies.end()) return std::nullopt;
    return found->second;
  }

  std::set<std::string> failing;
  std::vector<std::string> polled;
  std::map<std::string, std::string> copies;  // VirtualStore copies, by path

 private:
  DiskDecodeFiles disk_;
};

const std::string kDecode = "0712    3  -23  0.3   -5    3 *    ABC DEF GH";
const std::string kDecodeShown =
    "2009/08/22 0712z   Sync= 3  dB=-23  DT= .3  DF=-5  W= 3     ABC DEF GH\r\n";
const LogRecord kDecodeRecord{"0712, 3,-23, .3,-5", ", 3, \"ABC DEF GH\""};
const std::string kOtherDecode = "0713   -1  -10  1.2  -40    2 ~    XYZ *";
const std::string kOtherShown =
    "2009/08/22 0713z   Sync=-1  dB=-10  DT= 1.2  DF=-40  W= 2     XYZ *\r\n";
const std::string kFallbackCaption =
    std::string(kFallbackDecodePath) + "\r\n" + std::string(kWaitingCaption);

class WatcherTest : public ::testing::Test {
 protected:
  std::string DecodePath() const { return dir.File("ALL.TXT"); }

  WatchStart StartWatching() { return watcher.Start(dir.Path().string(), window.armed); }

  // Writes or appends to the decode file and dates it 2009/08/22.
  void Write(std::string_view bytes) {
    Dated([&] { WriteFile(DecodePath(), bytes); });
  }
  void Append(std::string_view bytes) {
    Dated([&] { AppendFile(DecodePath(), bytes); });
  }

  // One pass, shown on the window; what it returned.
  WatchPass Pass() {
    WatchPass pass = watcher.RunPass(window.armed);
    window.Show(pass);
    return pass;
  }

  TempDir dir;
  FakeWindow window;
  FakeFiles files;
  // A clock that stands still: every pass takes all the lines it read.
  DecodeWatcher watcher{Borrowed(files), [] { return std::chrono::steady_clock::time_point{}; },
                        kAnsweringDiskWait};

 private:
  template <typename Change>
  void Dated(Change change) {
    change();
    std::filesystem::last_write_time(DecodePath(), LocalNoon(2009, 8, 22));
  }
};

// A pass that took one or more lines with the marker.
WatchPass Selected(std::string displayLines, std::vector<LogRecord> records = {}) {
  WatchPass pass;
  pass.decodeShown = true;
  pass.displayLines = std::move(displayLines);
  pass.records = std::move(records);
  return pass;
}
const WatchPass kNothing;

TEST_F(WatcherTest, StartColoursTheLogGreenOnlyWhenArmed) {
  for (const bool armed : {true, false}) {
    DecodeWatcher started(Borrowed(files), {}, kAnsweringDiskWait);
    const WatchStart start = started.Start(dir.Path().string(), armed);
    EXPECT_EQ(start.logFileColour, armed ? std::optional<Colour>(kBrightGreen) : std::nullopt);
    EXPECT_EQ(started.DecodePath(), DecodePath());
    EXPECT_EQ(started.LastSize(), 0U);
  }
}

TEST_F(WatcherTest, WithoutDecodeFileTheFallbackIsShownAndPolledNext) {
  StartWatching();
  const WatchPass pass = Pass();
  EXPECT_TRUE(pass.fallback);
  EXPECT_FALSE(pass.decodeShown);
  EXPECT_EQ(window.caption, kFallbackCaption);
  EXPECT_EQ(watcher.DecodePath(), kFallbackDecodePath);
  EXPECT_EQ(watcher.LastSize(), 0U);

  // ALL.TXT is looked for first in every pass.
  Pass();
  EXPECT_EQ(files.polled, (Paths{DecodePath(), DecodePath(), std::string(kFallbackDecodePath)}));
}

TEST_F(WatcherTest, AFailingPathNeverGrowsTheCaption) {
  StartWatching();
  for (int i = 0; i < 10000; ++i) Pass();
  EXPECT_EQ(window.caption, kFallbackCaption);
  EXPECT_EQ(watcher.DecodePath(), kFallbackDecodePath);
  EXPECT_TRUE(window.info.empty());
}

TEST_F(WatcherTest, TheCaptionIsBoundedAlsoWhenTheWindowChangedIt) {
  StartWatching();
  window.caption = "Other text";
  Pass();
  Pass();
  EXPECT_EQ(window.caption, std::string(kFallbackDecodePath) + "\r\nOther text");
}

// A path with a VirtualStore copy: whichever of the two is there is
// followed, of both the one written last, and the caption names it.
TEST_F(WatcherTest, TheVirtualStoreCopyIsFollowedWhenItIsThereOrWrittenLast) {
  const std::string store = dir.File("STORE.TXT");
  files.copies[std::string(kFallbackDecodePath)] = store;
  files.copies[DecodePath()] = dir.File("WORKING.TXT");
  WriteFile(store, kDecode + "\r\n");
  std::filesystem::last_write_time(store, LocalNoon(2009, 8, 22));
  StartWatching();
  Pass();
  Pass();
  EXPECT_EQ(watcher.DecodePath(), store);
  EXPECT_EQ(window.caption, store + "\r\n" + std::string(kWaitingCaption));
  EXPECT_EQ(window.info, kDecodeShown);

  Write(kDecode + "\r\n");  // ALL.TXT back, and its copy written later
  WriteFile(dir.File("WORKING.TXT"), kOtherDecode + "\r\n");
  std::filesystem::last_write_time(dir.File("WORKING.TXT"), LocalNoon(2009, 8, 23));
  Pass();
  EXPECT_EQ(watcher.DecodePath(), dir.File("WORKING.TXT"));
  std::filesystem::last_write_time(DecodePath(), LocalNoon(2009, 8, 24));
  Pass();
  EXPECT_EQ(watcher.DecodePath(), DecodePath());
}

TEST_F(WatcherTest, AnEmptyFileAtGoWaitsUntilItGrows) {
  Write("");
  StartWatching();
  EXPECT_EQ(Pass(), kNothing);
  EXPECT_EQ(Pass(), kNothing);
  EXPECT_EQ(watcher.LastSize(), 0U);
  EXPECT_EQ(watcher.DecodePath(), DecodePath());

  Append(kDecode + "\r\n");
  EXPECT_EQ(Pass(), Selected(kDecodeShown));
  EXPECT_EQ(window.info, kDecodeShown);
}

TEST_F(WatcherTest, AnExistingFileAtGoYieldsItsLastLineAtOnce) {
  Write("0700 old * line\r\n" + kDecode + "\r\n");
  window.armed = true;
  StartWatching();
  EXPECT_EQ(Pass(), Selected(kDecodeShown, {kDecodeRecord}));
  EXPECT_EQ(window.caption, kWaitingCaption);
  EXPECT_EQ(Pass(), kNothing);
}

TEST_F(WatcherTest, AGrowthWithoutMarkerOnlyAdvancesTheLastSize) {
  Write("");
  StartWatching();
  Append("0712 no marker here\r\n");
  std::filesystem::last_write_time(DecodePath(), LocalNoon(2011, 3, 4));
  EXPECT_EQ(Pass(), kNothing);
  EXPECT_EQ(watcher.LastSize(), std::filesystem::file_size(DecodePath()));
  EXPECT_EQ(watcher.CurrentLastLine(), (LineSummary{"0712 no marker here", false}));
  EXPECT_EQ(watcher.FileDate(), "2011/03/04");
  EXPECT_TRUE(window.info.empty());
}

TEST_F(WatcherTest, TwoLinesBetweenPollsAreBothShownInOrder) {
  Write("");
  window.armed = true;
  StartWatching();
  EXPECT_EQ(Pass(), kNothing);
  Append(kDecode + "\r\n" + kOtherDecode + "\r\n");
  EXPECT_TRUE(Pass().decodeShown);
  EXPECT_EQ(window.info, kDecodeShown + kOtherShown);
  ASSERT_EQ(window.records.size(), 2U);
  EXPECT_EQ(window.records[0], kDecodeRecord);
  EXPECT_EQ(window.records[1].pieceOne, "0713,-1,-10, 1.2,-40");
}

// The second pass below comes after the wait on a last line without a line
// end: nothing here needs it.
TEST_F(WatcherTest, EveryLineEndEndsALine) {
  for (const std::string end : {"\r\n", "\r", "\n"}) {
    TempDir other;
    FakeWindow fresh;
    std::chrono::steady_clock::time_point now{};
    DecodeWatcher watching(
        Borrowed(files), [&now] { return now; }, kAnsweringDiskWait);
    const auto passAndSettle = [&] {
      fresh.Show(watching.RunPass(false));
      now += kUnendedLineWait;
      fresh.Show(watching.RunPass(false));
    };
    const std::string path = other.File("ALL.TXT");
    WriteFile(path, kDecode + end + kOtherDecode + end);
    std::filesystem::last_write_time(path, LocalNoon(2009, 8, 22));
    watching.Start(other.Path().string(), false);
    passAndSettle();
    EXPECT_EQ(fresh.info, kOtherShown) << ::testing::PrintToString(end);

    // A marked line followed by an unmarked one: the marked one is shown.
    AppendFile(path, kDecode + end + "0714 plain" + end);
    std::filesystem::last_write_time(path, LocalNoon(2009, 8, 22));
    passAndSettle();
    EXPECT_EQ(fresh.info, kOtherShown + kDecodeShown) << ::testing::PrintToString(end);
    EXPECT_EQ(watching.CurrentLastLine(), (LineSummary{"0714 plain", false}));
  }
}

// A file cleared and written again is a new file: read from its start.
TEST_F(WatcherTest, AShrunkFileIsReadFromItsStart) {
  Write(kDecode + "\r\n" + kDecode + "\r\n");
  StartWatching();
  Pass();
  const std::uint64_t largest = watcher.LastSize();

  Write(kOtherDecode + "\r\n");
  EXPECT_EQ(Pass(), Selected(kOtherShown));
  EXPECT_EQ(window.info, kDecodeShown + kOtherShown);
  Append(kDecode + "\r\n");
  ASSERT_LT(std::filesystem::file_size(DecodePath()), largest);
  EXPECT_EQ(Pass(), Selected(kDecodeShown));
  EXPECT_EQ(window.info, kDecodeShown + kOtherShown + kDecodeShown);
  EXPECT_EQ(watcher.LastSize(), std::filesystem::file_size(DecodePath()));
}

TEST_F(WatcherTest, ShortAndLongMarkedLinesAreShown) {
  struct Case {
    std::string line;
    std::string shown;
  };
  const Case cases[] = {
      {"*", "2009/08/22 *z   Sync= 0  dB= 0  DT= 0  DF= 0  W= 0     \r\n"},
      {"0712 *", "2009/08/22 0712z   Sync= 0  dB= 0  DT= 0  DF= 0  W= 0     \r\n"},
      // The marker stands past every field's columns.
      {"0712    3  -23  0.3   -5    3      ABCDEFGHIJKLMNOPQRSTUVWXYZ" + std::string(500, ' ') +
           "*",
       "2009/08/22 0712z   Sync= 3  dB=-23  DT= .3  DF=-5  W= 3     ABCDEFGHIJKLMNOPQR\r\n"},
  };
  Write("");
  window.armed = true;
  StartWatching();
  for (const Case& c : cases) {
    Append(c.line + "\r\n");
    const WatchPass pass = Pass();
    EXPECT_EQ(pass.displayLines, c.shown) << c.line;
    EXPECT_EQ(pass.records.size(), 1U) << c.line;
  }
  EXPECT_EQ(window.records.back().pieceTwo, ", 3, \"ABCDEFGHIJKLMNOPQRSTUV\"");
}

TEST_F(WatcherTest, ALogArmedAfterGoIsWrittenButNotColoured) {
  Write("");
  EXPECT_FALSE(StartWatching().logFileColour);
  Append(kDecode + "\r\n");
  EXPECT_EQ(Pass(), Selected(kDecodeShown));

  window.armed = true;
  Append(kDecode + "\r\n");
  EXPECT_EQ(Pass(), Selected(kDecodeShown, {kDecodeRecord}));
}

// A control operation that failed while its pass was shown runs the
// recovery: the fallback line once, whatever else failed, and the lines
// shown stay; ALL.TXT, still there, is followed again at the next pass.
TEST_F(WatcherTest, AFailingWindowOperationSkipsOnlyItself) {
  Write(kDecode + "\r\n");
  window.armed = true;
  StartWatching();
  EXPECT_EQ(Pass(), Selected(kDecodeShown, {kDecodeRecord}));
  window.Show(watcher.Recover());
  window.Show(watcher.Recover());
  EXPECT_EQ(window.caption, kFallbackCaption);
  EXPECT_EQ(watcher.DecodePath(), kFallbackDecodePath);

  Append(kOtherDecode + "\r\n");
  EXPECT_EQ(Pass().displayLines, kOtherShown);
  EXPECT_EQ(watcher.DecodePath(), DecodePath());
  EXPECT_EQ(window.caption, kFallbackCaption);
}

TEST_F(WatcherTest, AFailedPollEndsThePassAtTheYield) {
  Write(kDecode + "\r\n");
  StartWatching();
  files.failing = {"Status"};
  const WatchPass pass = Pass();
  EXPECT_TRUE(pass.fallback);
  EXPECT_FALSE(pass.decodeShown);
  EXPECT_EQ(watcher.LastSize(), 0U);
  EXPECT_TRUE(window.info.empty());
}

// After a failed poll the decode file in the working directory is followed
// again as soon as it is found: as a file that appeared where none was
// found, from its start (a file deleted and made anew may even get the old
// one's identity back, so nothing else would be safe).
TEST_F(WatcherTest, AFailedPollFollowsTheDecodeFileAgainFromItsStart) {
  Write(kDecode + "\r\n");
  StartWatching();
  Pass();
  window.info.clear();
  files.failing = {"Status"};
  Append(kOtherDecode + "\r\n");
  EXPECT_TRUE(Pass().fallback);
  EXPECT_EQ(watcher.DecodePath(), kFallbackDecodePath);

  files.failing.clear();
  Pass();
  EXPECT_EQ(window.info, kDecodeShown + kOtherShown);
  EXPECT_EQ(watcher.DecodePath(), DecodePath());
  EXPECT_EQ(watcher.LastSize(), std::filesystem::file_size(DecodePath()));
  EXPECT_EQ(window.caption, kFallbackCaption);
}

// A read that fails takes no line (nothing is shown again) and is tried
// again at the next pass, so nothing is lost either.
TEST_F(WatcherTest, AFailedReadTakesNothingAndIsTriedAgain) {
  Write(kDecode + "\r\n");
  StartWatching();
  Pass();
  window.info.clear();

  files.failing = {"Open"};
  Append(kOtherDecode + "\r\n");
  const WatchPass failed = Pass();
  EXPECT_TRUE(failed.fallback);
  EXPECT_FALSE(failed.decodeShown);
  EXPECT_EQ(watcher.CurrentLastLine().head, kDecode);
  EXPECT_EQ(window.info, "");
  EXPECT_EQ(window.caption, kFallbackCaption);

  files.failing.clear();
  EXPECT_EQ(Pass(), Selected(kOtherShown));
  EXPECT_EQ(Pass(), kNothing);
}

TEST_F(WatcherTest, AFailedDateKeepsTheDateHeldBefore) {
  Write(kDecode + "\r\n");
  StartWatching();
  files.failing = {"ModificationDate"};
  const WatchPass pass = Pass();
  EXPECT_TRUE(pass.fallback);
  EXPECT_EQ(pass.displayLines, kDecodeShown.substr(10));
  EXPECT_EQ(watcher.FileDate(), "");
  EXPECT_EQ(window.caption, kFallbackCaption);
}

// A window that could not show the fallback line is given it again at the
// next failure, and shows it once.
TEST_F(WatcherTest, AWindowFailingInsideTheRecoveryStillMovesToTheFallback) {
  StartWatching();
  EXPECT_TRUE(watcher.RunPass(false).fallback);
  EXPECT_EQ(watcher.DecodePath(), kFallbackDecodePath);
  EXPECT_EQ(window.caption, kWaitingCaption);
  Pass();
  Pass();
  EXPECT_EQ(window.caption, kFallbackCaption);
}

TEST_F(WatcherTest, ADecodePathThatIsNoRegularFileIsAFailure) {
  std::vector<std::string> setups = {"directory"};
#ifndef _WIN32
  setups.push_back("fifo");
  setups.push_back("device");
#endif
  for (const std::string& setup : setups) {
    TempDir other;
    FakeWindow fresh;
    DecodeWatcher watching(Borrowed(files), {}, kAnsweringDiskWait);
    const std::string path = other.File("ALL.TXT");
    if (setup == "directory") std::filesystem::create_directory(path);
#ifndef _WIN32
    if (setup == "fifo") {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    if (setup == "device") std::filesystem::create_symlink("/dev/zero", path);
#endif
    watching.Start(other.Path().string(), false);
    fresh.Show(watching.RunPass(false));
    EXPECT_EQ(fresh.caption, kFallbackCaption) << setup;
    EXPECT_EQ(watching.LastSize(), 0U) << setup;
  }
}

}  // namespace
}  // namespace velk
