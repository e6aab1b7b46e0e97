// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/decode_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "common/path.h"
#include "common/platform.h"
#include "tests/support/test_files.h"
#include "watch/last_line.h"

#ifdef _WIN32
#include "common/utf16.h"
#else
#include <sys/stat.h>
#endif

namespace velk {
namespace {

using test_files::TempDir;
using test_files::WriteFile;

TEST(DiskDecodeFiles, ARegularFileHasStatusContentAndDate) {
  const TempDir dir;
  const std::string path = dir.File("ALL.TXT");
  WriteFile(path, "0000 first\r\n0712 *second\n");
  DiskDecodeFiles files;
  const std::optional<platform::FileStatus> status = files.Status(path);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->size, 25U);
  std::unique_ptr<platform::ReadOnlyFile> file = files.Open(path);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Identity(), status->identity);
  const LastLineRead read = ReadLastLine(*file);
  EXPECT_FALSE(read.failed);
  EXPECT_EQ(read.line, (LineSummary{"0712 *second", true}));
  EXPECT_TRUE(files.ModificationDate(path));
  file.reset();  // Windows renames nothing over a file that is open

  // Another file renamed into its place is told apart by its identity, also
  // one of the same size and date, once a change was notified.
  WriteFile(dir.File("other"), "0000 first\r\n0712 *second\n");
  std::filesystem::rename(dir.File("other"), path);
  files.ChangeNotified();
  EXPECT_NE(files.Status(path)->identity, status->identity);
}

TEST(DiskDecodeFiles, TheDateIsTheModificationTimeInLocalTime) {
  struct Case {
    int year, month, day;
    const char* expected;
    bool mayBeUnknown = false;  // past what the library's file clock holds
  };
  const Case cases[] = {
      {2009, 8, 22, "2009/08/22"},      {2024, 2, 29, "2024/02/29"}, {1999, 12, 31, "1999/12/31"},
      {1970, 1, 2, "1970/01/02"},       {2038, 1, 20, "2038/01/20"}, {2107, 1, 1, "2107/01/01"},
      {2300, 1, 1, "2300/01/01", true}, {1960, 6, 1, "1960/06/01"},
  };
  const TempDir dir;
  const std::string path = dir.File("ALL.TXT");
  WriteFile(path, "x\r\n");
  DiskDecodeFiles files;
  for (const Case& c : cases) {
    if (!test_files::SetModified(path, test_files::LocalNoonMoment(c.year, c.month, c.day)))
      continue;
    const std::optional<std::string> date = files.ModificationDate(path);
    if (c.mayBeUnknown && !date) continue;
    EXPECT_EQ(date, c.expected) << c.expected;
  }
}

TEST(DiskDecodeFiles, WhatIsNoRegularFileFailsEveryAccess) {
  const TempDir dir;
  std::filesystem::create_directory(dir.File("directory"));
  std::vector<std::string> paths = {dir.File("missing"), dir.File("directory")};
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir.File("zero"));
  paths.push_back(dir.File("fifo"));
  paths.push_back(dir.File("zero"));
#endif
  DiskDecodeFiles files;
  for (const std::string& path : paths) {
    EXPECT_FALSE(files.Status(path)) << path;
    EXPECT_FALSE(files.Open(path)) << path;
  }
  EXPECT_FALSE(files.ModificationDate(dir.File("missing")));
}

TEST(JoinPath, JoinsWithThePlatformSeparator) {
  const std::string separator(1, platform::PathSeparator());
  EXPECT_EQ(JoinPath("work", "ALL.TXT"), "work" + separator + "ALL.TXT");
  const std::u8string current = std::filesystem::current_path().u8string();
  EXPECT_EQ(JoinPath(CurrentDirectory(), "ALL.TXT"),
            std::string(current.begin(), current.end()) + separator + "ALL.TXT");
}

TEST(FolderOf, IsEverythingBeforeTheLastSeparator) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\Radio\\ALL.TXT", "C:\\Radio"},
      {"/home/op/ALL.TXT", "/home/op"},
      {"C:\\Radio/log\\ALL.TXT", "C:\\Radio/log"},
      {"ALL.TXT", "."},
      {"", "."},
      {"/ALL.TXT", "/"},
      {"\\ALL.TXT", "\\"},
      {"dir/", "dir"},
  };
  for (const auto& [path, folder] : cases) EXPECT_EQ(FolderOf(path), folder) << path;
}

