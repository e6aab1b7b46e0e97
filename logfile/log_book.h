#pragma once

// The log's append step. Every record goes into the log file in one
// unbuffered write on a file opened for appending, and the file is closed
// again, so between two decodes every record written so far is complete in
// the file. A record that cannot be written (a missing directory, a full
// disk, a file that refuses writes) is kept. Kept records are written, in
// order and each once, before the next record, and also on their own about
// once a second (the window's timer asks RetryDue and calls RetryKept). At
// the close a last try is made; what still cannot be written goes to the
// rescue file. No record is ever dropped.

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

#include "logfile/rescue_file.h"
#include "watch/decode_line.h"

namespace velk {

// Kept records beyond this many go to the rescue file, oldest first: about
// three days of decodes.
inline constexpr std::size_t kMaxKeptRecords = 1'000'000;

// How often kept records are tried again on their own.
inline constexpr std::chrono::seconds kRetryInterval{1};

// How long one append step or retry spends on kept records at most. A long
// backlog (a day of decodes, on a slow share) is written a slice at a time
// between passes of the watch loop, with the next retry due at once, so the
// loop keeps taking decodes and the window keeps answering meanwhile.
inline constexpr std::chrono::milliseconds kKeptWriteSlice{50};

// How long the close waits for the log to take the kept records. With the
// two waits on the rescue file, the close is over within about a second
// whatever the log's file system does.
inline constexpr std::chrono::milliseconds kLastTryWait{500};

class LogBook {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  // Without `append`, the records go to the disk; without `rescue`, the
  // rescue file is made in the working directory.
  explicit LogBook(AppendFunction append = nullptr, std::size_t maxKept = kMaxKeptRecords,
                   std::optional<RescueFile> rescue = std::nullopt);

  // Appends `record` to the log file at `path`, after any records kept from
  // earlier failures. True when this record (and so every kept one) was
  // written in full.
  bool Append(const std::string& path, const LogRecord& record);

  // True when records are kept and a retry is due at `now`. The first call
  // after records came to be kept starts the interval.
  bool RetryDue(TimePoint now);

  // Writes the kept records to the log file at `path`, oldest first, each in
  // its own append, until one fails (the next retry is then due an interval
  // after `now`) or the slice is over (due at once). The number written.
  std::size_t RetryKept(const std::string& path, TimePoint now);

  // What the log box says beside its colour: while records are kept, how
  // many and why they could not be written (no reason while a backlog is
  // being written); otherwise the log's `path`.
  std::string Note(const std::string& path) const;

  // The close. A last try at the log file at `path` for the kept records,
  // given up after kLastTryWait; those not confirmed written by then go to
  // the rescue file. What the operator must be told on standard error
  // (where the rescue file is; if even that could not be written, the
  // records themselves), or an empty text when every record is in the log.
  std::string Close(const std::string& path);

  // Records waiting for the file to take writes again.
  std::size_t KeptCount() const { return kept_.size(); }

 private:
  std::size_t WriteKept(const std::string& path);
  void Keep(std::string line);
  void LastTry(const std::string& path);
  std::string KeptLines() const;

  AppendFunction append_;
  std::size_t maxKept_;
  RescueFile rescue_;
  std::deque<std::string> kept_;  // whole lines, oldest first
  std::string lastFailure_;       // the system's message for the last failed write
  std::optional<TimePoint> nextRetry_;
};

}  // namespace velk
