// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where records that the log has not taken are kept meanwhile, so that
// however the process ends (a signal, a crash, kill -9, a power cut) each
// one is in the log or here: a file named for this run, from the moment it
// is first needed and the process id,
// "VELK_LOG-unsaved-<yyyymmdd>-<hhmmss>-<pid>.TXT", in the working
// directory, or in the operator's own folder (platform::PrivateFolderPath)
// when the working directory cannot be written; never in a folder shared
// with other users. Each file is made new under its name, with room for its
// owner alone, never through a link and never over a file already there; a
// name that is taken is passed over for the next ("...-<pid>-2.TXT"). Only
// the run that made a file appends to it. The records keep the log's own
// layout (whole lines ended by CR LF), in order. Once the log has taken them
// they are taken out again, and the file is removed when none remain.
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

// The operator's own folder (made at the first save there), or an empty
// text when the environment names none.
std::string PrivateRescueFolder();

class RescueFile {
 public:
  // Saves into `directory`, or into `fallback` when that fails; the rescue
  // file is not created before the first save. `append` writes to a file
  // this run made; by default durably, never through a link.
  explicit RescueFile(std::string directory, std::string fallback = PrivateRescueFolder(),
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
  // run in both places: they hold records that never reached the log. Only
  // the operator's own files count; those this rescue file and its copies
  // made are this run's, whenever they were made, and are not told. Once the look is done the
  // future holds a line for the operator that names them, empty when there are none. A folder that
  // does not answer delays only the answer.
  std::future<std::string> FindEarlier() const;

 private:
  struct Run;

  bool SaveIn(const std::string& directory, std::string_view lines, std::size_t count);
  enum class WriteKind { kAppend, kReplace };
  // Appends `lines` to this run's file in `directory`, or replaces what it
  // holds with them, on the place's worker, making the file when there is
  // none there yet. The file's path, or an empty text when the write failed
  // or did not answer within kRescueWait.
  std::string WriteIn(const std::string& directory, std::string_view lines, WriteKind kind);
  std::string MadeIn(const std::string& directory) const;
  static std::string MakeFileIn(const std::string& directory, const std::string& stem,
                                bool privateFolder, Run& run);
  static bool ReplaceWhole(const std::string& path, const std::string& bytes,
                           const AppendFunction& append);
  bool Remove(const std::string& path);
  DiskWorker& WorkerFor(const std::string& directory) const;
  // Runs `task` on the worker of the place `directory` and waits kRescueWait
  // for it: true when it answered true by then. The task must own what it
  // touches, as it may outlive the call.
  bool RunAtPlace(const std::string& directory, std::function<bool()> task);
  // The start of this copy's file names, chosen at its first use.
  const std::string& Stem();
  const std::string& Place() const { return preferFallback_ ? fallback_ : directory_; }
  const std::string& OtherPlace() const { return preferFallback_ ? directory_ : fallback_; }

  std::string directory_;
  std::string fallback_;
  AppendFunction append_;
  std::string stem_;  // "VELK_LOG-unsaved-<stamp>-<pid>", chosen at the first save
  std::vector<std::pair<std::string, std::string>> madeIn_;  // folder, this run's file there
  bool preferFallback_ = false;
  // The fallback is the operator's own folder, made at its first use there.
  bool fallbackIsPrivate_;
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
