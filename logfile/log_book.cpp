#include "logfile/log_book.h"

#include <utility>

#include "common/platform.h"

namespace velk {

namespace {

// Writes the kept lines, oldest first, each in its own append, and forgets
// each one as soon as it is in the file. False at the first that fails; it
// and every later one stay kept.
bool WriteKept(const AppendFunction& append, const std::string& path,
               std::deque<std::string>& kept) {
  while (!kept.empty()) {
    if (!append(path, kept.front())) return false;
    kept.pop_front();
  }
  return true;
}

}  // namespace

LogBook::LogBook(AppendFunction append, std::size_t maxKept)
    : append_(append ? std::move(append) : AppendFunction(&platform::AppendWhole)),
      maxKept_(maxKept) {}

bool LogBook::Append(const std::string& path, const LogRecord& record) {
  std::string line = record.Line();
  // A record never overtakes one kept from before: while those cannot be
  // written, this one is not even tried.
  if (WriteKept(append_, path, kept_) && append_(path, line)) return true;

  if (maxKept_ == 0) {
    ++dropped_;
    return false;
  }
  if (kept_.size() >= maxKept_) {
    kept_.pop_front();
    ++dropped_;
  }
  kept_.push_back(std::move(line));
  return false;
}

}  // namespace velk
