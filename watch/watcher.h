// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The decode watcher: started by a click on "Go", it follows the decode file
// for the rest of the run. Each pass polls the file's length; when the file
// has grown, it reads the lines added since the length acted on, dates them
// from the file's modification time and, for every line that carries the
// sync marker "*", in order, adds its display line to what the pass shows
// and, while a log is armed, its log record to what the pass logs. It knows
// no window: its owner shows what a pass returns, then yields to the window.
// Which lines are taken, and when, is told in followed_file.h: every line
// written after Go once, and at Go the last line already in the file.
//
// Any failure inside the loop runs the one recovery step: the decode path
// becomes the fallback path, that path is shown above the waiting message,
// and the loop goes on with the next step. The fallback is a second place
// to look for the file, not a one-way door: whenever ALL.TXT is in the
// working directory the loop follows it, and the fallback path only while
// it is not.
//
// A legacy decoder that writes into a folder Windows protects (the fallback
// path's Program Files) has its file stored in the user's VirtualStore
// instead. Of a path with such a copy, the loop follows whichever of the two
// is there, and of both the one written last; the caption shows the path
// actually followed.
//
// The decode file may be on a share that stops answering, for seconds or for
// good. Every call to it (its status, the open and read, its date) is made on
// the watcher's one disk worker and waited for at most kDecodeCallWait. A
// call that has not answered by then is neither a failure nor a change: the
// pass ends there, no other call is made while it is out, and the first pass
// after it has answered takes its answer and goes on from there as if it had
// come at once. A share that never answers holds that one thread. A poll
// of a file with nothing read and not yet taken makes the read its status
// leaves due in the same call, so a decoder's line costs the worker one.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/colour.h"
#include "common/disk_worker.h"
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

// The longest a pass waits for a call to the decode file. Far above what a
// local disk or a share that answers takes, and short enough that a pass
// waiting for one that does not still serves the clock's ticks in time.
inline constexpr std::chrono::milliseconds kDecodeCallWait{20};

// How long the wait for a call's answer lets the window's thread's core go
// to other threads (the disk worker's among them) before it sleeps.
inline constexpr std::chrono::microseconds kAnswerSpin{150};

using WatchClock = std::function<std::chrono::steady_clock::time_point()>;

// What the start of Go changes on the window: the log box turns
// `logFileColour` when a log is already armed; the waiting message and the
// clock are shown and Go is hidden.
struct WatchStart {
  std::optional<Colour> logFileColour;
};

// The recovery's line above the waiting message: the fallback path, put on
// top of StartMsg's caption once, in place of the line put there before.
struct FallbackLine {
  std::string line;      // the path followed at the fallback, and CR LF
  std::string replaces;  // the line shown before, when the path moved

  friend bool operator==(const FallbackLine&, const FallbackLine&) = default;
};

// StartMsg's `caption` with `fallback` on top. A caption that starts with
// the line already is left as it is, so repeated failures never grow it.
std::string CaptionWithFallback(std::string caption, const FallbackLine& fallback);

// What one pass of the loop changed, for the window to show.
struct WatchPass {
  // The recovery ran, or the fallback path followed moved.
  std::optional<FallbackLine> fallback;
  // A line with the marker was taken: Info is shown, StartMsg hidden.
  bool decodeShown = false;
  // The display lines of the pass (each ending in CR LF), for the list.
  std::string displayLines;
  // Their log records, in order; only while a log is armed.
  std::vector<LogRecord> records;

  friend bool operator==(const WatchPass&, const WatchPass&) = default;
};

class DecodeWatcher {
 public:
  // `now` tells the time for the wait on a line without a line end, for the
  // work budget of a pass and for how fast the file grew between polls; the
  // steady clock when empty. Calls to `files` are waited for at most
  // `callWait`; a call that answers later may outlive the watcher, and so
  // shares the access.
  explicit DecodeWatcher(std::shared_ptr<DecodeFileAccess> files, WatchClock now = {},
                         std::chrono::milliseconds callWait = kDecodeCallWait);

  // The start of Go: the decode path in the working directory, and the log
  // box green when a log is already armed.
  WatchStart Start(const std::string& workingDirectory, bool logArmed);

  // One pass of the loop: polls (unless `poll` is false), reads and takes
  // lines; what the window is to show. A failure inside it runs the
  // recovery, reported in `fallback`. A call to the decode file that has not
  // answered ends it early.
  WatchPass RunPass(bool logArmed, bool poll = true);

  // The recovery, for a step of the loop that failed outside a pass (the
  // window's part of it): from now on the fallback path is followed while
  // ALL.TXT is not in the working directory.
  FallbackLine Recover();

