// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/sim_writer.h"

#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include "common/platform.h"

namespace velk::sim {

DecodeFileWriter::DecodeFileWriter(WriterSettings settings) : settings_(std::move(settings)) {}

std::string DecodeFileWriter::ReplacementPath(const std::string& path) {
  return path + ".sim-new";
}

bool DecodeFileWriter::ChangeDue() const {
  return (settings_.truncateEvery > 0 && linesSinceTruncate_ >= settings_.truncateEvery) ||
         (settings_.replaceEvery > 0 && linesSinceReplace_ >= settings_.replaceEvery);
}

bool DecodeFileWriter::Write(std::string_view text, std::uint64_t lineCount,
                             std::size_t splitOffset, std::string& error) {
  const bool truncateDue =
      settings_.truncateEvery > 0 && linesSinceTruncate_ >= settings_.truncateEvery;
  const bool replaceDue =
      settings_.replaceEvery > 0 && linesSinceReplace_ >= settings_.replaceEvery;
  if (truncateDue) {
    if (!Truncate(error)) return false;
    linesSinceTruncate_ = 0;
  }
  if (replaceDue) {
    if (!Replace(text, error)) return false;
    linesSinceReplace_ = 0;
  } else if (!Append(text, splitOffset, error)) {
    return false;
  }
  linesSinceTruncate_ += lineCount;
  linesSinceReplace_ += lineCount;

  if (!settings_.echoPath.empty() && !platform::AppendWhole(settings_.echoPath, text)) {
    error = "cannot append to the echo file " + settings_.echoPath;
    return false;
  }
  return true;
}

bool DecodeFileWriter::Append(std::string_view text, std::size_t splitOffset, std::string& error) {
  const bool split = splitOffset > 0 && splitOffset < text.size();
  const std::string_view first = split ? text.substr(0, splitOffset) : text;
  if (!platform::AppendWhole(settings_.path, first)) {
    error = "cannot append to " + settings_.path;
    return false;
  }
  if (!split) return true;
  std::this_thread::sleep_for(settings_.splitPause);
  if (!platform::AppendWhole(settings_.path, text.substr(splitOffset))) {
    error = "cannot append the second piece to " + settings_.path;
    return false;
  }
  return true;
}

bool DecodeFileWriter::Replace(std::string_view text, std::string& error) {
  const std::string fresh = ReplacementPath(settings_.path);
  std::error_code failure;
  std::filesystem::remove(fresh, failure);
  if (!platform::AppendWhole(fresh, text)) {
    error = "cannot write the replacement file " + fresh;
    return false;
  }
  std::filesystem::rename(fresh, settings_.path, failure);
  if (failure) {
    error = "cannot rename " + fresh + " over " + settings_.path + ": " + failure.message();
    std::filesystem::remove(fresh, failure);
    return false;
  }
  return true;
}

bool DecodeFileWriter::Truncate(std::string& error) {
  std::error_code failure;
  if (!std::filesystem::exists(settings_.path, failure)) return true;
  std::filesystem::resize_file(settings_.path, 0, failure);
  if (failure) {
    error = "cannot truncate " + settings_.path + ": " + failure.message();
    return false;
  }
  return true;
}

}  // namespace velk::sim
