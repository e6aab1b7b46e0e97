// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile/log_arming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/path.h"

namespace velk {
namespace {

// A window stand-in that shows each step as the session does, and behaves
// as the real one: setting a different text raises the change event, and
// every caption shown is recorded. Paths are one file only when equal.
class FakeLogControls {
 public:
  void Show(const ArmingStep& step) {
    if (step.showLogFile) shown = true;
    captions.emplace_back(step.caption);
    why = step.refusal;
    if (step.armedPath.empty()) return;
    SetText(step.armedPath);
    captions.emplace_back(kLogFileCaption);
    enabled = false;
  }
  void Click(LogSettings& settings, const std::string& directory,
             std::vector<std::string> decodeFiles = {}) {
    const auto upper = [](std::string_view value) {
      std::string upperCase(value);
      std::transform(upperCase.begin(), upperCase.end(), upperCase.begin(), [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
      });
      return upperCase;
    };
    Show(LogLabelClick(settings, {text, directory, std::move(decodeFiles), upper, sameFile}));
  }

  // What the operator does: typing a text, keystroke by keystroke.
  void Type(const std::string& typed) {
    for (char c : typed) SetText(text + c);
  }

  std::string Caption() const { return captions.empty() ? "" : captions.back(); }

  bool shown = false;
  bool enabled = true;
  std::string text;
  std::string why;
  std::vector<std::string> captions;
  SameFileCheck sameFile = [](const std::string&, const std::string&) { return false; };

 private:
  void SetText(const std::string& newText) {
    if (newText == text) return;
    text = newText;
    Show(LogFileChange());
  }
};

struct ArmingCase {
  const char* label;
  std::string directory;
  std::string typed;
  std::string expectedPath;
};

class ArmingTest : public testing::TestWithParam<ArmingCase> {};

TEST_P(ArmingTest, ClickAfterTypingArmsTheFullPath) {
  const ArmingCase& c = GetParam();
  FakeLogControls controls;
  LogSettings settings;

  controls.Click(settings, c.directory);
  controls.Type(c.typed);
  EXPECT_EQ(controls.Caption(), kSetItCaption);
  controls.Click(settings, c.directory);

  EXPECT_EQ(settings.LogFlag, 1);
  EXPECT_EQ(settings.Fi2, c.expectedPath);
  EXPECT_EQ(controls.text, c.expectedPath);
  EXPECT_EQ(controls.Caption(), kLogFileCaption);
  EXPECT_FALSE(controls.enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ArmingTest,
    testing::Values(
        ArmingCase{"PlainName", "/work/dir", "mylog", JoinPath("/work/dir", "MYLOG.TXT")},
        ArmingCase{"NameWithDot", "/work/dir", "mylog.csv", JoinPath("/work/dir", "MYLOG.CSV")},
        ArmingCase{"DotInDirectory", "/tmp/Radio.1", "mylog", JoinPath("/tmp/Radio.1", "MYLOG")},
        ArmingCase{"SpacesOnly", "/work/dir", "   ", JoinPath("/work/dir", "   .TXT")},
        ArmingCase{"TypedPathStaysBelowDirectory", "/work/dir", "sub/log",
                   JoinPath("/work/dir", "SUB/LOG.TXT")},
        ArmingCase{"DirectoryKeepsItsCase", "/Work/Mixed", "Log1",
                   JoinPath("/Work/Mixed", "LOG1.TXT")},
        ArmingCase{"TrailingDotIsADot", "/work/dir", "log.", JoinPath("/work/dir", "LOG.")},
        ArmingCase{"EmptyDirectory", "", "x", JoinPath("", "X.TXT")}),
    [](const testing::TestParamInfo<ArmingCase>& param) { return std::string(param.param.label); });

TEST(LogArmingTest, FirstClickWithEmptyBoxOnlyShowsIt) {
  FakeLogControls controls;
  LogSettings settings;

  controls.Click(settings, "/work/dir");

  EXPECT_TRUE(controls.shown);
  EXPECT_TRUE(controls.enabled);
  EXPECT_EQ(settings.LogFlag, 0);
  EXPECT_EQ(settings.Fi2, "");
  EXPECT_EQ(controls.text, "");
  EXPECT_EQ(controls.captions, std::vector<std::string>{std::string(kSetLogFileCaption)});
}

TEST(LogArmingTest, CaptionsFollowTheExchangeInOrder) {
  FakeLogControls controls;
  LogSettings settings;

  controls.Click(settings, "/work/dir");
  controls.Type("ab");
  controls.Click(settings, "/work/dir");

  const std::vector<std::string> expected{
      "Set Log File",            // first click
      "Set It",       "Set It",  // two keystrokes
      "Set Log File",            // second click
      "Set It",                  // the full path replaces the name
      "Log File",                // armed
  };
  EXPECT_EQ(controls.captions, expected);
}

TEST(LogArmingTest, TypingAfterArmingOnlyChangesTheCaption) {
  FakeLogControls controls;
  LogSettings settings;
  controls.Click(settings, "/work/dir");
  controls.Type("mylog");
  controls.Click(settings, "/work/dir");
  const std::string armed = settings.Fi2;

  controls.Type("x");

  EXPECT_EQ(controls.Caption(), kSetItCaption);
  EXPECT_EQ(settings.Fi2, armed);
  EXPECT_EQ(settings.LogFlag, 1);
  EXPECT_FALSE(controls.enabled);
}

TEST(LogArmingTest, ClickAfterArmingRunsTheSameSteps) {
  // The disabled button cannot be clicked by the operator; a click arriving
  // anyway arms whatever the box holds, exactly as the first did.
  FakeLogControls controls;
  LogSettings settings;
  controls.text = "a";
  controls.Click(settings, "/d");
  ASSERT_EQ(settings.Fi2, JoinPath("/d", "A.TXT"));

  controls.Click(settings, "/d");

  EXPECT_EQ(settings.Fi2, JoinPath("/d", JoinPath("/D", "A.TXT")));
  EXPECT_EQ(settings.LogFlag, 1);
  EXPECT_EQ(controls.Caption(), kLogFileCaption);
  EXPECT_FALSE(controls.enabled);
}

// A decode file by its path, or, as the disk says, by its identity; a disk
// that does not answer in time refuses the log too, saying why.
TEST(LogArmingTest, ALogThatWouldBeADecodeFileIsRefused) {
  const std::string decodeFile = JoinPath("/work/dir", "ALL.TXT");
  struct Case {
    std::string typed;
    std::optional<bool> sameOnDisk;
    std::string_view why;
  };
  const Case cases[] = {
      {"all", false, kLogIsTheDecodeFile},
      {"All.txt", false, kLogIsTheDecodeFile},
      {"./all.txt", std::nullopt, kLogIsTheDecodeFile},
      {"link", true, kLogIsTheDecodeFile},
      {"other", std::nullopt, kLogFolderDoesNotAnswer},
  };
  for (const Case& c : cases) {
    FakeLogControls controls;
    LogSettings settings;
    controls.text = c.typed;
    controls.sameFile = [&c](const std::string&, const std::string&) { return c.sameOnDisk; };
    controls.Click(settings, "/work/dir", {decodeFile, "C:\\Program Files\\VELK\\ALL.TXT"});
    EXPECT_EQ(settings.LogFlag, 0) << c.typed;
    EXPECT_EQ(settings.Fi2, "") << c.typed;
    EXPECT_EQ(controls.why, c.why) << c.typed;
    EXPECT_EQ(controls.Caption(), kSetLogFileCaption) << c.typed;
    EXPECT_TRUE(controls.enabled) << c.typed;
  }
}

}  // namespace
}  // namespace velk
