// SPDX-License-Identifier: GPL-3.0-or-later
// The session behind a fake window: what the operator sees on the controls
// and finds in the files when decodes arrive, the log is armed before or
// after Go, the log fails and recovers, and the window closes.

#include "session/session.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace velk {
namespace {

namespace fs = std::filesystem;
using test_files::AppendFile;
using test_files::ReadFile;
using test_files::TempDir;
using window::Id;

const std::string kWorkedExample = "0712    3  -23  0.3   -5    3 *    ABC DEF GH";
const std::string kWorkedDisplay =
    " 0712z   Sync= 3  dB=-23  DT= .3  DF=-5  W= 3     ABC DEF GH\r\n";
const std::string kWorkedLogLine = "0712, 3,-23, .3,-5, 3, \"ABC DEF GH\"\r\n";
const std::string kSecondExample = "0713    3  -23  0.3   -5    3 *    SECOND";
const std::string kSecondLogLine = "0713, 3,-23, .3,-5, 3, \"SECOND\"\r\n";

// A step run at the watch loop's yield; done when it returns true, tried
// again at the next yield otherwise.
using Step = std::function<bool()>;

// The controls as the operator would see them, and a script of steps that
// the fake runs from inside the watch loop; when the script is over (or
// stuck for five seconds) the window is closed.
class FakeView final : public SessionView {
 public:
  struct Control {
    bool visible = false;
    bool enabled = true;
    std::string text;
    std::optional<Colour> colour;
    bool warning = false;
    std::string toolTip;
  };

  explicit FakeView(const std::string& workingDirectory)
      : session(*this, workingDirectory, notices) {
    for (std::size_t place = 0; place < window::kControlCount; ++place) {
      controls[place].visible = window::kControls[place].visible;
      controls[place].text = window::kControls[place].text;
    }
    session.Form_Load();
  }

  // Types into a text box, raising its change event.
  void Type(Id id, const std::string& text) { SetText(id, controls[id].text + text); }

  // Arms a log as the operator does: "Set Log File", the name, "Set It".
  void ArmLog(const std::string& name) {
    session.LogLabel_Click();
    Type(window::LogFile, name);
    session.LogLabel_Click();
  }

  // Clicks Go and runs the script inside the watch loop; the number of steps
  // done.
  std::size_t WhileWatching(std::vector<Step> steps) {
    script = std::move(steps);
    session.Go_Click();
    return next;
  }

  void SetVisible(Id id, bool visible) override {
    MayFail("SetVisible");
    controls[id].visible = visible;
  }
  void Disable(Id id) override { controls[id].enabled = false; }
  std::string Text(Id id) const override { return controls[id].text; }
  void SetText(Id id, std::string_view text) override {
    if (controls[id].text == text) return;
    controls[id].text = text;
    if (id == window::LogFile) session.LogFile_Change();
  }
  void SetTextColour(Id id, Colour colour) override { controls[id].colour = colour; }
  void SetWarning(Id id, bool warning) override { controls[id].warning = warning; }
  void SetToolTip(Id id, std::string_view toolTip) override { controls[id].toolTip = toolTip; }
  void AppendToList(std::string_view lines) override {
    MayFail("AppendToList");
    controls[window::Info].text += lines;
  }
  std::string UpperCase(std::string_view text) const override {
    std::string upper(text);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
  }
  void StartTimer1(std::chrono::milliseconds interval) override { timer1 = interval; }
  void WakeOnChanges(const WakePaths& paths) override { wakePaths = paths; }
  void ProcessEvents(bool /*wait*/) override {
    MayFail("ProcessEvents");
    if (timer1) session.Timer1_Timer();
    const auto now = std::chrono::steady_clock::now();
    if (next == 0 && lastStep == std::chrono::steady_clock::time_point{}) lastStep = now;
    if (next < script.size() && script[next]()) {
      ++next;
      lastStep = now;
    }
    if (next == script.size() || now - lastStep > std::chrono::seconds(5)) session.Form_Unload();
  }
  void ShowMessage(std::string_view text) override { message = text; }
  void EndProgram() override {
    ended = true;
    timer1.reset();
  }

  const Control& operator[](Id id) const { return controls[id]; }

  std::ostringstream notices;
  Session session;
  std::array<Control, window::kControlCount> controls;
  std::optional<std::chrono::milliseconds> timer1;
  WakePaths wakePaths;
  std::string message;
  bool ended = false;
  std::string failOnce;  // the operation that fails, once

 private:
  void MayFail(std::string_view operation) {
    if (failOnce != operation) return;
    failOnce.clear();
    throw std::runtime_error(std::string(operation) + " failed");
  }

