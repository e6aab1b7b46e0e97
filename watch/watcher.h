// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The decode watcher: started by a click on "Go", it follows the decode file
// for the rest of the run. Each pass polls the file's length; when the file
// has grown, it reads the lines added since the length acted on, dates them
// from the file's modification time and, for every line that carries the
// sync marker "*", in order, appends its display line to the list and hands
// its log record to the log while one is armed. Then it yields to the window.
// Which lines are taken, and when, is told in followed_file.h: every line
// written after Go once, and at Go the last line already in the file.
//
// Any failure inside the loop runs the one recovery step: the decode path
// becomes the fallback path, that path is shown above the waiting message,
// and the loop goes on with the next step. The fallback is a second place
// to look, not a one-way door: whenever ALL.TXT is in the working directory
// the loop follows it, and the fallback path only while it is not.
//
// A legacy decoder that writes into a folder Windows protects (the fallback
// path's Program Files) has its file kept in the user's VirtualStore
// instead. Of a path with such a copy, the loop follows whichever of the two
// is there, and of both the one written last; the caption shows the path
// actually followed.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/colour.h"
#include "watch/decode_file.h"
#include "watch/decode_line.h"
#include "watch/followed_file.h"
#include "watch/last_line.h"

namespace velk {

inline constexpr std::string_view kDecodeFileName = "ALL.TXT";
// The decode file the decoder writes in `directory`.
std::string DecodePathIn(const std::string& directory);
inline constexpr std::string_view kFallbackDecodePath = "C:\\Program Files\\VELK\\ALL.TXT";
inline constexpr std::string_view kWaitingCaption = "Waiting for first file update....";

// The longest a pass goes on taking lines before it yields; a large growth
// is worked through in slices, one or more per pass.
inline constexpr std::chrono::milliseconds kPassWorkBudget{2};

using WatchClock = std::function<std::chrono::steady_clock::time_point()>;

// What the watcher does to the window, and the window's yield. A control
// operation that throws counts as a failed step.
class WatchWindow {
 public:
  virtual ~WatchWindow() = default;

  virtual bool LogArmed() const = 0;  // LogFlag is 1
  virtual void SetLogFileColour(Colour colour) = 0;
  virtual void ShowStartMsg() = 0;
  virtual void HideStartMsg() = 0;
  virtual std::string StartMsgCaption() const = 0;
  virtual void SetStartMsgCaption(const std::string& caption) = 0;
  virtual void ShowTimeNow() = 0;
  virtual void HideGo() = 0;
  virtual void ShowInfo() = 0;
  // Appends a display line (ending in CR LF) at the end of the list.
  virtual void AppendInfo(std::string_view displayLine) = 0;
  // The log's append step for one selected decode; run only while armed. It
  // deals with a log file that cannot be written itself.
  virtual void AppendLogRecord(const LogRecord& record) = 0;
  // Lets the window process its pending events, waiting for one when none is
  // pending. Returns false once the window is closing: the loop then ends.
  virtual bool Yield() = 0;
};

class DecodeWatcher {
 public:
  // `now` tells the time for the wait on a line without a line end, for the
  // work budget of a pass and for how fast the file grew between polls; the
  // steady clock when empty.
  DecodeWatcher(WatchWindow& window, DecodeFileAccess& files, WatchClock now = {});

  // The start of Go: the decode path in the working directory, the log box
  // green when a log is already armed, the waiting message and the clock
  // shown, Go hidden.
  void Start(const std::string& workingDirectory);

  // One pass of the loop, ending with the yield. Returns false when the
  // window is closing.
  bool RunPass();

  // Start, then passes until the window closes.
  void Run(const std::string& workingDirectory);

  // Whether the next pass has lines to read or take whatever the file does:
  // the yield should then not wait for an event.
  bool Busy() const { return Current().Busy(); }

  // The path followed now: ALL.TXT in the working directory, or the
  // fallback path after a recovery while ALL.TXT is not there (or the
  // VirtualStore copy of either).
  const std::string& DecodePath() const { return Current().Path(); }
  // The file length acted on at that path.
  std::uint64_t LastSize() const { return Current().LengthActedOn(); }
  // The line taken last, and the decode file's date for it.
  const LineSummary& CurrentLastLine() const { return lastLine_; }
  const std::string& FileDate() const { return fileDate_; }

 private:
  // Runs one step; a failure runs the recovery and the loop continues.
  template <typename Step>
  void Attempt(Step&& step);
  void Recover();
  void ShowFallbackPath();

  // A path the decode file is looked for at, and its VirtualStore copy.
  struct Place {
    std::string path;
    std::optional<std::string> copy;
  };
  Place PlaceOf(std::string path);
  std::optional<platform::FileStatus> Look(FollowedFile& file, const Place& place);

  const FollowedFile& Current() const { return onFallback_ ? atFallback_ : inWorkingDirectory_; }
  FollowedFile& Current() { return onFallback_ ? atFallback_ : inWorkingDirectory_; }

  void Poll();
  void ActOnGrowth(FollowedFile& file);
  void Read(FollowedFile& file);
  void DateFromFile(const std::string& path);
  void TakeLine(LineSummary line);
  void ShowSelectedLine();

  WatchWindow& window_;
  DecodeFileAccess& files_;
  WatchClock now_;
  FollowedFile inWorkingDirectory_;
  FollowedFile atFallback_{std::string(kFallbackDecodePath)};
  Place working_;
  Place fallback_{std::string(kFallbackDecodePath), std::nullopt};
  bool onFallback_ = false;
  std::string fallbackLineShown_;  // the line the recovery put above the caption
  LineSummary lastLine_;
  std::string fileDate_;
};

}  // namespace velk
