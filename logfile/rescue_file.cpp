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
#include <utility>

#include "common/disk_worker.h"
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

// The rescue files an earlier run left in `folder`: not named in `own`.
std::vector<std::string> EarlierRescueFiles(const std::string& folder,
                                            const std::function<bool(const std::string&)>& own) {
  std::vector<std::string> found;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(PathOf(folder), error), end;
       !error && entry != end; entry.increment(error)) {
    const std::u8string utf8 = entry->path().filename().u8string();
    const std::string name(utf8.begin(), utf8.end());
    if (name.starts_with(kRescuePrefix) && name.ends_with(".TXT") && !own(name)) {
      found.push_back(JoinPath(folder, name));
    }
  }
  return found;
}

// The line that tells the operator of `paths`; empty when there are none.
std::string EarlierRescueNotice(std::vector<std::string> paths) {
  if (paths.empty()) return {};
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  std::string notice =
      paths.size() == 1
          ? "VELK_LOG: a rescue file from an earlier run holds records not in the log:"
          : "VELK_LOG: rescue files from earlier runs hold records not in the log:";
  for (const std::string& path : paths) notice += " " + path;
  return notice;
}

// A look over several folders, each listed by its own place's worker: the
// last to answer gives the answer.
class EarlierRescueLook {
 public:
  explicit EarlierRescueLook(std::size_t folders) : left_(folders) {}

  std::future<std::string> Answer() { return answer_.get_future(); }

  void Found(std::vector<std::string> paths) {
    const std::lock_guard lock(mutex_);
    found_.insert(found_.end(), paths.begin(), paths.end());
    if (--left_ == 0) answer_.set_value(EarlierRescueNotice(std::move(found_)));
  }

 private:
  std::mutex mutex_;
  std::size_t left_;
  std::vector<std::string> found_;
  std::promise<std::string> answer_;
};

}  // namespace

struct RescueFile::Run {
  // One per place: a place is worked on by its own thread alone. When both
  // places are one folder, its worker is the first.
  DiskWorker directoryWorker;
  DiskWorker fallbackWorker;

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

DiskWorker& RescueFile::WorkerFor(const std::string& directory) const {
  return directory == fallback_ && fallback_ != directory_ ? run_->fallbackWorker
                                                           : run_->directoryWorker;
}

bool RescueFile::RunAtPlace(const std::string& directory, std::function<bool()> task) {
  return WorkerFor(directory).Run(std::move(task), kRescueWait).value_or(false);
}

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
  // again: a stalled write holds that place's worker until the share
  // answers, and the place is not asked at all meanwhile.
  preferFallback_ = !preferFallback_;
  return true;
}

bool RescueFile::SaveIn(const std::string& directory, std::string_view lines, std::size_t count) {
  if (directory.empty()) return false;
  // The write owns copies of what it needs: it may outlive this call.
  const std::string path = JoinPath(directory, name_);
  if (!RunAtPlace(directory, [append = append_, path, bytes = std::string(lines)] {
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
    const bool replaced = RunAtPlace(Place(), [append = append_, path, bytes = std::string(lines)] {
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
  const std::string& place = path == JoinPath(fallback_, name_) ? fallback_ : directory_;
  return RunAtPlace(place, [path] {
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
  std::vector<std::string> places{directory_};
  if (!fallback_.empty() && fallback_ != directory_) places.push_back(fallback_);
  auto look = std::make_shared<EarlierRescueLook>(places.size());
  std::future<std::string> answer = look->Answer();
  for (const std::string& folder : places) {
    const auto listing = [look, folder, run = run_] {
      look->Found(
          EarlierRescueFiles(folder, [&](const std::string& name) { return run->Own(name); }));
    };
    // A place busy with a call is read once that call has answered.
    const bool started = WorkerFor(folder).StartWhenFree<void>(listing).valid();
    if (!started) look->Found({});
  }
  return answer;
}

}  // namespace velk
