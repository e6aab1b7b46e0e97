#include "logfile/log_book.h"

#include <atomic>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "common/path.h"
#include "common/platform.h"

namespace velk {

LogBook::LogBook(AppendFunction append, std::size_t maxKept, std::optional<RescueFile> rescue)
    : append_(append ? std::move(append) : AppendFunction(&platform::AppendWhole)),
      maxKept_(maxKept),
      rescue_(rescue ? std::move(*rescue) : RescueFile(CurrentDirectory())) {}

bool LogBook::Append(const std::string& path, const LogRecord& record) {
  std::string line = record.Line();
  // A record never overtakes one kept from before: while those cannot be
  // written (or are not all written yet), this one is not even tried.
  WriteKept(path);
  if (kept_.empty()) {
    platform::AppendOutcome outcome = append_(path, line);
    if (outcome) return true;
    lastFailure_ = std::move(outcome.failure);
  }
  Keep(std::move(line));
  return false;
}

bool LogBook::RetryDue(TimePoint now) {
  if (kept_.empty()) return false;
  if (!nextRetry_) nextRetry_ = now + kRetryInterval;
  return now >= *nextRetry_;
}

std::size_t LogBook::RetryKept(const std::string& path, TimePoint now) {
  nextRetry_ = now + kRetryInterval;
  return WriteKept(path);
}

std::string LogBook::Note(const std::string& path) const {
  if (kept_.empty()) return path;
  std::string note = RecordCount(kept_.size()) + " waiting to be written";
  if (lastFailure_.empty()) return note;
  return note + " (" + lastFailure_ + "); trying again every second";
}

std::string LogBook::Close(const std::string& path) {
  if (!kept_.empty()) LastTry(path);
  if (!kept_.empty() && rescue_.Save(KeptLines(), kept_.size())) kept_.clear();
  std::string notice = rescue_.Notice(path, lastFailure_);
  if (!kept_.empty()) {
    // Nowhere left to write them: the operator's terminal (or the system's
    // journal) is the last place they can still be found.
    notice += "VELK_LOG: " + RecordCount(kept_.size()) + " could not be written to " + path + " (" +
              lastFailure_ + ") nor to a rescue file; here they are:\n" + KeptLines();
    kept_.clear();
  }
  return notice;
}

// Writes the kept lines, oldest first, each in its own append, and forgets
// each one as soon as it is in the file; stops at the first that fails, or
// when kKeptWriteSlice is over with the next retry due at once. The number
// written.
std::size_t LogBook::WriteKept(const std::string& path) {
  const auto sliceEnd = std::chrono::steady_clock::now() + kKeptWriteSlice;
  std::size_t written = 0;
  while (!kept_.empty()) {
    if (written > 0 && std::chrono::steady_clock::now() >= sliceEnd) {
      lastFailure_.clear();  // nothing failed: they are on their way
      nextRetry_ = TimePoint::min();
      return written;
    }
    platform::AppendOutcome outcome = append_(path, kept_.front());
    if (!outcome) {
      lastFailure_ = std::move(outcome.failure);
      return written;
    }
    kept_.pop_front();
    ++written;
  }
  nextRetry_.reset();
  return written;
}

void LogBook::Keep(std::string line) {
  kept_.push_back(std::move(line));
  // Beyond the limit the oldest goes to the rescue file instead; one that
  // cannot be saved there either stays kept.
  if (kept_.size() > maxKept_ && rescue_.Save(kept_.front(), 1)) kept_.pop_front();
}

// The kept records go to the log as a retry would, but on a thread of their
// own, and only until kLastTryWait is over: a log on a share that has
// stopped answering must not hold the close up. Those the thread has not
// confirmed by then stay kept for the rescue file. The one it is writing at
// that moment may still reach the log later and so stand in both places;
// after it the thread writes nothing more.
void LogBook::LastTry(const std::string& path) {
  struct Job {
    AppendFunction append;
    std::string path;
    std::vector<std::string> lines;
    std::atomic<std::size_t> written{0};
    std::atomic<bool> stop{false};
    std::string failure;  // read only once the thread has finished
  };
  auto job = std::make_shared<Job>();
  job->append = append_;
  job->path = path;
  job->lines.assign(std::make_move_iterator(kept_.begin()), std::make_move_iterator(kept_.end()));
  kept_.clear();

  const bool finished = FinishedBy(std::chrono::steady_clock::now() + kLastTryWait, [job] {
    for (const std::string& line : job->lines) {
      if (job->stop) return;
      platform::AppendOutcome outcome = job->append(job->path, line);
      if (!outcome) {
        job->failure = std::move(outcome.failure);
        return;
      }
      ++job->written;
    }
  });
  job->stop = true;
  if (!finished) lastFailure_ = "no answer from the file system in time";
  if (finished && !job->failure.empty()) lastFailure_ = job->failure;
  // The lines are never changed once the thread has them, so reading them
  // beside it is safe.
  const auto unwritten = job->lines.begin() + static_cast<std::ptrdiff_t>(job->written.load());
  kept_.assign(unwritten, job->lines.end());
}

std::string LogBook::KeptLines() const {
  std::string lines;
  for (const std::string& line : kept_) lines += line;
  return lines;
}

}  // namespace velk
