// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where records that the log has not taken are kept meanwhile, so that
// however the process ends (a signal, a crash, kill -9, a power cut) each
// one is in the log or here: a file named for the moment it is first
// needed, "VELK_LOG-unsaved-<yyyymmdd>-<hhmmss>.TXT", in the working
// directory, or in the system's temporary folder when the working directory
// cannot be written. The records keep the log's own layout (whole lines
// ended by CR LF), in order. Once the log has taken them they are taken out
// again, and the file is removed when none remain.
//
// Each place's calls run on a DiskWorker of its own, shared by every copy of
// a rescue file: a place whose call has not answered is not asked again
// until it answers, so a stalled disk holds one thread and never a new one.

#include <chrono>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/disk_worker.h"
#include "common/platform.h"

namespace velk {

// Writes bytes at the end of a file in one piece, or not at all.
using AppendFunction =
    std::function<platform::AppendOutcome(const std::string& path, std::string_view bytes)>;

// How long one save waits on each of the two places; each place has a
// thread of its own for its calls, and a place whose call has not answered
// is not asked again until it answers. A directory on a
// network share that has stopped answering can hold a write up for minutes.
inline constexpr std::chrono::milliseconds kRescueWait{200};

// The start of every rescue file's name.
inline constexpr std::string_view kRescuePrefix = "VELK_LOG-unsaved-";

// "1 record", "2 records".
std::string RecordCount(std::size_t count);

// The system's temporary folder, or an empty text when it has none.
std::string TemporaryDirectory();

class RescueFile {
 public:
  // Saves into `directory`, or into `fallback` when that fails; the rescue
  // file is not created before the first save.
  explicit RescueFile(std::string directory, std::string fallback = TemporaryDirectory(),
                      AppendFunction append = nullptr);

  // Appends `lines`, `count` whole records, to the rescue file, on the disk
  // itself before it returns: in the working directory when it takes them
  // within kRescueWait, else in the fallback folder, which is then used
  // first from now on. False when neither took them. A save that was given
  // up on may still finish later: those records may then stand in both
  // places.
  bool Save(std::string_view lines, std::size_t count);

  // Makes the rescue files hold `lines`, `count` whole records, and nothing
  // else: the records the log has taken meanwhile are taken out. With no
  // records the files are removed. Each file is replaced in one step, so
  // that it holds either what it held or the new lines, whenever the process
  // ends. False when that could not be done within kRescueWait for each
  // file: they then still hold at least `lines`, and later saves go to the
  // other place.
  bool Replace(std::string_view lines, std::size_t count);

  struct Saved {
    std::string path;
    std::size_t count = 0;  // records in it
  };

  // The rescue files written to and not removed since, oldest first.
  const std::vector<Saved>& Files() const { return saved_; }

  // Looks, each place on its own worker, for rescue files from an earlier
  // run in both places: they hold records that never reached the log. The files
  // this rescue file and its copies made are this run's own, whenever they
  // were made, and are not told. Once the look is done the future holds a
  // line for the operator that names them, empty when there are none. A
  // folder that does not answer delays only the answer.
  std::future<std::string> LookForEarlier() const;

 private:
  struct Run;

  bool SaveIn(const std::string& directory, std::string_view lines, std::size_t count);
  bool Remove(const std::string& path);
  DiskWorker& WorkerFor(const std::string& directory) const;
  // Runs `task` on the worker of the place `directory` and waits kRescueWait
  // for it: true when it answered true by then. The task must own what it
  // touches, as it may outlive the call.
  bool RunAtPlace(const std::string& directory, std::function<bool()> task);
  // This copy's file name, chosen at its first use.
  const std::string& Name();
  const std::string& Place() const { return preferFallback_ ? fallback_ : directory_; }
  const std::string& OtherPlace() const { return preferFallback_ ? directory_ : fallback_; }

  std::string directory_;
  std::string fallback_;
  AppendFunction append_;
  std::string name_;  // chosen at the first save
  bool preferFallback_ = false;
  std::vector<Saved> saved_;
  // What every copy shares: the places' workers and the names this run gave
  // its rescue files.
  std::shared_ptr<Run> run_;
};

// One line per rescue file in `files`: how many records it holds, that they
// could not be written to `logPath` (because of `reason`), and the file's
// path. Empty when nothing is saved.
std::string RescueNotice(const std::vector<RescueFile::Saved>& files, const std::string& logPath,
                         const std::string& reason);

}  // namespace velk
