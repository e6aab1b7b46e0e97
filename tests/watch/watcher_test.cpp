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
using test_files::LocalNoon;
using test_files::TempDir;
using test_files::WriteFile;
using Calls = std::vector<std::string>;

// A window that records what the watcher does to it; the operations named
// in `throwing` fail.
class FakeWindow final : public WatchWindow {
 public:
  bool LogArmed() const override {
    Call("LogArmed");
    return armed;
  }
  void SetLogFileColour(Colour colour) override {
    Call("SetLogFileColour");
    colours.push_back(colour);
  }
  void ShowStartMsg() override { Call("ShowStartMsg"); }
  void HideStartMsg() override { Call("HideStartMsg"); }
  std::string StartMsgCaption() const override {
    Call("StartMsgCaption");
    return caption;
  }
  void SetStartMsgCaption(const std::string& text) override {
    Call("SetStartMsgCaption");
    caption = text;
  }
  void ShowTimeNow() override { Call("ShowTimeNow"); }
  void HideGo() override { Call("HideGo"); }
  void ShowInfo() override { Call("ShowInfo"); }
  void AppendInfo(std::string_view displayLine) override {
    Call("AppendInfo");
    info += displayLine;
  }
  void AppendLogRecord(const LogRecord& record) override {
    Call("AppendLogRecord");
    records.push_back(record);
  }
  bool Yield() override {
    Call("Yield");
    return --yieldsBeforeClose != 0;
  }

  bool armed = false;
  std::string caption{kWaitingCaption};
  std::string info;
  std::vector<LogRecord> records;
  std::vector<Colour> colours;
  std::set<std::string> throwing;
  int yieldsBeforeClose = -1;  // the window closes at this yield; -1: never
  mutable Calls calls;

 private:
  void Call(const std::string& name) const {
    calls.push_back(name);
    if (throwing.contains(name)) throw std::runtime_error(name + " failed");
  }
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

  void StartWatching() {
    watcher.Start(dir.Path().string());
    window.calls.clear();
  }

  // Writes or appends to the decode file and dates it 2009/08/22.
  void Write(std::string_view bytes) {
    Dated([&] { WriteFile(DecodePath(), bytes); });
  }
  void Append(std::string_view bytes) {
    Dated([&] { AppendFile(DecodePath(), bytes); });
  }

  // One pass; the window's calls during it.
  Calls Pass() {
    window.calls.clear();
    EXPECT_TRUE(watcher.RunPass());
    return window.calls;
  }

  TempDir dir;
  FakeWindow window;
  FakeFiles files;
  // A clock that stands still: every pass takes all the lines it read.
  DecodeWatcher watcher{window, files, [] { return std::chrono::steady_clock::time_point{}; }};

 private:
  template <typename Change>
  void Dated(Change change) {
    change();
    std::filesystem::last_write_time(DecodePath(), LocalNoon(2009, 8, 22));
  }
};

const Calls kShownAndLogged = {"ShowInfo", "HideStartMsg",    "AppendInfo",
                               "LogArmed", "AppendLogRecord", "Yield"};
const Calls kShown = {"ShowInfo", "HideStartMsg", "AppendInfo", "LogArmed", "Yield"};
const Calls kNothing = {"Yield"};
const Calls kFirstRecovery = {"StartMsgCaption", "SetStartMsgCaption"};

TEST_F(WatcherTest, StartColoursTheLogGreenOnlyWhenArmed) {
  struct Case {
    bool armed;
    Calls calls;
    std::vector<Colour> colours;
  };
  const Case cases[] = {
      {true,
       {"LogArmed", "SetLogFileColour", "ShowStartMsg", "ShowTimeNow", "HideGo"},
       {kBrightGreen}},
      {false, {"LogArmed", "ShowStartMsg", "ShowTimeNow", "HideGo"}, {}},
  };
  for (const Case& c : cases) {
    FakeWindow fresh;
    fresh.armed = c.armed;
    DecodeWatcher started(fresh, files);
    started.Start(dir.Path().string());
    EXPECT_EQ(fresh.calls, c.calls);
    EXPECT_EQ(fresh.colours, c.colours);
    EXPECT_EQ(started.DecodePath(), DecodePath());
    EXPECT_EQ(started.LastSize(), 0U);
    EXPECT_EQ(fresh.caption, kWaitingCaption);
  }
}

