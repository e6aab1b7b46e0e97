// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velk::sim {
namespace {

ParsedOptions Parse(std::vector<std::string_view> arguments) {
  return ParseSimOptions(arguments);
}

TEST(ParseSimOptions, NoArgumentsGiveTheDefaults) {
  const ParsedOptions parsed = Parse({});
  ASSERT_TRUE(std::holds_alternative<SimOptions>(parsed));
  const SimOptions& options = std::get<SimOptions>(parsed);
  EXPECT_EQ(options.file, "ALL.TXT");
  EXPECT_EQ(options.intervalSeconds, 1.0);
  EXPECT_EQ(options.count, 0u);
  EXPECT_EQ(options.burst, 1u);
  EXPECT_EQ(options.lineEnd, LineEnd::kCrLf);
  EXPECT_EQ(options.unmarkedShare, 0.0);
  EXPECT_FALSE(options.Splits());
  EXPECT_EQ(options.truncateEvery, 0u);
  EXPECT_EQ(options.replaceEvery, 0u);
  EXPECT_FALSE(options.seed.has_value());
  EXPECT_FALSE(options.fixedTime.has_value());
  EXPECT_TRUE(options.echoFile.empty());
}

TEST(ParseSimOptions, ReadsEveryOptionInBothForms) {
  const ParsedOptions parsed = Parse({"--file",
                                      "x/ALL.TXT",
                                      "--interval=0.25",
                                      "--count",
                                      "12",
                                      "--burst=3",
                                      "--line-end",
                                      "cr",
                                      "--unmarked=0.4",
                                      "--split-pause",
                                      "15",
                                      "--split-at=40",
                                      "--truncate-every",
                                      "100",
                                      "--replace-every=50",
                                      "--change-pause=300",
                                      "--seed",
                                      "18446744073709551615",
                                      "--time=0712",
                                      "--echo",
                                      "seen.txt"});
  ASSERT_TRUE(std::holds_alternative<SimOptions>(parsed));
  const SimOptions& options = std::get<SimOptions>(parsed);
  EXPECT_EQ(options.file, "x/ALL.TXT");
  EXPECT_EQ(options.intervalSeconds, 0.25);
  EXPECT_EQ(options.count, 12u);
  EXPECT_EQ(options.burst, 3u);
  EXPECT_EQ(options.lineEnd, LineEnd::kCr);
  EXPECT_EQ(options.unmarkedShare, 0.4);
  EXPECT_EQ(options.splitPauseMs, 15u);
  EXPECT_EQ(options.splitAt, 40u);
  EXPECT_TRUE(options.Splits());
  EXPECT_EQ(options.truncateEvery, 100u);
  EXPECT_EQ(options.replaceEvery, 50u);
  EXPECT_EQ(options.changePauseMs, 300u);
  EXPECT_EQ(options.seed, 18446744073709551615u);
  EXPECT_EQ(options.fixedTime, "0712");
  EXPECT_EQ(options.echoFile, "seen.txt");
}

TEST(ParseSimOptions, ReadsRanges) {
  const ParsedOptions parsed = Parse({"--burst", "1-10", "--interval=1e-3-0.25"});
  ASSERT_TRUE(std::holds_alternative<SimOptions>(parsed));
  const SimOptions& options = std::get<SimOptions>(parsed);
  EXPECT_EQ(options.burst, 1u);
  EXPECT_EQ(options.burstMost, 10u);
  EXPECT_EQ(options.intervalSeconds, 1e-3);
  EXPECT_EQ(options.intervalMostSeconds, 0.25);
}

TEST(ParseSimOptions, LaterOptionWins) {
  const ParsedOptions parsed = Parse({"--line-end", "lf", "--line-end", "crlf"});
  ASSERT_TRUE(std::holds_alternative<SimOptions>(parsed));
  EXPECT_EQ(std::get<SimOptions>(parsed).lineEnd, LineEnd::kCrLf);
}

TEST(ParseSimOptions, HelpWinsOverEverythingElse) {
  EXPECT_TRUE(std::holds_alternative<HelpRequest>(Parse({"--help"})));
  EXPECT_TRUE(std::holds_alternative<HelpRequest>(Parse({"--count", "3", "-h"})));
  EXPECT_NE(UsageText().find("--replace-every"), std::string::npos);
}

TEST(ParseSimOptions, RefusesBadArguments) {
  const std::vector<std::vector<std::string_view>> bad = {
      {"--bogus"},
      {"count"},
      {"--count"},
      {"--count", "-1"},
      {"--count", "3x"},
      {"--count", ""},
      {"--count", "99999999999999999999999"},
      {"--burst", "0"},
      {"--burst", "5-2"},
      {"--burst", "0-3"},
      {"--burst", "1-"},
      {"--interval", "0.2-0.1"},
      {"--interval", "-0.5"},
      {"--interval", "nan"},
      {"--interval", "inf"},
      {"--interval", "1e9"},
      {"--interval", "fast"},
      {"--unmarked", "1.01"},
      {"--unmarked", "-0.1"},
      {"--unmarked", "nan"},
      {"--line-end", "CRLF"},
      {"--line-end", "\\r\\n"},
      {"--split-pause", "0.5"},
      {"--split-at", "1"},
      {"--time", "2400"},
      {"--time", "1260"},
      {"--time", "712"},
      {"--time", "07:12"},
      {"--seed", "-3"},
      {"--file", ""},
      {"--file=", "x"},
      {"--echo", ""},
      {"--file", "a.txt", "--echo", "a.txt"},
      {"--echo", "ALL.TXT"},
  };
  for (const auto& arguments : bad) {
    const ParsedOptions parsed = Parse(arguments);
    ASSERT_TRUE(std::holds_alternative<OptionError>(parsed)) << arguments.front();
    EXPECT_FALSE(std::get<OptionError>(parsed).message.empty());
  }
}

}  // namespace
}  // namespace velk::sim
