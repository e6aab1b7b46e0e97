#pragma once

// The log's append step. Every record goes into the log file in one
// unbuffered write on a file opened for appending, and the file is closed
// again, so between two decodes every record written so far is complete in
// the file. A record that cannot be written (a missing directory, a full
// disk, a file that refuses writes) is kept and written, in order, before the
// next record as soon as the file takes writes again.

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "watch/decode_line.h"

namespace velk {

// Writes bytes at the end of a file in one piece, or not at all; true when
// every byte was written.
using AppendFunction = std::function<bool(const std::string& path, std::string_view bytes)>;

inline constexpr std::size_t kMaxKeptRecords = 100'000;

class LogBook {
 public:
  explicit LogBook(AppendFunction append = nullptr, std::size_t maxKept = kMaxKeptRecords);

  // Appends `record` to the log file at `path`, after any records kept from
  // earlier failures. True when this record (and so every kept one) was
  // written in full.
  bool Append(const std::string& path, const LogRecord& record);

  // Records waiting for the file to take writes again.
  std::size_t KeptCount() const { return kept_.size(); }
  // Records given up because more than the limit were waiting.
  std::size_t DroppedCount() const { return dropped_; }

 private:
  AppendFunction append_;
  std::size_t maxKept_;
  std::deque<std::string> kept_;  // whole lines, oldest first
  std::size_t dropped_ = 0;
};

}  // namespace velk
