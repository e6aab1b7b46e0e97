// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile/log_book.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "common/path.h"
#include "common/platform.h"

namespace velk {

namespace {

using Clock = std::chrono::steady_clock;

// How long the close waits for the rescue file to take what the log has not:
// a save tries two places, kRescueWait each.
constexpr std::chrono::milliseconds kCloseRescueWait = 2 * kRescueWait + kRescueWait / 2;

// How long the close waits for the two threads to end once told to.
constexpr std::chrono::milliseconds kThreadEndWait{50};

const char* const kNoAnswer = "no answer from the file system";

}  // namespace

// Everything the window thread, the writer and the rescuer share, behind one
// mutex that is never held across a disk call. Records are numbered in the
// order they are handed over, from 1.
struct LogBook::Shared {
  Shared(AppendFunction appendTo, std::size_t kept, RescueFile file)
      : append(std::move(appendTo)), maxKept(kept), rescue(std::move(file)) {}

  struct Entry {
    std::uint64_t number = 0;
    std::string line;
    Clock::time_point handed;
  };

  // The writer's call has gone on longer than kNoAnswerWait.
  bool Stuck(Clock::time_point now) const { return call && *call + kNoAnswerWait <= now; }
  bool Failing(Clock::time_point now) const { return failed || Stuck(now); }
  bool AllRescued() const { return waiting.empty() || waiting.back().number <= rescued; }
  // The first waiting record the rescue file does not hold. The waiting
  // records are numbered one after another, so it is found without a search.
  std::deque<Entry>::const_iterator Unrescued() const {
    if (waiting.empty() || rescued < waiting.front().number) return waiting.begin();
    const std::uint64_t held =
        std::min<std::uint64_t>(rescued - waiting.front().number + 1, waiting.size());
    return waiting.begin() + static_cast<std::ptrdiff_t>(held);
  }
  std::string Reason(Clock::time_point now) const { return Stuck(now) ? kNoAnswer : failure; }

  // Runs `change` on the rescue file with the lock released, so that the
  // writer and the window thread go on meanwhile, and reads back which files
  // it holds. Whether `change` succeeded.
  template <typename Change>
  bool ChangeRescueFile(std::unique_lock<std::mutex>& lock, Change change) {
    busy = true;
    lock.unlock();
    const bool done = change(rescue);
    lock.lock();
    busy = false;
    files = rescue.Files();
    return done;
  }

  std::mutex mutex;
  std::condition_variable changed;  // anything below changed

  const AppendFunction append;
  const std::size_t maxKept;
  RescueFile rescue;  // used by the rescuer alone, outside the mutex

  std::string path;              // the log's
  std::deque<Entry> waiting;     // handed over and not in the log, oldest first
  std::uint64_t handed = 0;      // the last record handed over
  std::uint64_t written = 0;     // the last record the log took
  std::uint64_t durable = 0;     // the log's records up to here are on the disk itself
  std::uint64_t rescued = 0;     // waiting records up to here are in the rescue file
  std::uint64_t rescueFrom = 0;  // the oldest record the rescue file holds
  bool rescueHolds = false;      // the rescue file holds records
  bool dropped = false;          // records left in the rescue file alone (kMaxKeptRecords)
  std::size_t writtenSinceTake = 0;

  // The writer's.
  std::optional<Clock::time_point> call;  // when the call in flight began
  std::uint64_t attempts = 0;             // calls finished
  bool failed = false;                    // the last call failed
  Clock::time_point failedAt;             // when it answered
  std::string failure;                    // and why
  Clock::time_point nextRetry;
  bool tryNow = false;  // a new record, or the close: no need to wait for the retry

  // The rescuer's.
  bool busy = false;        // saving or tidying up, outside the mutex
  bool saveFailed = false;  // the last save could not be made anywhere
  Clock::time_point nextSave;
  Clock::time_point nextTidy;
  std::vector<RescueFile::Saved> files;  // a copy of rescue.Files()

