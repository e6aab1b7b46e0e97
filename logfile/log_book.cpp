// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile/log_book.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "common/path.h"
#include "common/platform.h"
#include "common/sync.h"

namespace velk {

namespace {

using Clock = std::chrono::steady_clock;
using Lock = std::unique_lock<Mutex>;

// How long the close waits for the rescue file to take what the log has not:
// a save tries two places, kRescueWait each.
constexpr std::chrono::milliseconds kCloseRescueWait = 2 * kRescueWait + kRescueWait / 2;

// How long the close waits for the writer and the rescuer to end once told.
constexpr std::chrono::milliseconds kThreadEndWait{50};

const char* const kNoAnswer = "no answer from the file system";

// A record handed over and not yet in the log. Records are numbered in the
// order they are handed over, from 1.
struct Entry {
  std::uint64_t number = 0;
  std::string line;
  Clock::time_point handed;
};

// The records on their way to the log: the window thread adds them, the
// writer takes them off once the log has them.
struct Queue {
  std::string path;           // the log's
  std::deque<Entry> waiting;  // oldest first
  std::uint64_t handed = 0;   // the last record handed over
  std::uint64_t written = 0;  // the last record the log took
  std::size_t writtenSinceTake = 0;
};

// The writer's calls to the log: the one in flight, and how the last ended.
struct LogCalls {
  std::optional<Clock::time_point> since;  // when the call in flight began
  std::uint64_t finished = 0;
  bool failed = false;  // the last call failed
  Clock::time_point failedAt;
  std::string failure;
  Clock::time_point nextRetry;
  bool tryNow = false;  // a new record, or the close: no need to wait for the retry

  // The call in flight has gone on longer than kNoAnswerWait.
  bool Stuck(Clock::time_point now) const { return since && *since + kNoAnswerWait <= now; }
  bool Failing(Clock::time_point now) const { return failed || Stuck(now); }
  std::string Reason(Clock::time_point now) const { return Stuck(now) ? kNoAnswer : failure; }
  bool Due(Clock::time_point now) const { return !failed || tryNow || now >= nextRetry; }
};

// The rescuer's account of what the rescue file holds.
struct RescueAccount {
  std::uint64_t rescued = 0;  // waiting records up to here are in the rescue file
  std::uint64_t from = 0;     // the oldest record the rescue file holds
  bool holds = false;         // the rescue file holds records
  bool dropped = false;       // records left in the rescue file alone (the memory limit)
  bool busy = false;          // saving or tidying up, outside the mutex
  bool saveFailed = false;    // the last save could not be made anywhere
  Clock::time_point nextSave;
  Clock::time_point nextTidy;
  std::vector<RescueFile::Saved> files;  // a copy of the rescue file's Files()
};

// Records due for the rescue file, in order, as one piece.
struct Batch {
  std::string lines;
  std::size_t count = 0;
  std::uint64_t last = 0;
  std::optional<Clock::time_point> nextDue;  // when the next record falls due
  std::uint64_t First() const { return last + 1 - count; }
};

}  // namespace

// What the window thread, the writer and the rescuer share, behind one mutex
// that is never held across a disk call.
struct LogBookState {
  LogBookState(AppendFunction appendTo, std::size_t kept, RescueFile file)
      : append(std::move(appendTo)), maxKept(kept), rescue(std::move(file)) {}

  Mutex mutex;
  ConditionVariable changed;  // anything below changed

  const AppendFunction append;
  const std::size_t maxKept;
  RescueFile rescue;  // used by the rescuer alone, outside the mutex

  Queue queue;
  LogCalls calls;
  std::uint64_t durable = 0;  // the log's records up to here are on the disk itself
  RescueAccount account;

  bool closing = false;  // the close wants every waiting record rescued at once
  bool stop = false;
  bool writerDone = false;
  bool rescuerDone = false;

  bool Failing() const { return calls.Failing(Clock::now()); }
  bool AllRescued() const {
    return queue.waiting.empty() || queue.waiting.back().number <= account.rescued;
  }
  // The first waiting record the rescue file does not hold. The waiting
  // records are numbered one after another, so it is found without a search.
  std::deque<Entry>::const_iterator Unrescued() const {
    const std::deque<Entry>& waiting = queue.waiting;
    if (waiting.empty() || account.rescued < waiting.front().number) return waiting.begin();
    const std::uint64_t held =
        std::min<std::uint64_t>(account.rescued - waiting.front().number + 1, waiting.size());
    return waiting.begin() + static_cast<std::ptrdiff_t>(held);
  }
  // Records the rescue file holds that the log has taken: before they come
  // out of the rescue file they must be on the log's disk itself.
  bool RescuedInLog() const { return account.holds && account.from <= queue.written; }

