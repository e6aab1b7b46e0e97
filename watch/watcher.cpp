// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/watcher.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "common/path.h"

namespace velk {

namespace {

// A file access that reported failure; handled like any failed step.
class FileStepFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace

DecodeWatcher::DecodeWatcher(DecodeFileAccess& files, WatchClock now)
    : files_(files), now_(now ? std::move(now) : WatchClock(&std::chrono::steady_clock::now)) {}

std::string DecodePathIn(const std::string& directory) {
  return JoinPath(directory, std::string(kDecodeFileName));
}

std::string CaptionWithFallback(std::string caption, const FallbackLine& fallback) {
  if (caption.starts_with(fallback.line)) return caption;
  if (!fallback.replaces.empty() && caption.starts_with(fallback.replaces)) {
    caption.erase(0, fallback.replaces.size());
  }
  return fallback.line + caption;
}

// The recovery covers the loop only: what fails here reaches the caller.
WatchStart DecodeWatcher::Start(const std::string& workingDirectory, bool logArmed) {
  working_ = PlaceOf(DecodePathIn(workingDirectory));
  fallback_ = PlaceOf(std::string(kFallbackDecodePath));
  inWorkingDirectory_ = FollowedFile(working_.path);
  atFallback_ = FollowedFile(fallback_.path);
  onFallback_ = false;
  return WatchStart{logArmed ? std::optional<Colour>(kBrightGreen) : std::nullopt};
}

// A failed poll leaves nothing to read, so the pass ends there.
WatchPass DecodeWatcher::RunPass(bool logArmed) {
  Attempt([this] { Poll(); });
  FollowedFile& file = Current();
  if (file.HasWork(now_())) ActOnGrowth(file, logArmed);
  return std::exchange(pass_, WatchPass{});
}

template <typename Step>
void DecodeWatcher::Attempt(Step&& step) {
  try {
    std::forward<Step>(step)();
  } catch (const std::exception&) {
    FallbackLine shown = Recover();
    if (pass_.fallback) shown.replaces = pass_.fallback->replaces;
    pass_.fallback = std::move(shown);
  }
}

FallbackLine DecodeWatcher::Recover() {
  onFallback_ = true;
  return ShowFallbackPath();
}

// When the path followed at the fallback changes (to its VirtualStore copy
// or back), the line shown is replaced.
FallbackLine DecodeWatcher::ShowFallbackPath() {
  FallbackLine fallback{atFallback_.Path() + "\r\n", fallbackLineShown_};
  fallbackLineShown_ = fallback.line;
  return fallback;
}

DecodeWatcher::Place DecodeWatcher::PlaceOf(std::string path) {
  std::optional<std::string> copy = files_.VirtualCopyOf(path);
  return Place{std::move(path), std::move(copy)};
}

// The status of the file followed at `place`, moving `file` to the copy or
// back when the other one is the file to follow now: the one that is there,
// and of both the one written last (on a tie the one followed already).
std::optional<platform::FileStatus> DecodeWatcher::StatusAt(FollowedFile& file,
                                                            const Place& place) {
  std::optional<platform::FileStatus> original = files_.Status(place.path);
  if (!place.copy) return original;
  std::optional<platform::FileStatus> copy = files_.Status(*place.copy);
  if (!original && !copy) return std::nullopt;
  const bool takeCopy =
      !original || (copy && (copy->modified > original->modified ||
                             (copy->modified == original->modified && file.Path() == *place.copy)));
  const std::string& chosen = takeCopy ? *place.copy : place.path;
  if (file.Path() != chosen) file.MoveTo(chosen);
  return takeCopy ? copy : original;
}

// ALL.TXT in the working directory is followed whenever it is there; the
// fallback path only after a recovery, and only while ALL.TXT is not there.
void DecodeWatcher::Poll() {
  std::optional<platform::FileStatus> status = StatusAt(inWorkingDirectory_, working_);
  if (status) {
    onFallback_ = false;
    inWorkingDirectory_.Found(*status, now_());
    return;
  }
  inWorkingDirectory_.NotFound(now_());
  if (!onFallback_) throw FileStepFailed("the decode file is not there");
  const std::string followed = atFallback_.Path();
  status = StatusAt(atFallback_, fallback_);
  if (atFallback_.Path() != followed) pass_.fallback = ShowFallbackPath();
  if (!status) {
    atFallback_.NotFound(now_());
    throw FileStepFailed("the decode file is not at the fallback path either");
  }
  atFallback_.Found(*status, now_());
}

// The read, the date once per growth, then the lines read, in order, for as
// long as the pass's budget lasts; what is left is taken at the next pass.
void DecodeWatcher::ActOnGrowth(FollowedFile& file, bool logArmed) {
  if (file.NeedsRead()) Attempt([this, &file] { Read(file); });
  if (file.DateDue()) {
    file.DateRead();
    Attempt([this, &file] { DateFromFile(file.Path()); });
  }
  const WatchClock::result_type end = now_() + kPassWorkBudget;
  while (std::optional<LineSummary> line = file.NextLine(now_())) {
    lastLine_ = std::move(*line);
    if (lastLine_.hasMarker) ShowSelectedLine(logArmed);
    if (now_() >= end) break;
  }
}

// A read that fails takes nothing: it is tried again at the next pass.
void DecodeWatcher::Read(FollowedFile& file) {
  if (file.Read(files_, now_()) == FollowedFile::ReadOutcome::kFailed) {
    throw FileStepFailed("the decode file could not be read");
  }
}

void DecodeWatcher::DateFromFile(const std::string& path) {
  std::optional<std::string> date = files_.ModificationDate(path);
  if (!date) throw FileStepFailed("the decode file's date is unknown");
  fileDate_ = std::move(*date);
}

// Each field and rendering is a step of its own: a failure skips only it.
void DecodeWatcher::ShowSelectedLine(bool logArmed) {
  pass_.decodeShown = true;
  DecodeFields fields;
  Attempt([this, &fields] { fields = CutFields(lastLine_.head); });
  Attempt([this, &fields] { pass_.displayLines += DisplayLine(fileDate_, fields); });
  if (logArmed) {
    Attempt([this, &fields] { pass_.records.push_back(BuildLogRecord(fields, lastLine_.head)); });
  }
}

}  // namespace velk