  bool closing = false;  // the close wants every waiting record rescued at once
  bool stop = false;
  bool writerDone = false;
  bool rescuerDone = false;
};

LogBook::LogBook(AppendFunction append, std::size_t maxKept, std::optional<RescueFile> rescue)
    : append_(append ? std::move(append) : AppendFunction(&platform::AppendWhole)),
      maxKept_(maxKept),
      rescue_(rescue ? std::move(*rescue) : RescueFile(CurrentDirectory())) {}

LogBook::~LogBook() {
  if (shared_) Close(shared_->path);
}

LogBook::LogBook(LogBook&& other) noexcept
    : append_(std::move(other.append_)),
      maxKept_(other.maxKept_),
      rescue_(std::move(other.rescue_)),
      shared_(std::move(other.shared_)),
      writer_(std::move(other.writer_)),
      rescuer_(std::move(other.rescuer_)) {}

LogBook& LogBook::operator=(LogBook&& other) noexcept {
  if (this == &other) return *this;
  if (shared_) Close(shared_->path);
  append_ = std::move(other.append_);
  maxKept_ = other.maxKept_;
  rescue_ = std::move(other.rescue_);
  shared_ = std::move(other.shared_);
  writer_ = std::move(other.writer_);
  rescuer_ = std::move(other.rescuer_);
  return *this;
}

void LogBook::Start() {
  shared_ = std::make_shared<Shared>(append_, maxKept_, rescue_);
  try {
    writer_ = std::thread(&LogBook::WriteRecords, shared_);
    rescuer_ = std::thread(&LogBook::RescueRecords, shared_);
  } catch (const std::system_error&) {
    // No thread to be had: the records wait in memory, and the close prints
    // those that never got anywhere.
  }
}

void LogBook::Append(const std::string& path, const LogRecord& record) {
  if (!shared_) Start();
  std::string line = record.Line();
  const auto now = Clock::now();
  {
    const std::lock_guard lock(shared_->mutex);
    shared_->path = path;
    shared_->waiting.push_back({++shared_->handed, std::move(line), now});
    shared_->tryNow = true;
  }
  shared_->changed.notify_all();
}

LogBook::Progress LogBook::TakeProgress() {
  if (!shared_) return {};
  const std::lock_guard lock(shared_->mutex);
  Progress progress{shared_->writtenSinceTake, shared_->waiting.size(),
                    shared_->Failing(Clock::now())};
  shared_->writtenSinceTake = 0;
  return progress;
}

std::string LogBook::Note(const std::string& path) const {
  if (!shared_) return path;
  const std::lock_guard lock(shared_->mutex);
  if (shared_->waiting.empty()) return path;
  std::string note = RecordCount(shared_->waiting.size()) + " waiting to be written";
  const auto now = Clock::now();
  if (!shared_->Failing(now)) return note;
  note += " (" + shared_->Reason(now) + ")";
  if (!shared_->files.empty()) {
    note += "; kept in ";
    for (const RescueFile::Saved& file : shared_->files) {
      note += (&file == &shared_->files.front() ? "" : " and ") + file.path;
    }
  } else if (shared_->saveFailed) {
    note += "; no rescue file could be written";
  }
  return note + "; trying again every second";
}

std::string LogBook::Close(const std::string& path) {
  if (!shared_) return {};
  const std::shared_ptr<Shared> shared = std::move(shared_);
  std::unique_lock lock(shared->mutex);
  shared->path = path;
  shared->tryNow = true;
  const std::uint64_t attemptsBefore = shared->attempts;
  shared->changed.notify_all();
  // The last try: over when the log has taken everything, or has failed or
  // stopped answering once more.
  shared->changed.wait_until(lock, Clock::now() + kLastTryWait, [&] {
    return shared->waiting.empty() || shared->Stuck(Clock::now()) ||
           (shared->failed && shared->attempts > attemptsBefore);
  });
  // Whatever still waits goes to the rescue file at once; when all is in the
  // log, the rescue file is taken away.
  shared->closing = true;
  shared->saveFailed = false;
  shared->changed.notify_all();
  shared->changed.wait_until(lock, Clock::now() + kCloseRescueWait, [&] {
    if (shared->busy) return false;
    if (shared->waiting.empty()) return !shared->rescueHolds || shared->dropped;
    return shared->AllRescued() || shared->saveFailed;
  });
  shared->stop = true;
  shared->changed.notify_all();
  shared->changed.wait_until(lock, Clock::now() + kThreadEndWait,
                             [&] { return shared->writerDone && shared->rescuerDone; });
  const bool writerDone = shared->writerDone;
  const bool rescuerDone = shared->rescuerDone;

  const auto now = Clock::now();
  const std::string reason =
      shared->Stuck(now) ? std::string(kNoAnswer) + " in time" : shared->failure;
  std::string notice;
  if (!shared->waiting.empty() || shared->dropped) {
    notice = RescueNotice(shared->files, path, reason);
  }
  std::string unsaved;
  std::size_t unsavedCount = 0;
  for (auto entry = shared->Unrescued(); entry != shared->waiting.end(); ++entry) {
    unsaved += entry->line;
    ++unsavedCount;
  }
  if (unsavedCount > 0) {
    // Nowhere left to write them: the operator's terminal (or the system's
    // journal) is the last place they can still be found.
    notice += "VELK_LOG: " + RecordCount(unsavedCount) + " could not be written to " + path + " (" +
              reason + ") nor to a rescue file; here they are:\n" + unsaved;
  }
  lock.unlock();

  // A thread still held up by a disk owns its share of the state; it ends
  // when the disk answers, or with the process.
  if (writer_.joinable()) writerDone ? writer_.join() : writer_.detach();
  if (rescuer_.joinable()) rescuerDone ? rescuer_.join() : rescuer_.detach();
  return notice;
}

void LogBook::WriteRecords(const std::shared_ptr<Shared>& shared) {
  Shared& s = *shared;
  std::unique_lock lock(s.mutex);
  while (!s.stop) {
    const auto now = Clock::now();
    const bool due = !s.waiting.empty() && (!s.failed || s.tryNow || now >= s.nextRetry);
    if (!due) {
      if (s.durable < s.written && s.rescueHolds && s.rescueFrom <= s.written) {
        // Records about to be taken out of the rescue file must not live in
        // the system's cache alone.
        const std::uint64_t upTo = s.written;
        const std::string path = s.path;
        lock.unlock();
        platform::FlushToDisk(path);
        lock.lock();
        s.durable = upTo;
        s.changed.notify_all();
        continue;
      }
      if (s.written > s.durable && !(s.rescueHolds && s.rescueFrom <= s.written)) {
        s.durable = s.written;  // nothing in the rescue file depends on them
      }
      if (!s.waiting.empty()) {
        s.changed.wait_until(lock, s.nextRetry);
      } else {
        s.changed.wait(lock);
      }
      continue;
    }
    const std::uint64_t number = s.waiting.front().number;
    const std::string line = s.waiting.front().line;
    const std::string path = s.path;
    s.call = now;
    s.tryNow = false;
    lock.unlock();
    s.changed.notify_all();
    platform::AppendOutcome outcome = s.append(path, line);
    lock.lock();
    s.call.reset();
    ++s.attempts;
    if (outcome) {
      // Records dropped meanwhile for kMaxKeptRecords are no longer waiting.
      if (!s.waiting.empty() && s.waiting.front().number == number) s.waiting.pop_front();
      s.written = number;
      ++s.writtenSinceTake;
      s.failed = false;
      s.failure.clear();
    } else {
      s.failed = true;
      s.failure = std::move(outcome.failure);
      s.failedAt = Clock::now();
      s.nextRetry = s.failedAt + kRetryInterval;
    }
    s.changed.notify_all();
  }
  s.writerDone = true;
  s.changed.notify_all();
}

// The rescuer: puts records in the rescue file as soon as the log does not
// take them, and takes them out again once the log has them on its disk.
void LogBook::RescueRecords(const std::shared_ptr<Shared>& shared) {
  Shared& s = *shared;
  std::unique_lock lock(s.mutex);
  while (!s.stop) {
    const auto now = Clock::now();
    const bool all = s.Stuck(now) || s.closing;
    // The records due for the rescue file, in order: those the log refused
    // (a record that came after the last failure gets its own try first),
    // and those that have waited too long.
    std::string lines;
    std::size_t count = 0;
    std::uint64_t last = 0;
    std::optional<Clock::time_point> nextDue;
    if (now >= s.nextSave || s.closing) {
      for (auto entry = s.Unrescued(); entry != s.waiting.end(); ++entry) {
        const bool refused = s.failed && entry->handed <= s.failedAt;
        if (!all && !refused && entry->handed + kNoAnswerWait > now) {
          nextDue = entry->handed + kNoAnswerWait;
          break;
        }
        lines += entry->line;
        ++count;
        last = entry->number;
      }
    }
    if (count > 0) {
      const std::uint64_t first = last + 1 - count;
      const bool saved =
          s.ChangeRescueFile(lock, [&](RescueFile& rescue) { return rescue.Save(lines, count); });
      s.saveFailed = !saved;
      if (saved) {
        if (!s.rescueHolds) s.rescueFrom = first;
        // Some may have reached the log meanwhile, after the writer found
        // nothing in the rescue file that needed them on the disk itself.
        if (first <= s.durable) s.durable = first - 1;
        s.rescueHolds = true;
        s.rescued = last;
        // Memory stays bounded: beyond the limit the oldest stay in the
        // rescue file alone.
        while (s.waiting.size() > s.maxKept && s.waiting.front().number <= s.rescued) {
          s.waiting.pop_front();
          s.dropped = true;
        }
      } else {
        s.nextSave = Clock::now() + kRetryInterval;
      }
      s.changed.notify_all();
      continue;
    }
    // Records the log has on its disk come out of the rescue file.
    if (s.rescueHolds && !s.dropped && s.durable == s.written && s.rescueFrom <= s.durable &&
        (now >= s.nextTidy || s.closing)) {
      lines.clear();
      std::uint64_t oldest = 0;
      for (const Shared::Entry& entry : s.waiting) {
        if (entry.number > s.rescued) break;
        if (count++ == 0) oldest = entry.number;
        lines += entry.line;
      }
      const bool replaced = s.ChangeRescueFile(
          lock, [&](RescueFile& rescue) { return rescue.Replace(lines, count); });
      if (replaced) {
        s.rescueHolds = count > 0;
        s.rescueFrom = oldest;
      } else {
        s.nextTidy = Clock::now() + kRetryInterval;
      }
      s.changed.notify_all();
      continue;
    }
    // Nothing to do until a record has waited kNoAnswerWait, the writer's
    // call has gone on that long, or a save or tidy-up is to be tried again.
    std::optional<Clock::time_point> wake = nextDue;
    const auto sooner = [&](Clock::time_point moment) {
      if (!wake || moment < *wake) wake = moment;
    };
    if (s.call && !s.Stuck(now)) sooner(*s.call + kNoAnswerWait);
    if (s.saveFailed && !s.AllRescued()) sooner(s.nextSave);
    if (s.rescueHolds && now < s.nextTidy) sooner(s.nextTidy);
    if (wake) {
      s.changed.wait_until(lock, *wake);
    } else {
      s.changed.wait(lock);
    }
  }
  s.rescuerDone = true;
  s.changed.notify_all();
}

}  // namespace velk
