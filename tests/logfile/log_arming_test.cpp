// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile/log_arming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/path.h"

namespace velk {
namespace {

// A window stand-in that behaves as the real one does: setting a different
// text raises the change event, and every caption shown is recorded.
class FakeLogControls final : public LogControls {
 public:
  void ShowLogFile() override { shown = true; }
  void SetLogLabelCaption(std::string_view caption) override { captions.emplace_back(caption); }
  std::string LogFileText() const override { return text; }
  void SetLogFileText(const std::string& newText) override {
    if (newText == text) return;
    text = newText;
    LogFileChange(*this);
  }
  void DisableLogLabel() override { enabled = false; }
  void ShowWhyNotArmed(std::string_view reason) override { why = reason; }
  std::string UpperCase(const std::string& value) const override {
    std::string upper = value;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) {
      return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    return upper;
  }

  // What the operator does: typing a text, keystroke by keystroke.
  void Type(const std::string& typed) {
    for (char c : typed) SetLogFileText(text + c);
  }

  std::string Caption() const { return captions.empty() ? "" : captions.back(); }

  bool shown = false;
  bool enabled = true;
  std::string text;
  std::string why;
  std::vector<std::string> captions;
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

  LogLabelClick(controls, settings, c.directory);
  controls.Type(c.typed);
  EXPECT_EQ(controls.Caption(), kSetItCaption);
  LogLabelClick(controls, settings, c.directory);

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

  LogLabelClick(controls, settings, "/work/dir");

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

  LogLabelClick(controls, settings, "/work/dir");
  controls.Type("ab");
  LogLabelClick(controls, settings, "/work/dir");

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
  LogLabelClick(controls, settings, "/work/dir");
  controls.Type("mylog");
  LogLabelClick(controls, settings, "/work/dir");
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
  LogLabelClick(controls, settings, "/d");
  ASSERT_EQ(settings.Fi2, JoinPath("/d", "A.TXT"));

  LogLabelClick(controls, settings, "/d");

  EXPECT_EQ(settings.Fi2, JoinPath("/d", JoinPath("/D", "A.TXT")));
  EXPECT_EQ(settings.LogFlag, 1);
  EXPECT_EQ(controls.Caption(), kLogFileCaption);
  EXPECT_FALSE(controls.enabled);
}

TEST(LogArmingTest, ALogThatWouldBeADecodeFileIsRefused) {
  const std::string decodeFile = JoinPath("/work/dir", "ALL.TXT");
  for (const std::string typed : {"all", "All.txt", "./all.txt"}) {
    FakeLogControls controls;
    LogSettings settings;
    controls.text = typed;
    LogLabelClick(controls, settings, "/work/dir",
                  {decodeFile, "C:\\Program Files\\VELK\\ALL.TXT"});
    EXPECT_EQ(settings.LogFlag, 0) << typed;
    EXPECT_EQ(settings.Fi2, "") << typed;
    EXPECT_EQ(controls.why, kLogIsTheDecodeFile) << typed;
    EXPECT_EQ(controls.Caption(), kSetLogFileCaption) << typed;
    EXPECT_TRUE(controls.enabled) << typed;
  }
}

}  // namespace
}  // namespace velk
