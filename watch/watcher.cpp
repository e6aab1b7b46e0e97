// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/watcher.h"

#include <exception>
#include <stdexcept>
#include <thread>
#include <utility>

#include "common/path.h"

namespace velk {

namespace {

// A file access that reported failure; handled like any failed step.
class FileStepFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whether `answer` came within `wait`. A disk that answers does so in tens
// of microseconds: for the first kAnswerSpin the window's thread lets others
// run rather than sleep, so the answer needs no wake-up of its own, which can
// cost more than the call and move the thread to another core.
template <typename Result>
bool AnsweredWithin(const DiskReply<Result>& answer, std::chrono::milliseconds wait) {
  const auto start = std::chrono::steady_clock::now();
  const auto spinEnd = start + kAnswerSpin;
  while (!answer.Ready()) {
    if (std::chrono::steady_clock::now() >= spinEnd) return answer.WaitUntil(start + wait);
    std::this_thread::yield();
  }
  return true;
}

}  // namespace

DecodeWatcher::DecodeWatcher(std::shared_ptr<DecodeFileAccess> files, WatchClock now,
                             std::chrono::milliseconds callWait)
    : files_(std::move(files)),
      now_(now ? std::move(now) : WatchClock(&std::chrono::steady_clock::now)),
      callWait_(callWait) {}

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

template <typename Operation>
void DecodeWatcher::Attempt(Operation&& operation) {
  try {
    std::forward<Operation>(operation)();
  } catch (const std::exception&) {
    FallbackLine shown = Recover();
    if (pass_.fallback) shown.replaces = pass_.fallback->replaces;
    pass_.fallback = std::move(shown);
  }
}

// A failed poll leaves nothing to read, so the pass ends there.
WatchPass DecodeWatcher::RunPass(bool logArmed, bool poll) {
  if (const std::optional<Step> from = TakeAnswer()) {
    RunFrom(*from == Step::kPoll && !poll ? Step::kRead : *from, logArmed);
  }
  return std::exchange(pass_, WatchPass{});
}

// Each call to the disk is a step a pass may end at; the pass that takes its
// answer goes on with the step after it.
void DecodeWatcher::RunFrom(Step from, bool logArmed) {
  if (from == Step::kPoll && !Poll()) return;
  FollowedFile& file = Current();
  if (from <= Step::kRead) {
    if (readAhead_) {
      TakeRead(*std::exchange(readAhead_, std::nullopt));
    } else {
      if (!file.HasWork(now_())) return;
      if (file.NeedsRead() && !Read(file)) return;
    }
  }
  if (from <= Step::kDate && file.DateDue()) {
    file.DateRead();
    if (!DateFromFile(file)) return;
  }
  TakeLines(file, logArmed);
}

// The answer of a call out is taken once it has come, and applied as if it
// had come within the pass that made the call; a failed call runs the
// recovery as it would have there.
std::optional<DecodeWatcher::Step> DecodeWatcher::TakeAnswer() {
  if (!outstanding_.valid()) return Step::kPoll;
  if (!outstanding_.Ready()) return std::nullopt;
  DiskReply<Answer> answer = std::move(outstanding_);
  Attempt([&answer] { answer.get()(); });
  return afterOutstanding_;
}

// A call the worker cannot take (no thread to be had) is no answer either:
// the next pass makes it again.
bool DecodeWatcher::Call(std::function<Answer()> call, Step next) {
  DiskReply<Answer> answer = worker_.Start(std::move(call));
  if (!answer.valid()) return false;
  if (!AnsweredWithin(answer, callWait_)) {
    outstanding_ = std::move(answer);
    afterOutstanding_ = next;
    return false;
  }
  Attempt([&answer] { answer.get()(); });
  return true;
}

DecodeWatcher::Place DecodeWatcher::PlaceOf(std::string path) {
  std::optional<std::string> copy = files_->VirtualCopyOf(path);
  return Place{std::move(path), std::move(copy)};
}

DecodeWatcher::Seen DecodeWatcher::Look(DecodeFileAccess& files, const Place& place) {
  Seen seen{files.Status(place.path), std::nullopt};
  if (place.copy) seen.copy = files.Status(*place.copy);
  return seen;
}

// On the disk worker: the fallback only when ALL.TXT is not in the working
// directory.
DecodeWatcher::Polled DecodeWatcher::LookAll(DecodeFileAccess& files, const Place& working,
                                             const std::optional<Place>& fallback) {
  Polled found{Look(files, working), std::nullopt};
  if (fallback && !found.working.original && !found.working.copy) {
    found.fallback = Look(files, *fallback);
  }
  return found;
}

// The status of the file followed at `place`, moving `file` to the copy or
// back when the other one is the file to follow now: the one that is there,
// and of both the one written last (on a tie the one followed already).
std::optional<platform::FileStatus> DecodeWatcher::Choose(FollowedFile& file, const Place& place,
                                                          const Seen& seen) {
  const std::optional<platform::FileStatus>& original = seen.original;
  const std::optional<platform::FileStatus>& copy = seen.copy;
  if (!place.copy) return original;
  if (!original && !copy) return std::nullopt;
  const bool takeCopy =
      !original || (copy && (copy->modified > original->modified ||
                             (copy->modified == original->modified && file.Path() == *place.copy)));
  const std::string& chosen = takeCopy ? *place.copy : place.path;
  if (file.Path() != chosen) file.MoveTo(chosen);
  return takeCopy ? copy : original;
}

// A poll of a file with nothing read and not yet taken also makes the read
// that the status it finds leaves due, in the same call: a decoder's line
// costs the worker one call, not two.
bool DecodeWatcher::Poll() {
  const std::optional<Place> fallback =
      onFallback_ ? std::optional<Place>(fallback_) : std::nullopt;
  std::optional<Ahead> ahead;
  if (!inWorkingDirectory_.Busy()) ahead = Ahead{inWorkingDirectory_, std::nullopt};
  return Call(
      [this, files = files_, working = working_, fallback, ahead = std::move(ahead),
       now = now_()]() mutable -> Answer {
        Polled found = LookAll(*files, working, fallback);
        if (ahead) ReadAheadOf(*files, working, found.working, *ahead, now);
        return [this, found = std::move(found), ahead = std::move(ahead)]() mutable {
          ActOnPoll(found, std::move(ahead));
        };
      },
      Step::kRead);
}

// On the disk worker, on the copy.
void DecodeWatcher::ReadAheadOf(DecodeFileAccess& files, const Place& working, const Seen& seen,
                                Ahead& ahead, std::chrono::steady_clock::time_point now) {
  const std::optional<platform::FileStatus> status = Choose(ahead.file, working, seen);
  if (!status) return;
  ahead.file.Found(*status, now);
  if (ahead.file.NeedsRead()) ahead.read = ReadWithDate(files, ahead.file, now);
}

// ALL.TXT in the working directory is followed whenever it is there; the
// fallback path only after a recovery, and only while ALL.TXT is not there.
void DecodeWatcher::ActOnPoll(const Polled& found, std::optional<Ahead> ahead) {
  if (ahead && (found.working.original || found.working.copy)) {
    onFallback_ = false;
    inWorkingDirectory_ = std::move(ahead->file);
    readAhead_ = ahead->read;
    return;
  }
  std::optional<platform::FileStatus> status = Choose(inWorkingDirectory_, working_, found.working);
  if (status) {
    onFallback_ = false;
    inWorkingDirectory_.Found(*status, now_());
    return;
  }
  inWorkingDirectory_.NotFound(now_());
  if (!onFallback_) throw FileStepFailed("the decode file is not there");
  // A recovery that came while the poll was out: the fallback is looked at
  // by the next poll.
  if (!found.fallback) throw FileStepFailed("the fallback path was not looked at yet");
  const std::string followed = atFallback_.Path();
  status = Choose(atFallback_, fallback_, *found.fallback);
  if (atFallback_.Path() != followed) pass_.fallback = ShowFallbackPath();
  if (!status) {
    atFallback_.NotFound(now_());
    throw FileStepFailed("the decode file is not at the fallback path either");
  }
  atFallback_.Found(*status, now_());
}

// The read is made on a copy of what the file followed knows, which takes
// its place once it answers: until then nothing else touches the file. The
// date, when due, is asked in the same call. A read that fails takes
// nothing: it is tried again at the next pass.
bool DecodeWatcher::Read(FollowedFile& file) {
  const bool atFallback = &file == &atFallback_;
  return Call(
      [this, files = files_, reading = file, now = now_(), atFallback]() mutable -> Answer {
        const ReadDone done = ReadWithDate(*files, reading, now);
        return [this, read = std::move(reading), done, atFallback]() mutable {
          (atFallback ? atFallback_ : inWorkingDirectory_) = std::move(read);
          TakeRead(done);
        };
      },
      Step::kDate);
}

DecodeWatcher::ReadDone DecodeWatcher::ReadWithDate(DecodeFileAccess& files, FollowedFile& file,
                                                    std::chrono::steady_clock::time_point now) {
  ReadDone done{file.Read(files, now), std::nullopt};
  if (file.DateDue()) {
    file.DateRead();
    done.date = files.ModificationDate(file.Path());
  }
  return done;
}

void DecodeWatcher::TakeRead(const ReadDone& done) {
  Attempt([&done] {
    if (done.outcome == FollowedFile::ReadOutcome::kFailed) {
      throw FileStepFailed("the decode file could not be read");
    }
  });
  if (done.date) Attempt([this, &done] { TakeDate(*done.date); });
}

void DecodeWatcher::TakeDate(const std::optional<std::string>& date) {
  if (!date) throw FileStepFailed("the decode file's date is unknown");
  fileDate_ = *date;
}

bool DecodeWatcher::DateFromFile(FollowedFile& file) {
  return Call(
      [this, files = files_, path = file.Path()]() -> Answer {
        return [this, date = files->ModificationDate(path)] { TakeDate(date); };
      },
      Step::kLines);
}

// The lines read, in order, for as long as the pass's budget lasts; what is
// left is taken at the next pass.
void DecodeWatcher::TakeLines(FollowedFile& file, bool logArmed) {
  const WatchClock::result_type end = now_() + kPassWorkBudget;
  while (std::optional<LineSummary> line = file.NextLine(now_())) {
    lastLine_ = std::move(*line);
    if (lastLine_.hasMarker) ShowSelectedLine(logArmed);
    if (now_() >= end) break;
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
