// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The log's append step. Every record goes into the log file in one
// unbuffered write on a file opened for appending, and the file is closed
// again, so between two decodes every record written so far is complete in
// the file. The writes run on a thread of the log book's own, one at a time
// and in order, so that the window never waits on the log's file system:
// the window hands each record over and asks now and then what became of
// them.
//
// A record the log does not take (the write failed, or it has not answered
// within kNoAnswerWait) goes at once to the rescue file, so that however
// the process ends every record is in the log or in the rescue file (after
// an abrupt end some may stand in both). Such records are written to the
// log, in order and each once, before the next record, and on their own
// once a second; once the log has taken them they are taken out of the
// rescue file again. At the close a last, bounded try is made; what the log
// still has not taken stays in the rescue file, named on standard error.
//
// The threads, at most kLogBookThreads whatever the disks do, each made at
// its first use:
//   the writer    the log's calls, one at a time; the only thread that may
//                 wait on the log's disk for as long as it takes;
//   the rescuer   decides what goes into the rescue file and when; it never
//                 waits on a disk longer than kRescueWait per place;
//   two workers   one DiskWorker per rescue place (the working directory,
//                 the operator's own folder; one when they are the same), which
//                 make that place's calls and read it for an earlier run's
//                 rescue files.
// A place whose call has not answered is not asked again until it answers:
// a stalled disk holds its one thread, and what would have gone there goes
// to the other place, or waits in memory while both are stalled. The close
// waits a bounded time for the writer and the rescuer; one still held by a
// disk is left to end when the disk answers, or with the process (a book
// used again after its close starts a writer and a rescuer of its own). The
// workers belong to the rescue file and its copies, and outlive a close.

#include <chrono>
#include <cstddef>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "logfile/rescue_file.h"
#include "watch/decode_line.h"

namespace velk {

// Records waiting for the log beyond this many are dropped from memory,
// oldest first, once they are in the rescue file: about three days of
// decodes. The log then never gets them; the rescue file keeps them.
inline constexpr std::size_t kMaxKeptRecords = 1'000'000;

// The threads a log book runs at most (see above).
inline constexpr int kLogBookThreads = 4;

// How often records the log did not take are tried again on their own.
inline constexpr std::chrono::seconds kRetryInterval{1};

// How long a record may wait for the log before it is also put in the
// rescue file: a write that has not answered by then is taken for a stalled
// file system.
inline constexpr std::chrono::milliseconds kNoAnswerWait{150};

// How long the close waits for the log to take the records still waiting.
// With the waits on the rescue file, the close is over within about a
// second whatever the log's file system does.
inline constexpr std::chrono::milliseconds kLastTryWait{500};

// What the book's threads share; its own business.
struct LogBookState;

class LogBook {
 public:
  // Without `append`, the records go to the disk; without `rescue`, the
  // rescue file is made in the working directory, or in the operator's own
  // folder ($XDG_STATE_HOME/VELK_LOG, %LOCALAPPDATA%\VELK_LOG;
  // PrivateRescueFolder) when that cannot be written.
  explicit LogBook(AppendFunction append = nullptr, std::size_t maxKept = kMaxKeptRecords,
                   std::optional<RescueFile> rescue = std::nullopt);
  // Closes the book as Close does, when it was not closed, without a notice.
  ~LogBook();
  LogBook(LogBook&& other) noexcept;
  LogBook& operator=(LogBook&& other) noexcept;
  LogBook(const LogBook&) = delete;
  LogBook& operator=(const LogBook&) = delete;

  // Hands `record` over for the log file at `path`, after every record
  // handed over before it; returns at once.
  void Append(const std::string& path, const LogRecord& record);

  struct Progress {
    std::size_t written = 0;  // records confirmed in the log since the last call
    std::size_t waiting = 0;  // records handed over and not yet in the log
    bool failing = false;     // the last write failed or has not answered: the warning state
  };

  // What the writer did since the last call; never waits on a disk.
  Progress TakeProgress();

  // What the log box says beside its colour: while records wait, how many,
  // why (no reason while a backlog is being written) and where they are
  // kept; otherwise the log's `path`. Never waits on a disk.
  std::string StatusText(const std::string& path) const;

  // Looks for rescue files an earlier run left in the rescue file's places;
  // see RescueFile::FindEarlier.
  std::future<std::string> FindEarlierRescueFiles() const { return rescue_.FindEarlier(); }

  // The close. A last try at the log file at `path` for the records still
  // waiting, given up after kLastTryWait; those not written by then are in
  // the rescue file. What the operator must be told on standard error
  // (where the rescue file is; if even that could not be written, the
  // records themselves), or an empty text when every record is in the log.
  // Over within about a second whatever the disks do. The book is as new
  // afterwards.
  std::string Close(const std::string& path);

 private:
  void Start();

  AppendFunction append_;
  std::size_t maxKept_;
  RescueFile rescue_;  // as it was made: each start takes a copy
  // Shared with the writer and the rescuer, which may outlive the book when
  // a disk does not answer.
  std::shared_ptr<LogBookState> shared_;
  std::thread writer_;
  std::thread rescuer_;
};

}  // namespace velk