  // Whether the next pass has lines to read or take whatever the file does:
  // the yield should then not wait for an event. Not while a call to the
  // decode file is out: its answer is looked for at the next event.
  bool Busy() const { return !outstanding_.valid() && Current().Busy(); }

  // Whether a call to the decode file has not answered yet.
  bool CallOut() const { return outstanding_.valid(); }

  // Whether nothing is under way that a poll could tell more about: no call
  // out, no lines being worked through, no line without its line end
  // waiting, and the latest poll found the file at rest (a growth is judged
  // from there). A pass may then leave the poll out until a change is told.
  bool Quiet() const {
    return !outstanding_.valid() && !Current().Busy() && !Current().HoldsUnendedLine() &&
           !Current().ChangedAtLastPoll();
  }

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
  template <typename Operation>
  void Attempt(Operation&& operation);
  FallbackLine ShowFallbackPath();

  // A path the decode file is looked for at, and its VirtualStore copy.
  struct Place {
    std::string path;
    std::optional<std::string> copy;
  };
  // What a poll found at a place: the file at its path and at its copy.
  struct Seen {
    std::optional<platform::FileStatus> original;
    std::optional<platform::FileStatus> copy;
  };
  // What a poll found: the fallback is looked at only when asked for and
  // nothing is in the working directory.
  struct Polled {
    Seen working;
    std::optional<Seen> fallback;
  };
  // Where a pass goes on after a call's answer.
  enum class Step { kPoll, kRead, kDate, kLines };
  // Applies a call's answer on the window's side; a failed call throws.
  using Answer = std::function<void()>;
  // What a read on the disk worker did: its outcome, and the file's date
  // when that was due (nullopt inside when it could not be had).
  struct ReadDone {
    FollowedFile::ReadOutcome outcome = FollowedFile::ReadOutcome::kRead;
    std::optional<std::optional<std::string>> date;
  };
  // The poll's read ahead: a copy of the file in the working directory with
  // the poll's status applied, when it was found, and, when that left a read
  // due, the read made in the same call.
  struct Ahead {
    FollowedFile file;
    std::optional<ReadDone> read;
  };

  Place PlaceOf(std::string path);
  static Seen Look(DecodeFileAccess& files, const Place& place);
  static Polled LookAll(DecodeFileAccess& files, const Place& working,
                        const std::optional<Place>& fallback);
  static std::optional<platform::FileStatus> Choose(FollowedFile& file, const Place& place,
                                                    const Seen& seen);

  const FollowedFile& Current() const { return onFallback_ ? atFallback_ : inWorkingDirectory_; }
  FollowedFile& Current() { return onFallback_ ? atFallback_ : inWorkingDirectory_; }

  // Makes `call` on the disk worker and takes its answer; false when it has
  // not answered within callWait_: the pass ends, and the pass that finds it
  // answered goes on from `next`.
  bool Call(std::function<Answer()> call, Step next);
  // The step to go on from, once a call out has answered; nullopt while it
  // has not.
  std::optional<Step> TakeAnswer();
  // The pass from `from` on, up to its end or a call not answered.
  void RunFrom(Step from, bool logArmed);
  bool Poll();
  static void ReadAheadOf(DecodeFileAccess& files, const Place& working, const Seen& seen,
                          Ahead& ahead, std::chrono::steady_clock::time_point now);
  void ActOnPoll(const Polled& found, std::optional<Ahead> ahead);
  bool Read(FollowedFile& file);
  static ReadDone ReadWithDate(DecodeFileAccess& files, FollowedFile& file,
                               std::chrono::steady_clock::time_point now);
  void TakeRead(const ReadDone& done);
  bool DateFromFile(FollowedFile& file);
  void TakeDate(const std::optional<std::string>& date);
  void TakeLines(FollowedFile& file, bool logArmed);
  void ShowSelectedLine(bool logArmed);

  std::shared_ptr<DecodeFileAccess> files_;
  WatchClock now_;
  std::chrono::milliseconds callWait_;
  // Makes the calls to the decode file, one at a time.
  DiskWorker worker_;
  // A call that has not answered in time, and where its pass goes on.
  DiskReply<Answer> outstanding_;
  Step afterOutstanding_ = Step::kPoll;
  // What the poll's read ahead did, taken at the pass's read step.
  std::optional<ReadDone> readAhead_;
  FollowedFile inWorkingDirectory_;
  FollowedFile atFallback_{std::string(kFallbackDecodePath)};
  Place working_;
  Place fallback_{std::string(kFallbackDecodePath), std::nullopt};
  bool onFallback_ = false;
  std::string fallbackLineShown_;  // the line the recovery put above the caption
  WatchPass pass_;                 // what the pass under way changed
  LineSummary lastLine_;
  std::string fileDate_;
};

}  // namespace velk