TEST_F(WatcherTest, WithoutDecodeFileTheFallbackIsShownAndPolledNext) {
  StartWatching();
  Calls expected = kFirstRecovery;
  expected.push_back("Yield");
  EXPECT_EQ(Pass(), expected);
  EXPECT_EQ(window.caption, kFallbackCaption);
  EXPECT_EQ(watcher.DecodePath(), kFallbackDecodePath);
  EXPECT_EQ(watcher.LastSize(), 0U);

  // ALL.TXT is looked for first in every pass.
  Pass();
  EXPECT_EQ(files.polled, (Calls{DecodePath(), DecodePath(), std::string(kFallbackDecodePath)}));
}

TEST_F(WatcherTest, AFailingPathNeverGrowsTheCaption) {
  StartWatching();
  for (int i = 0; i < 10000; ++i) watcher.RunPass();
  EXPECT_EQ(window.caption, kFallbackCaption);
  EXPECT_EQ(watcher.DecodePath(), kFallbackDecodePath);
  EXPECT_TRUE(window.info.empty());
}

TEST_F(WatcherTest, TheCaptionIsBoundedAlsoWhenTheWindowChangedIt) {
  StartWatching();
  window.caption = "Other text";
  watcher.RunPass();
  watcher.RunPass();
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
  watcher.RunPass();
  watcher.RunPass();
  EXPECT_EQ(watcher.DecodePath(), store);
  EXPECT_EQ(window.caption, store + "\r\n" + std::string(kWaitingCaption));
  EXPECT_EQ(window.info, kDecodeShown);

  Write(kDecode + "\r\n");  // ALL.TXT back, and its copy written later
  WriteFile(dir.File("WORKING.TXT"), kOtherDecode + "\r\n");
  std::filesystem::last_write_time(dir.File("WORKING.TXT"), LocalNoon(2009, 8, 23));
  watcher.RunPass();
  EXPECT_EQ(watcher.DecodePath(), dir.File("WORKING.TXT"));
  std::filesystem::last_write_time(DecodePath(), LocalNoon(2009, 8, 24));
  watcher.RunPass();
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
  EXPECT_EQ(Pass(), kShown);
  EXPECT_EQ(window.info, kDecodeShown);
}

TEST_F(WatcherTest, AnExistingFileAtGoYieldsItsLastLineAtOnce) {
  Write("0700 old * line\r\n" + kDecode + "\r\n");
  window.armed = true;
  StartWatching();
  EXPECT_EQ(Pass(), kShownAndLogged);
  EXPECT_EQ(window.info, kDecodeShown);
  EXPECT_EQ(window.records, std::vector<LogRecord>{kDecodeRecord});
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

// Each line goes through the steps of a selected line in turn.
TEST_F(WatcherTest, TwoLinesBetweenPollsAreBothShownInOrder) {
  Write("");
  window.armed = true;
  StartWatching();
  EXPECT_EQ(Pass(), kNothing);
  Append(kDecode + "\r\n" + kOtherDecode + "\r\n");
  Calls expected(kShownAndLogged.begin(), kShownAndLogged.end() - 1);
  expected.insert(expected.end(), kShownAndLogged.begin(), kShownAndLogged.end());
  EXPECT_EQ(Pass(), expected);
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
    DecodeWatcher watching(fresh, files, [&now] { return now; });
    const auto passAndSettle = [&] {
      watching.RunPass();
      now += kUnendedLineWait;
      watching.RunPass();
    };
    const std::string path = other.File("ALL.TXT");
    WriteFile(path, kDecode + end + kOtherDecode + end);
    std::filesystem::last_write_time(path, LocalNoon(2009, 8, 22));
    watching.Start(other.Path().string());
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
  EXPECT_EQ(Pass(), kShown);
  EXPECT_EQ(window.info, kDecodeShown + kOtherShown);
  Append(kDecode + "\r\n");
  ASSERT_LT(std::filesystem::file_size(DecodePath()), largest);
  EXPECT_EQ(Pass(), kShown);
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
    window.info.clear();
    Append(c.line + "\r\n");
    EXPECT_EQ(Pass(), kShownAndLogged) << c.line;
    EXPECT_EQ(window.info, c.shown) << c.line;
  }
  EXPECT_EQ(window.records.back().pieceTwo, ", 3, \"ABCDEFGHIJKLMNOPQRSTUV\"");
}

TEST_F(WatcherTest, ALogArmedAfterGoIsWrittenButNotColoured) {
  Write("");
  StartWatching();
  Append(kDecode + "\r\n");
  Pass();
  EXPECT_TRUE(window.records.empty());

  window.armed = true;
  Append(kDecode + "\r\n");
  EXPECT_EQ(Pass(), kShownAndLogged);
  EXPECT_EQ(window.records, std::vector<LogRecord>{kDecodeRecord});
  EXPECT_TRUE(window.colours.empty());
}

