// SPDX-License-Identifier: GPL-3.0-or-later
#include "logfile/rescue_file.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "common/path.h"

namespace velk {

namespace {

// "VELK_LOG-unsaved-20090822-071259.TXT" for this moment, in local time.
std::string RescueFileName() {
  const std::tm now = platform::LocalTime(std::time(nullptr));
  std::array<char, 32> stamp{};
  std::strftime(stamp.data(), stamp.size(), "%Y%m%d-%H%M%S", &now);
  return std::string(kRescuePrefix) + stamp.data() + ".TXT";
}

// A path from UTF-8 text, whatever the system's code page.
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Runs `task` on a thread of its own, left to end on its own (or with the
// process); the future holds what it returns, and waits for nothing when it
// goes. With no thread to be had, runs it here: better late than lost.
template <typename Result>
std::future<Result> RunDetached(std::function<Result()> task) {
  auto job = std::make_shared<std::packaged_task<Result()>>(std::move(task));
  std::future<Result> result = job->get_future();
  try {
    std::thread([job] { (*job)(); }).detach();
  } catch (const std::system_error&) {
    (*job)();
  }
  return result;
}

// Runs `task` on a thread of its own and waits kRescueWait for it: true when
// it answered true by then. A task still running is left to end on its own
// (or with the process), so it must own everything it touches.
bool DoneInTime(std::function<bool()> task) {
  std::future<bool> done = RunDetached(std::move(task));
  if (done.wait_for(kRescueWait) != std::future_status::ready) return false;
  try {
    return done.get();
  } catch (...) {
    return false;
  }
}

}  // namespace

struct RescueFile::Run {
  std::mutex mutex;
  std::vector<std::string> names;  // given to this run's rescue files

  void Add(const std::string& name) {
    const std::lock_guard lock(mutex);
    names.push_back(name);
  }
  bool Own(const std::string& name) {
    const std::lock_guard lock(mutex);
    return std::find(names.begin(), names.end(), name) != names.end();
  }
};

std::string RecordCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " record" : " records");
}

std::string TemporaryDirectory() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) return {};
  // Windows names it with a separator at its end; a file joined to it would
  // then carry two.
  if (folder.has_relative_path() && !folder.has_filename()) folder = folder.parent_path();
  const std::u8string utf8 = folder.u8string();
  return std::string(utf8.begin(), utf8.end());
}

RescueFile::RescueFile(std::string directory, std::string fallback, AppendFunction append)
    : directory_(std::move(directory)),
      fallback_(std::move(fallback)),
      append_(append ? std::move(append) : AppendFunction(&platform::AppendDurably)),
      run_(std::make_shared<Run>()) {}

const std::string& RescueFile::Name() {
  if (name_.empty()) {
    name_ = RescueFileName();
    run_->Add(name_);
  }
  return name_;
}

bool RescueFile::Save(std::string_view lines, std::size_t count) {
  Name();
  if (SaveIn(Place(), lines, count)) return true;
  if (OtherPlace().empty() || !SaveIn(OtherPlace(), lines, count)) return false;
  // A place that failed once, or stopped answering, is not asked first
  // again: each stalled write holds a thread until the share answers.
  preferFallback_ = !preferFallback_;
  return true;
}

bool RescueFile::SaveIn(const std::string& directory, std::string_view lines, std::size_t count) {
  if (directory.empty()) return false;
  // The write owns copies of what it needs: it may outlive this call.
  const std::string path = JoinPath(directory, name_);
  if (!DoneInTime([append = append_, path, bytes = std::string(lines)] {
        return static_cast<bool>(append(path, bytes));
      })) {
    return false;
  }
  auto file = std::find_if(saved_.begin(), saved_.end(),
                           [&](const Saved& saved) { return saved.path == path; });
  if (file == saved_.end()) file = saved_.insert(file, {path, 0});
  file->count += count;
  return true;
}

bool RescueFile::Replace(std::string_view lines, std::size_t count) {
  if (count > 0) {
    // Written whole beside the file, then put in its place.
    const std::string path = JoinPath(Place(), Name());
    const bool replaced = DoneInTime([append = append_, path, bytes = std::string(lines)] {
      const std::string part = path + ".part";
      std::error_code ignored;
      std::filesystem::remove(PathOf(part), ignored);
      return append(part, bytes) && platform::MoveIntoPlace(part, path);
    });
    if (!replaced) {
      // A replacement that answers late must not take away what is saved
      // here meanwhile.
      if (!OtherPlace().empty()) preferFallback_ = !preferFallback_;
      return false;
    }
    std::erase_if(saved_, [&](const Saved& saved) { return saved.path == path; });
    saved_.insert(saved_.begin(), {path, count});
  }
  // The other files hold nothing that is not now in the log or in the
  // replaced file.
  bool removed = true;
  const std::string kept = count > 0 ? saved_.front().path : std::string();
  for (auto file = saved_.begin(); file != saved_.end();) {
    if (file->path != kept && Remove(file->path)) {
      file = saved_.erase(file);
    } else {
      removed = removed && file->path == kept;
      ++file;
    }
  }
  return removed;
}

bool RescueFile::Remove(const std::string& path) {
  return DoneInTime([path] {
    std::error_code error;
    std::filesystem::remove(PathOf(path), error);
    return !error;
  });
}

std::string RescueNotice(const std::vector<RescueFile::Saved>& files, const std::string& logPath,
                         const std::string& reason) {
  std::string notice;
  for (const RescueFile::Saved& saved : files) {
    notice += "VELK_LOG: " + RecordCount(saved.count) + " could not be written to " + logPath;
    if (!reason.empty()) notice += " (" + reason + ")";
    notice += "; saved in " + saved.path + "\n";
  }
  return notice;
}

std::future<std::string> RescueFile::LookForEarlier() const {
  return RunDetached<std::string>([places = std::vector{directory_, fallback_}, run = run_] {
    std::vector<std::string> found;
    for (const std::string& folder : places) {
      if (folder.empty()) continue;
      std::error_code error;
      for (std::filesystem::directory_iterator entry(PathOf(folder), error), end;
           !error && entry != end; entry.increment(error)) {
        const std::u8string utf8 = entry->path().filename().u8string();
        const std::string name(utf8.begin(), utf8.end());
        const bool earlier =
            name.starts_with(kRescuePrefix) && name.ends_with(".TXT") && !run->Own(name);
        if (!earlier) continue;
        const std::string path = JoinPath(folder, name);
        if (std::find(found.begin(), found.end(), path) == found.end()) found.push_back(path);
      }
    }
    if (found.empty()) return std::string();
    std::sort(found.begin(), found.end());
    std::string notice =
        found.size() == 1
            ? "VELK_LOG: a rescue file from an earlier run holds records not in the log:"
            : "VELK_LOG: rescue files from earlier runs hold records not in the log:";
    for (const std::string& path : found) notice += " " + path;
    return notice;
  });
}

}  // namespace velk