  // Runs `change` on the rescue file with the lock released, so that the
  // writer and the window thread go on meanwhile, and reads back which files
  // it holds. Whether `change` succeeded.
  template <typename Change>
  bool ChangeRescueFile(Lock& lock, Change change) {
    account.busy = true;
    lock.unlock();
    const bool done = change(rescue);
    lock.lock();
    account.busy = false;
    account.files = rescue.Files();
    changed.notify_all();
    return done;
  }
};

namespace {

using Shared = LogBookState;

// --- the writer ---

void AppendOldest(Shared& s, Lock& lock) {
  const Entry entry = s.queue.waiting.front();
  const std::string path = s.queue.path;
  s.calls.since = Clock::now();
  s.calls.tryNow = false;
  lock.unlock();
  s.changed.notify_all();
  platform::AppendOutcome outcome = s.append(path, entry.line);
  lock.lock();
  s.calls.since.reset();
  ++s.calls.finished;
  if (outcome) {
    // A record dropped meanwhile for the memory limit is no longer waiting.
    std::deque<Entry>& waiting = s.queue.waiting;
    if (!waiting.empty() && waiting.front().number == entry.number) waiting.pop_front();
    s.queue.written = entry.number;
    ++s.queue.writtenSinceTake;
    s.calls.failed = false;
    s.calls.failure.clear();
  } else {
    s.calls.failed = true;
    s.calls.failure = std::move(outcome.failure);
    s.calls.failedAt = Clock::now();
    s.calls.nextRetry = s.calls.failedAt + kRetryInterval;
  }
  s.changed.notify_all();
}

// Records about to be taken out of the rescue file must not live in the
// system's cache alone.
void FlushLog(Shared& s, Lock& lock) {
  const std::uint64_t upTo = s.queue.written;
  const std::string path = s.queue.path;
  lock.unlock();
  platform::FlushToDisk(path);
  lock.lock();
  s.durable = upTo;
  s.changed.notify_all();
}

void WaitForTheWritersWork(Shared& s, Lock& lock) {
  // Nothing in the rescue file depends on these being on the disk itself.
  if (s.queue.written > s.durable && !s.RescuedInLog()) s.durable = s.queue.written;
  if (s.queue.waiting.empty()) {
    s.changed.wait(lock);
  } else {
    s.changed.wait_until(lock, s.calls.nextRetry);
  }
}

// --- the rescuer ---

// The records due for the rescue file: those the log refused (a record that
// came after the last failure gets its own try first), and those that have
// waited too long; with the log stuck or the book closing, all.
Batch DueForRescue(const Shared& s, Clock::time_point now) {
  Batch batch;
  if (now < s.account.nextSave && !s.closing) return batch;
  const bool all = s.calls.Stuck(now) || s.closing;
  for (auto entry = s.Unrescued(); entry != s.queue.waiting.end(); ++entry) {
    const bool refused = s.calls.failed && entry->handed <= s.calls.failedAt;
    if (!all && !refused && entry->handed + kNoAnswerWait > now) {
      batch.nextDue = entry->handed + kNoAnswerWait;
      break;
    }
    batch.lines += entry->line;
    ++batch.count;
    batch.last = entry->number;
  }
  return batch;
}

// Memory stays bounded: beyond the limit the oldest stay in the rescue file
// alone.
void DropRescuedBeyondTheLimit(Shared& s) {
  std::deque<Entry>& waiting = s.queue.waiting;
  while (waiting.size() > s.maxKept && waiting.front().number <= s.account.rescued) {
    waiting.pop_front();
    s.account.dropped = true;
  }
}

void SaveToRescueFile(Shared& s, Lock& lock, const Batch& batch) {
  const bool saved = s.ChangeRescueFile(
      lock, [&](RescueFile& rescue) { return rescue.Save(batch.lines, batch.count); });
  RescueAccount& account = s.account;
  account.saveFailed = !saved;
  if (!saved) {
    account.nextSave = Clock::now() + kRetryInterval;
    return;
  }
  if (!account.holds) account.from = batch.First();
  // Some may have reached the log meanwhile, after the writer found nothing
  // in the rescue file that needed them on the disk itself.
  if (batch.First() <= s.durable) s.durable = batch.First() - 1;
  account.holds = true;
  account.rescued = batch.last;
  DropRescuedBeyondTheLimit(s);
}

// Whether the rescue file holds records the log has on its disk.
bool TidyDue(const Shared& s, Clock::time_point now) {
  return s.account.holds && !s.account.dropped && s.durable == s.queue.written &&
         s.account.from <= s.durable && (now >= s.account.nextTidy || s.closing);
}

// Rewrites the rescue file with the waiting records it holds, and nothing
// the log has.
void TidyRescueFile(Shared& s, Lock& lock) {
  Batch kept;
  std::uint64_t oldest = 0;
  for (const Entry& entry : s.queue.waiting) {
    if (entry.number > s.account.rescued) break;
    if (kept.count++ == 0) oldest = entry.number;
    kept.lines += entry.line;
  }
  const bool replaced = s.ChangeRescueFile(
      lock, [&](RescueFile& rescue) { return rescue.Replace(kept.lines, kept.count); });
  if (replaced) {
    s.account.holds = kept.count > 0;
    s.account.from = oldest;
  } else {
    s.account.nextTidy = Clock::now() + kRetryInterval;
  }
}

// Until a record has waited kNoAnswerWait, the writer's call has gone on
// that long, or a save or tidy-up is to be tried again.
void WaitForTheRescuersWork(Shared& s, Lock& lock, const Batch& nothingDue) {
  const auto now = Clock::now();
  std::optional<Clock::time_point> wake = nothingDue.nextDue;
  const auto sooner = [&](Clock::time_point moment) {
    if (!wake || moment < *wake) wake = moment;
  };
  if (s.calls.since && !s.calls.Stuck(now)) sooner(*s.calls.since + kNoAnswerWait);
  if (s.account.saveFailed && !s.AllRescued()) sooner(s.account.nextSave);
  if (s.account.holds && now < s.account.nextTidy) sooner(s.account.nextTidy);
  if (wake) {
    s.changed.wait_until(lock, *wake);
  } else {
    s.changed.wait(lock);
  }
}

// --- the close ---

// Over when the log has taken everything, or has failed or stopped
// answering once more.
void LastTry(Shared& s, Lock& lock) {
  s.calls.tryNow = true;
  const std::uint64_t callsBefore = s.calls.finished;
  s.changed.notify_all();
  s.changed.wait_until(lock, Clock::now() + kLastTryWait, [&] {
    return s.queue.waiting.empty() || s.calls.Stuck(Clock::now()) ||
           (s.calls.failed && s.calls.finished > callsBefore);
  });
}

// Whatever still waits goes to the rescue file at once; when all is in the
// log, the rescue file is taken away.
void RescueTheRest(Shared& s, Lock& lock) {
  s.closing = true;
  s.account.saveFailed = false;
  s.changed.notify_all();
  s.changed.wait_until(lock, Clock::now() + kCloseRescueWait, [&] {
    if (s.account.busy) return false;
    if (s.queue.waiting.empty()) return !s.account.holds || s.account.dropped;
    return s.AllRescued() || s.account.saveFailed;
  });
}

void StopThreads(Shared& s, Lock& lock) {
  s.stop = true;
  s.changed.notify_all();
  s.changed.wait_until(lock, Clock::now() + kThreadEndWait,
                       [&] { return s.writerDone && s.rescuerDone; });
}

// Where the rescue file is, and the records that not even it took: nowhere
// left to write them, the operator's terminal (or the system's journal) is
// the last place they can still be found.
std::string CloseNotice(const Shared& s, const std::string& path) {
  const auto now = Clock::now();
  const std::string reason =
      s.calls.Stuck(now) ? std::string(kNoAnswer) + " in time" : s.calls.failure;
  std::string notice;
  if (!s.queue.waiting.empty() || s.account.dropped) {
    notice = RescueNotice(s.account.files, path, reason);
  }
  std::string unsaved;
  std::size_t unsavedCount = 0;
  for (auto entry = s.Unrescued(); entry != s.queue.waiting.end(); ++entry) {
    unsaved += entry->line;
    ++unsavedCount;
  }
  if (unsavedCount == 0) return notice;
  return notice + "VELK_LOG: " + RecordCount(unsavedCount) + " could not be written to " + path +
         " (" + reason + ") nor to a rescue file; here they are:\n" + unsaved;
}

// The writer: each record into the log, in order, one call at a time.
void WriteRecords(const std::shared_ptr<Shared>& shared) {
  Shared& s = *shared;
  Lock lock(s.mutex);
  while (!s.stop) {
    if (!s.queue.waiting.empty() && s.calls.Due(Clock::now())) {
      AppendOldest(s, lock);
    } else if (s.durable < s.queue.written && s.RescuedInLog()) {
      FlushLog(s, lock);
    } else {
      WaitForTheWritersWork(s, lock);
    }
  }
  s.writerDone = true;
  s.changed.notify_all();
}

// The rescuer: puts records in the rescue file as soon as the log does not
// take them, and takes them out again once the log has them on its disk.
void RescueRecords(const std::shared_ptr<Shared>& shared) {
  Shared& s = *shared;
  Lock lock(s.mutex);
  while (!s.stop) {
    const auto now = Clock::now();
    const Batch due = DueForRescue(s, now);
    if (due.count > 0) {
      SaveToRescueFile(s, lock, due);
    } else if (TidyDue(s, now)) {
      TidyRescueFile(s, lock);
    } else {
      WaitForTheRescuersWork(s, lock, due);
    }
  }
  s.rescuerDone = true;
  s.changed.notify_all();
}

// A thread that has ended is joined; one still held up by a disk owns its
// share of the state and ends when the disk answers, or with the process.
void JoinIfDone(std::thread& thread, bool done) {
  if (!thread.joinable()) return;
  if (done) {
    thread.join();
  } else {
    thread.detach();
  }
}

}  // namespace

LogBook::LogBook(AppendFunction append, std::size_t maxKept, std::optional<RescueFile> rescue)
    : append_(append ? std::move(append) : AppendFunction(&platform::AppendWhole)),
      maxKept_(maxKept),
      rescue_(rescue ? std::move(*rescue) : RescueFile(CurrentDirectory())) {}

LogBook::~LogBook() {
  if (shared_) Close(shared_->queue.path);
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
  if (shared_) Close(shared_->queue.path);
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
    writer_ = std::thread(&WriteRecords, shared_);
    rescuer_ = std::thread(&RescueRecords, shared_);
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
    Queue& queue = shared_->queue;
    queue.path = path;
    queue.waiting.push_back({++queue.handed, std::move(line), now});
    shared_->calls.tryNow = true;
  }
  shared_->changed.notify_all();
}