  std::vector<Step> script;
  std::size_t next = 0;
  std::chrono::steady_clock::time_point lastStep{};
};

Step Pause(std::chrono::milliseconds pause) {
  auto until = std::make_shared<std::optional<std::chrono::steady_clock::time_point>>();
  return [until, pause] {
    const auto now = std::chrono::steady_clock::now();
    if (!*until) *until = now + pause;
    return now >= **until;
  };
}

class SessionTest : public ::testing::Test {
 protected:
  std::string Work(std::string_view name) const { return work_.File(name); }
  std::string Shown(const FakeView& view) const { return view[window::Info].text; }

  TempDir work_;
};

TEST_F(SessionTest, ADecodeIsShownAndLoggedAndTheLogBoxShowsItsState) {
  AppendFile(Work("ALL.TXT"), "old line without marker\r\n");
  AppendFile(Work("MYLOG.TXT"), "kept\r\n");
  FakeView view(work_.Path().string());
  view.ArmLog("mylog");
  ASSERT_EQ(view.session.LogFlag(), 1);
  EXPECT_EQ(view[window::LogFile].toolTip, Work("MYLOG.TXT"));

  std::optional<Colour> colourAtGo;
  bool startState = false;
  const std::size_t done = view.WhileWatching({
      [&] {
        colourAtGo = view[window::LogFile].colour;
        startState = view.session.Watching() && !view[window::Go].visible &&
                     view[window::StartMsg].visible && view[window::TimeNow].visible &&
                     !view[window::Info].visible;
        // A second click on Go, which the hidden button cannot give, does
        // nothing.
        view.session.Go_Click();
        AppendFile(Work("ALL.TXT"), kWorkedExample + "\r\n");
        return true;
      },
      [&] { return ReadFile(Work("MYLOG.TXT")) == "kept\r\n" + kWorkedLogLine; },
      [&] {
        AppendFile(Work("ALL.TXT"), "0714 no marker here\r\n" + kSecondExample + "\n");
        return true;
      },
      [&] { return ReadFile(Work("MYLOG.TXT")) == "kept\r\n" + kWorkedLogLine + kSecondLogLine; },
  });
  EXPECT_EQ(done, 4u);
  EXPECT_TRUE(startState);
  EXPECT_EQ(colourAtGo, kBrightGreen);
  EXPECT_EQ(view[window::LogFile].colour, kRed);
  EXPECT_TRUE(view[window::Info].visible);
  EXPECT_FALSE(view[window::StartMsg].visible);
  const std::string shown = Shown(view);
  ASSERT_EQ(shown.size(), 2 * (10 + kWorkedDisplay.size()) - 4);
  EXPECT_EQ(shown.substr(10, kWorkedDisplay.size()), kWorkedDisplay);
  EXPECT_NE(shown.find("SECOND"), std::string::npos);
  // The clock ran while the loop did, and the loop ended at the close.
  EXPECT_EQ(view[window::TimeNow].text.size(), 8u);
  EXPECT_TRUE(view.ended);
  EXPECT_FALSE(view.session.Watching());
  EXPECT_EQ(view.notices.str(), "");
}

// A log that cannot be written: the record is on disk in the rescue file at
// once, the box shows its warning and its tooltip says how many records
// wait, why and where they are kept; once the log can be written they go
// there, the rescue file goes and the tooltip is the path again. What still waits at
// the close stays in the rescue file, named on standard error.
TEST_F(SessionTest, UnwrittenRecordsAreShownRetriedAndRescuedAtTheClose) {
  AppendFile(Work("ALL.TXT"), "");
  FakeView view(work_.Path().string());
  view.ArmLog("sub/log");
  const std::string logPath = Work("SUB/LOG.TXT");
  const std::string reason = test_files::MissingDirectoryReason();
  const auto rescues = [&] {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(work_.Path())) {
      if (entry.path().filename().string().starts_with("VELK_LOG-unsaved-")) {
        found.push_back(entry.path());
      }
    }
    return found;
  };
  // The record waits in the rescue file, and the box says so.
  const auto waiting = [&](const std::string& line) {
    const std::vector<fs::path> files = rescues();
    return files.size() == 1 && ReadFile(files[0]) == line && view[window::LogFile].warning &&
           view[window::LogFile].toolTip == "1 record waiting to be written (" + reason +
                                                "); kept in " + files[0].string() +
                                                "; trying again every second";
  };
  bool greenWhileWaiting = false;
  const std::size_t done = view.WhileWatching({
      [&] {
        AppendFile(Work("ALL.TXT"), kWorkedExample + "\r\n");
        return true;
      },
      [&] { return waiting(kWorkedLogLine); },
      [&] {
        greenWhileWaiting = view[window::LogFile].colour == kBrightGreen;
        return fs::create_directory(work_.Path() / "SUB");
      },
      // No new decode: the retry writes the waiting record.
      [&] {
        return ReadFile(logPath) == kWorkedLogLine && view[window::LogFile].toolTip == logPath &&
               rescues().empty() && !view[window::LogFile].warning;
      },
      [&] { return view[window::LogFile].colour == kRed; },
      [&] {
        fs::rename(work_.Path() / "SUB", work_.Path() / "SUB2");
        AppendFile(Work("ALL.TXT"), kSecondExample + "\r\n");
        return true;
      },
      [&] { return waiting(kSecondLogLine); },
  });
  EXPECT_EQ(done, 7u);
  EXPECT_TRUE(greenWhileWaiting);

