// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/sim_writer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "tests/support/test_files.h"

namespace velk::sim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class DecodeFileWriterTest : public testing::Test {
 protected:
  velk::test_files::TempDir temp_;
  const fs::path& dir_ = temp_.Path();

  WriterSettings Settings() const {
    return {(dir_ / "ALL.TXT").string(), (dir_ / "echo.txt").string(), 0ms, 0, 0};
  }
  std::string DecodeFile() const { return test_files::ReadFile(dir_ / "ALL.TXT"); }
  std::string EchoFile() const { return test_files::ReadFile(dir_ / "echo.txt"); }

  static std::string Line(int n) { return "line " + std::to_string(n) + "\r\n"; }

  std::string error_;
};

TEST_F(DecodeFileWriterTest, AppendsAndEchoesEveryWrite) {
  DecodeFileWriter writer(Settings());
  ASSERT_TRUE(writer.Write(Line(1), 1, 0, error_)) << error_;
  ASSERT_TRUE(writer.Write(Line(2) + Line(3), 2, 0, error_)) << error_;
  EXPECT_EQ(DecodeFile(), Line(1) + Line(2) + Line(3));
  EXPECT_EQ(EchoFile(), DecodeFile());
}

TEST_F(DecodeFileWriterTest, SplitOffsetsOutsideTheTextWriteOnePiece) {
  DecodeFileWriter writer({(dir_ / "ALL.TXT").string(), "", 10s, 0, 0});
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(writer.Write(Line(1), 1, Line(1).size(), error_)) << error_;
  ASSERT_TRUE(writer.Write(Line(2), 1, 99, error_)) << error_;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);  // never paused
  EXPECT_EQ(DecodeFile(), Line(1) + Line(2));
  EXPECT_FALSE(fs::exists(dir_ / "echo.txt"));
}

// A reader looking during the pause sees only the first piece.
TEST_F(DecodeFileWriterTest, SplitWriteShowsTheFirstPieceDuringThePause) {
  WriterSettings settings = Settings();
  settings.splitPause = 600ms;
  DecodeFileWriter writer(settings);
  const std::string text = Line(1) + "0712    3  -23  0.3   -5    3 *    ABC DEF GH\r\n";
  const std::size_t offset = text.size() - 6;

  std::string seenDuringPause;
  std::thread reader([&] {
    const auto giveUp = std::chrono::steady_clock::now() + 500ms;
    while (seenDuringPause.empty() && std::chrono::steady_clock::now() < giveUp) {
      seenDuringPause = DecodeFile();
      std::this_thread::sleep_for(1ms);
    }
  });
  const bool written = writer.Write(text, 2, offset, error_);
  reader.join();
  ASSERT_TRUE(written) << error_;
  EXPECT_EQ(seenDuringPause, text.substr(0, offset));
  EXPECT_EQ(DecodeFile(), text);
  EXPECT_EQ(EchoFile(), text);
}

TEST_F(DecodeFileWriterTest, TruncatesAfterEveryNLines) {
  WriterSettings settings = Settings();
  settings.truncateEvery = 2;
  DecodeFileWriter writer(settings);
  std::string all;
  for (int n = 1; n <= 5; ++n) {
    ASSERT_TRUE(writer.Write(Line(n), 1, 0, error_)) << error_;
    all += Line(n);
  }
  EXPECT_EQ(DecodeFile(), Line(5));
  EXPECT_EQ(EchoFile(), all);
}

TEST_F(DecodeFileWriterTest, TruncatesAfterBurstsReachTheCount) {
  WriterSettings settings = Settings();
  settings.truncateEvery = 4;
  DecodeFileWriter writer(settings);
  ASSERT_TRUE(writer.Write(Line(1) + Line(2) + Line(3), 3, 0, error_));
  ASSERT_TRUE(writer.Write(Line(4) + Line(5) + Line(6), 3, 0, error_));
  ASSERT_TRUE(writer.Write(Line(7), 1, 0, error_));
  EXPECT_EQ(DecodeFile(), Line(7));
}

TEST_F(DecodeFileWriterTest, ReplacesTheFileWithANewOne) {
  WriterSettings settings = Settings();
  settings.replaceEvery = 2;
  settings.splitPause = 1ms;
  DecodeFileWriter writer(settings);
  ASSERT_TRUE(writer.Write(Line(1), 1, 0, error_)) << error_;
  ASSERT_TRUE(writer.Write(Line(2), 1, 0, error_)) << error_;
  // A second name for the old file keeps its contents after the rename.
  fs::create_hard_link(dir_ / "ALL.TXT", dir_ / "old.txt");
  ASSERT_TRUE(writer.Write(Line(3), 1, 3, error_)) << error_;
  ASSERT_TRUE(writer.Write(Line(4), 1, 0, error_)) << error_;

  EXPECT_EQ(test_files::ReadFile(dir_ / "old.txt"), Line(1) + Line(2));
  EXPECT_EQ(DecodeFile(), Line(3) + Line(4));
  EXPECT_EQ(EchoFile(), Line(1) + Line(2) + Line(3) + Line(4));
  EXPECT_FALSE(fs::exists(DecodeFileWriter::ReplacementPath((dir_ / "ALL.TXT").string())));
}

TEST_F(DecodeFileWriterTest, TruncatingAMissingFileIsNoFailure) {
  WriterSettings settings = Settings();
  settings.truncateEvery = 1;
  DecodeFileWriter writer(settings);
  ASSERT_TRUE(writer.Write(Line(1), 1, 0, error_)) << error_;
  fs::remove(dir_ / "ALL.TXT");
  ASSERT_TRUE(writer.Write(Line(2), 1, 0, error_)) << error_;
  EXPECT_EQ(DecodeFile(), Line(2));
}

TEST_F(DecodeFileWriterTest, ReportsFilesThatCannotBeWritten) {
  const std::string missing = (dir_ / "no" / "such" / "dir" / "ALL.TXT").string();
  const WriterSettings cases[] = {
      {missing, "", 0ms, 0, 0},
      {missing, "", 0ms, 0, 1},
      {(dir_ / "ALL.TXT").string(), (dir_ / "no" / "echo.txt").string(), 0ms, 0, 0},
      {dir_.string(), "", 0ms, 0, 0},
  };
  for (const WriterSettings& settings : cases) {
    DecodeFileWriter writer(settings);
    std::string error;
    // The second write would truncate or replace.
    const bool first = writer.Write(Line(1), 1, 0, error);
    const bool second = first && writer.Write(Line(2), 1, 0, error);
    EXPECT_FALSE(second) << settings.path;
    EXPECT_FALSE(error.empty()) << settings.path;
  }
}

TEST_F(DecodeFileWriterTest, FailedReplacementLeavesNoNewFileBehind) {
  WriterSettings settings = Settings();
  settings.replaceEvery = 1;
  DecodeFileWriter writer(settings);
  ASSERT_TRUE(writer.Write(Line(1), 1, 0, error_)) << error_;
  // A non-empty directory in the decode file's place cannot be renamed over.
  fs::remove(dir_ / "ALL.TXT");
  fs::create_directories(dir_ / "ALL.TXT" / "inside");
  EXPECT_FALSE(writer.Write(Line(2), 1, 0, error_));
  EXPECT_FALSE(error_.empty());
  EXPECT_FALSE(fs::exists(DecodeFileWriter::ReplacementPath((dir_ / "ALL.TXT").string())));
  EXPECT_EQ(EchoFile(), Line(1));
}

}  // namespace
}  // namespace velk::sim