TEST(PrivateFolderIn, TheStateHomeWhenAbsoluteElseTheHomesLocalState) {
  const std::optional<std::string> none;
  const std::tuple<const char*, const char*, std::optional<std::string>> cases[] = {
      {"/run/op/state", "/home/op", "/run/op/state/VELK_LOG"},
      {"", "/home/op", "/home/op/.local/state/VELK_LOG"},
      {"relative/state", "/home/op/", "/home/op/.local/state/VELK_LOG"},
      {"", "", none},
  };
  for (const auto& [state, home, folder] : cases) {
    EXPECT_EQ(PrivateFolderIn(state, home), folder) << state << " " << home;
  }
#ifdef _WIN32
  const std::optional<std::string> local = platform::LocalAppDataFolder();
  ASSERT_TRUE(local.has_value());
  EXPECT_EQ(platform::PrivateFolder(), *local + "\\VELK_LOG");
#endif
}

TEST(VirtualStorePath, PathsInFoldersWindowsVirtualisesMapToTheUsersStore) {
  const std::string store = "C:\\Users\\op\\AppData\\Local";
  const std::optional<std::string> none;
  const struct {
    const char* path;
    std::optional<std::string> expected;
  } rows[] = {
      {"C:\\Program Files\\VELK\\ALL.TXT", store + "\\VirtualStore\\Program Files\\VELK\\ALL.TXT"},
      {"c:\\PROGRAM FILES (X86)\\VELK\\ALL.TXT",
       store + "\\VirtualStore\\PROGRAM FILES (X86)\\VELK\\ALL.TXT"},
      {"C:/windows/ALL.TXT", store + "\\VirtualStore\\windows/ALL.TXT"},
      {"D:\\Program Files\\VELK\\ALL.TXT", none},  // not the system drive
      {"C:\\Program Files", none},                 // the folder itself
      {"C:\\Program Files Old\\ALL.TXT", none},
      {"C:\\Users\\op\\ALL.TXT", none},
      {"C:\\Program Files\\..\\Users\\ALL.TXT", none},
      {"Program Files\\VELK\\ALL.TXT", none},
      {"\\\\server\\Program Files\\ALL.TXT", none},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(VirtualStorePath(row.path, store + "\\", "C:"), row.expected) << row.path;
  }
  EXPECT_EQ(VirtualStorePath("C:\\Program Files\\VELK\\ALL.TXT", "", "C:"), none);
  EXPECT_EQ(VirtualStorePath("C:\\Program Files\\VELK\\ALL.TXT", store, ""), none);
}

// The working directory's name is UTF-8 text with every character kept,
// whatever the system's code page: the decode file is read and the log
// written there.
TEST(CurrentDirectory, AnyCharactersOfTheWorkingDirectoryAreKept) {
  const TempDir dir;
  const std::filesystem::path work =
      dir.Path() / u8"J\u00fcrgen" / u8"\u0420\u0430\u0434\u0438\u043e";
  std::filesystem::create_directories(work);
  test_files::WriteFile(work / "ALL.TXT", "0712 *second\r\n");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(work);
  const std::string current = CurrentDirectory();
  DiskDecodeFiles files;
  const std::optional<platform::FileStatus> status = files.Status(JoinPath(current, "ALL.TXT"));
  const bool opened = files.Open(JoinPath(current, "ALL.TXT")) != nullptr;
  const bool logged = platform::AppendWhole(JoinPath(current, "LOG.TXT"), "0712, 3\r\n").written;
  std::filesystem::current_path(before);

  const std::u8string expected = work.u8string();
  EXPECT_EQ(current, std::string(expected.begin(), expected.end()));
  ASSERT_TRUE(status);
  EXPECT_EQ(status->size, 14U);
  EXPECT_TRUE(opened);
  EXPECT_TRUE(logged);
  EXPECT_EQ(test_files::ReadFile(work / "LOG.TXT"), "0712, 3\r\n");
}

#ifdef _WIN32
// The decode file's bytes are read in the code page asked for, not as UTF-8.
TEST(Utf16, TextIsConvertedInTheCodePageAskedFor) {
  EXPECT_EQ(platform::Utf16FromCodePage("J\xFCrgen", 1252), L"J\u00fcrgen");
  EXPECT_EQ(platform::Utf16FromCodePage("J\xFCrgen", 1251), L"J\u044crgen");
  EXPECT_EQ(platform::Utf16FromUtf8("J\xC3\xBCrgen"), L"J\u00fcrgen");
  EXPECT_EQ(platform::Utf8FromUtf16(L"J\u00fcrgen"), "J\xC3\xBCrgen");
  EXPECT_EQ(platform::Utf16FromCodePage("", 1252), L"");
}
#endif

}  // namespace
}  // namespace velk