  const std::vector<fs::path> left = rescues();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(ReadFile(left[0]), kSecondLogLine);
  EXPECT_EQ(ReadFile(work_.Path() / "SUB2" / "LOG.TXT"), kWorkedLogLine);
  EXPECT_EQ(view.notices.str(), "VELK_LOG: 1 record could not be written to " + logPath + " (" +
                                    reason + "); saved in " + left[0].string() + "\n");
}

// A rescue file an earlier run left is named on standard error and in the
// log box's tooltip once the search answers (the temporary folder may add others).
TEST_F(SessionTest, ARescueFileFromAnEarlierRunIsReportedOnceFound) {
  const std::string left = Work("VELK_LOG-unsaved-20240822-071259.TXT");
  AppendFile(left, kWorkedLogLine);
  FakeView view(work_.Path().string());
  const auto named = [&](const std::string& text) {
    return text.starts_with("VELK_LOG: ") && text.find(" " + left) != std::string::npos;
  };
  view.WhileWatching({[&] { return named(view.notices.str()); }});
  EXPECT_TRUE(named(view.notices.str()));
  EXPECT_TRUE(named(view[window::LogFile].toolTip));
}

// Two VELK_LOGs on one folder would log every decode twice: the second says
// so and ends before it watches anything.
TEST_F(SessionTest, ASecondSessionInTheSameFolderEndsAtOnce) {
  FakeView first(work_.Path().string());
  FakeView second(work_.Path().string());
  EXPECT_FALSE(first.ended);
  EXPECT_TRUE(second.ended);
  EXPECT_EQ(second.message,
            "VELK_LOG is already running in " + work_.Path().string() + "; this one ends.");
  EXPECT_EQ(second.notices.str(), "VELK_LOG: " + second.message + "\n");
  // Go on the ended one does nothing.
  second.session.Go_Click();
  EXPECT_TRUE(second[window::Go].visible);
  // The same folder by another path (a link to it; where links cannot be
  // made, a path through ".") is the same folder.
  std::string otherPath = (work_.Path() / ".").string();
  std::error_code noLinks;
  fs::create_directory_symlink(work_.Path(), work_.Path() / "link", noLinks);
  if (!noLinks) otherPath = (work_.Path() / "link").string();
  FakeView third(otherPath);
  EXPECT_TRUE(third.ended) << otherPath;
}

TEST_F(SessionTest, AMissingDecodeFileShowsTheFallbackAboveTheWaitingMessageOnce) {
  FakeView view(work_.Path().string());
  const std::string fallbackAbove =
      std::string(kFallbackDecodePath) + "\r\n" + std::string(kWaitingCaption);
  view.WhileWatching({
      [&] { return view[window::StartMsg].text == fallbackAbove; },
      Pause(std::chrono::milliseconds(50)),  // many failed passes
  });
  EXPECT_EQ(view[window::StartMsg].text, fallbackAbove);
  EXPECT_TRUE(view[window::StartMsg].visible);
  // The working folder wakes the loop when ALL.TXT appears, and so does the
  // fallback's folder.
  EXPECT_EQ(view.wakePaths.folders.front(), work_.Path().string());
  EXPECT_EQ(view.wakePaths.decodeFile, std::string(kFallbackDecodePath));
}

// A control operation that fails while the loop runs runs the recovery (the
// fallback path above the waiting message) and skips only itself.
TEST_F(SessionTest, AFailingControlOperationSkipsOnlyItself) {
  const std::string fallbackAbove =
      std::string(kFallbackDecodePath) + "\r\n" + std::string(kWaitingCaption);
  for (const std::string failing : {"SetVisible", "AppendToList", "ProcessEvents"}) {
    TempDir work;
    AppendFile(work.File("ALL.TXT"), "");
    FakeView view(work.Path().string());
    view.WhileWatching({
        [&] {
          view.failOnce = failing;
          AppendFile(work.File("ALL.TXT"), kWorkedExample + "\r\n");
          return true;
        },
        [&] {
          return view.failOnce.empty() && (failing == "AppendToList" || !Shown(view).empty());
        },
    });
    EXPECT_EQ(view[window::StartMsg].text, fallbackAbove) << failing;
    EXPECT_FALSE(view[window::StartMsg].visible) << failing;
    EXPECT_EQ(view[window::Info].visible, failing != "SetVisible") << failing;
    EXPECT_EQ(Shown(view).empty(), failing == "AppendToList") << failing;
  }
}

}  // namespace
}  // namespace velk