// A failing control operation runs the recovery once and the pass goes on
// with the next operation.
TEST_F(WatcherTest, AFailingWindowOperationSkipsOnlyItself) {
  for (const std::string failing :
       {"ShowInfo", "HideStartMsg", "AppendInfo", "LogArmed", "AppendLogRecord", "Yield"}) {
    TempDir other;
    FakeWindow fresh;
    fresh.armed = true;
    DecodeWatcher watching(fresh, files);
    const std::string path = other.File("ALL.TXT");
    WriteFile(path, kDecode + "\r\n");
    std::filesystem::last_write_time(path, LocalNoon(2009, 8, 22));
    watching.Start(other.Path().string());
    fresh.calls.clear();
    fresh.throwing = {failing};

    EXPECT_TRUE(watching.RunPass()) << failing;
    Calls expected = kShownAndLogged;
    const auto at = std::find(expected.begin(), expected.end(), failing) + 1;
    expected.insert(at, kFirstRecovery.begin(), kFirstRecovery.end());
    EXPECT_EQ(fresh.calls, expected) << failing;
    EXPECT_EQ(fresh.caption, kFallbackCaption) << failing;
    EXPECT_EQ(watching.DecodePath(), kFallbackDecodePath) << failing;
    EXPECT_EQ(fresh.info, failing == "AppendInfo" ? "" : kDecodeShown) << failing;
    EXPECT_EQ(fresh.records.size(), failing == "AppendLogRecord" ? 0U : 1U) << failing;
  }
}

TEST_F(WatcherTest, AFailedPollEndsThePassAtTheYield) {
  Write(kDecode + "\r\n");
  StartWatching();
  files.failing = {"Status"};
  Calls expected = kFirstRecovery;
  expected.push_back("Yield");
  EXPECT_EQ(Pass(), expected);
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
  EXPECT_EQ(Pass(), (Calls{"StartMsgCaption", "SetStartMsgCaption", "Yield"}));
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
  Calls expected = kFirstRecovery;
  expected.push_back("Yield");
  EXPECT_EQ(Pass(), expected);
  EXPECT_EQ(watcher.CurrentLastLine().head, kDecode);
  EXPECT_EQ(window.info, "");
  EXPECT_EQ(window.caption, kFallbackCaption);

  files.failing.clear();
  EXPECT_EQ(Pass(), kShown);
  EXPECT_EQ(window.info, kOtherShown);
  EXPECT_EQ(Pass(), kNothing);
}

TEST_F(WatcherTest, AFailedDateKeepsTheDateHeldBefore) {
  Write(kDecode + "\r\n");
  StartWatching();
  files.failing = {"ModificationDate"};
  Calls expected = kFirstRecovery;
  expected.insert(expected.end(), kShown.begin(), kShown.end());
  EXPECT_EQ(Pass(), expected);
  EXPECT_EQ(watcher.FileDate(), "");
  EXPECT_EQ(window.info, kDecodeShown.substr(10));
  EXPECT_EQ(window.caption, kFallbackCaption);
}

TEST_F(WatcherTest, AWindowFailingInsideTheRecoveryStillMovesToTheFallback) {
  StartWatching();
  window.throwing = {"StartMsgCaption", "SetStartMsgCaption"};
  EXPECT_TRUE(watcher.RunPass());
  EXPECT_EQ(watcher.DecodePath(), kFallbackDecodePath);
  EXPECT_EQ(window.caption, kWaitingCaption);
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
    DecodeWatcher watching(fresh, files);
    const std::string path = other.File("ALL.TXT");
    if (setup == "directory") std::filesystem::create_directory(path);
#ifndef _WIN32
    if (setup == "fifo") {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    }
    if (setup == "device") std::filesystem::create_symlink("/dev/zero", path);
#endif
    watching.Start(other.Path().string());
    EXPECT_TRUE(watching.RunPass()) << setup;
    EXPECT_EQ(fresh.caption, kFallbackCaption) << setup;
    EXPECT_EQ(watching.LastSize(), 0U) << setup;
  }
}

TEST_F(WatcherTest, RunEndsWhenTheWindowCloses) {
  Write(kDecode + "\r\n");
  window.yieldsBeforeClose = 3;
  watcher.Run(dir.Path().string());
  EXPECT_EQ(std::count(window.calls.begin(), window.calls.end(), "Yield"), 3);
  EXPECT_EQ(window.calls.front(), "LogArmed");
  EXPECT_EQ(window.info, kDecodeShown);
}

}  // namespace
}  // namespace velk
