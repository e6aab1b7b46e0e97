// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Puts the simulator's lines into the decode file: appended with one write
// call each, or in two pieces with a pause between, with the file cut to
// nothing or replaced by a new one every so many lines.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velk::sim {

struct WriterSettings {
  std::string path;
  std::string echoPath;  // empty: no echo
  std::chrono::milliseconds splitPause{0};
  std::uint64_t truncateEvery = 0;  // 0: never
  std::uint64_t replaceEvery = 0;   // 0: never
};

class DecodeFileWriter {
 public:
  explicit DecodeFileWriter(WriterSettings settings);

  // Writes `text` holding `lineCount` whole lines. With `splitOffset`
  // between 1 and text.size() - 1 the text goes in as two appends, split
  // there, with the split pause between them; otherwise as one. Before the
  // write the file is cut to nothing or replaced when the lines written since
  // the last time reach the set count; a replacing write puts `text` into the
  // new file in one piece. On failure returns false with `error` set.
  bool Write(std::string_view text, std::uint64_t lineCount, std::size_t splitOffset,
             std::string& error);

  // Whether the next write first cuts or replaces the file.
  bool ChangeDue() const;

  // The name of the file that replaces the decode file.
  static std::string ReplacementPath(const std::string& path);

 private:
  bool Append(std::string_view text, std::size_t splitOffset, std::string& error);
  bool Replace(std::string_view text, std::string& error);
  bool Truncate(std::string& error);

  WriterSettings settings_;
  std::uint64_t linesSinceTruncate_ = 0;
  std::uint64_t linesSinceReplace_ = 0;
};

}  // namespace velk::sim