LogBook::Progress LogBook::TakeProgress() {
  if (!shared_) return {};
  const std::lock_guard lock(shared_->mutex);
  Queue& queue = shared_->queue;
  const Progress progress{queue.writtenSinceTake, queue.waiting.size(), shared_->Failing()};
  queue.writtenSinceTake = 0;
  return progress;
}

std::string LogBook::StatusText(const std::string& path) const {
  if (!shared_) return path;
  const std::lock_guard lock(shared_->mutex);
  const Shared& s = *shared_;
  if (s.queue.waiting.empty()) return path;
  std::string note = RecordCount(s.queue.waiting.size()) + " waiting to be written";
  const auto now = Clock::now();
  if (!s.calls.Failing(now)) return note;
  note += " (" + s.calls.Reason(now) + ")";
  if (!s.account.files.empty()) {
    note += "; kept in ";
    for (const RescueFile::Saved& file : s.account.files) {
      note += (&file == &s.account.files.front() ? "" : " and ") + file.path;
    }
  } else if (s.account.saveFailed) {
    note += "; no rescue file could be written";
  }
  return note + "; trying again every second";
}

std::string LogBook::Close(const std::string& path) {
  if (!shared_) return {};
  const std::shared_ptr<Shared> shared = std::move(shared_);
  Lock lock(shared->mutex);
  shared->queue.path = path;
  LastTry(*shared, lock);
  RescueTheRest(*shared, lock);
  StopThreads(*shared, lock);
  const bool writerDone = shared->writerDone;
  const bool rescuerDone = shared->rescuerDone;
  std::string notice = CloseNotice(*shared, path);
  lock.unlock();
  JoinIfDone(writer_, writerDone);
  JoinIfDone(rescuer_, rescuerDone);
  return notice;
}

}  // namespace velk
