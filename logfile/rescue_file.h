#pragma once

// Where records that cannot reach the log go instead of being lost: a file
// named for the moment it is first needed, "VELK_LOG-unsaved-<yyyymmdd>-
// <hhmmss>.TXT", in the working directory, or in the system's temporary
// folder when the working directory cannot be written. The records keep the
// log's own layout (whole lines ended by CR LF), in order.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform.h"

namespace velk {

// Writes bytes at the end of a file in one piece, or not at all.
using AppendFunction =
    std::function<platform::AppendOutcome(const std::string& path, std::string_view bytes)>;

// How long one save waits on each of the two places. A directory on a
// network share that has stopped answering can hold a write up for minutes.
inline constexpr std::chrono::milliseconds kRescueWait{200};

// Runs `task` on a thread of its own and waits for it until `deadline`. True
// when it finished by then. A task still running is left to end on its own
// (or with the process), so it must own or share everything it touches.
bool FinishedBy(std::chrono::steady_clock::time_point deadline, std::function<void()> task);

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

  // Appends `lines`, `count` whole records, to the rescue file: in the
  // working directory when it takes them within kRescueWait, else in the
  // fallback folder. False when neither took them. A save that was given up
  // on may still finish later: those records may then stand in both places.
  bool Save(std::string_view lines, std::size_t count);

  // One line per rescue file written to: how many records it holds, that
  // they could not be written to `logPath` (because of `reason`), and the
  // file's path. Empty when nothing was saved.
  std::string Notice(const std::string& logPath, const std::string& reason) const;

 private:
  bool SaveIn(const std::string& directory, std::string_view lines, std::size_t count);

  struct Saved {
    std::string path;
    std::size_t count = 0;
  };

  std::string directory_;
  std::string fallback_;
  AppendFunction append_;
  std::string name_;  // chosen at the first save
  std::vector<Saved> saved_;
};

}  // namespace velk
