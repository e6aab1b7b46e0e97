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

// How many names a save tries in one place before it gives up on it.
constexpr int kNamesTried = 100;

// "VELK_LOG-unsaved-20090822-071259-4242" for this moment, in local time,
// and this process.
std::string RescueFileStem() {
  const std::tm now = platform::LocalTime(std::time(nullptr));
  std::array<char, 32> stamp{};
  std::strftime(stamp.data(), stamp.size(), "%Y%m%d-%H%M%S", &now);
  std::string stem(kRescuePrefix);
  stem += stamp.data();
  stem += '-';
  stem += std::to_string(platform::ProcessId());
  return stem;
}

// The `attempt`th name with that stem: "<stem>.TXT", "<stem>-2.TXT", ...
std::string RescueFileName(const std::string& stem, int attempt) {
  std::string name = stem;
  if (attempt > 1) {
    name += '-';
    name += std::to_string(attempt);
  }
  name += ".TXT";
  return name;
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
    const std::string path = JoinPath(folder, name);
    if (name.starts_with(kRescuePrefix) && name.ends_with(".TXT") && !own(name) &&
        platform::IsOwnFile(path)) {
      found.push_back(path);
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

std::string PrivateRescueFolder() {
  return platform::PrivateFolderPath().value_or("");
}

RescueFile::RescueFile(std::string directory, std::string fallback, AppendFunction append)
    : directory_(std::move(directory)),
      fallback_(std::move(fallback)),
      append_(append ? std::move(append) : AppendFunction(&platform::AppendDurablyToOwnFile)),
      fallbackIsPrivate_(!fallback_.empty() && fallback_ == PrivateRescueFolder()),
      run_(std::make_shared<Run>()) {}

DiskWorker& RescueFile::WorkerFor(const std::string& directory) const {
  return directory == fallback_ && fallback_ != directory_ ? run_->fallbackWorker
                                                           : run_->directoryWorker;
}

bool RescueFile::RunAtPlace(const std::string& directory, std::function<bool()> task) {
  return WorkerFor(directory).Run(std::move(task), kRescueWait).value_or(false);
}

const std::string& RescueFile::Stem() {
  if (stem_.empty()) stem_ = RescueFileStem();
  return stem_;
}

std::string RescueFile::MadeIn(const std::string& directory) const {
  for (const auto& [folder, path] : madeIn_) {
    if (folder == directory) return path;
  }
  return {};
}

// On the place's worker. The name is this run's before the file is there, so
// that a look at the place (on the same worker) never takes it for an
// earlier run's.
std::string RescueFile::MakeFileIn(const std::string& directory, const std::string& stem,
                                   bool privateFolder, Run& run) {
  if (privateFolder && !platform::MakePrivateFolder(directory)) return {};
  for (int attempt = 1; attempt <= kNamesTried; ++attempt) {
    const std::string name = RescueFileName(stem, attempt);
    run.Add(name);
    const std::string path = JoinPath(directory, name);
    const platform::Creation creation = platform::CreateNewFile(path);
    if (creation == platform::Creation::kMade) return path;
    if (creation == platform::Creation::kFailed) break;
  }
  return {};
}

std::string RescueFile::WriteIn(const std::string& directory, std::string_view lines,
                                WriteKind kind) {
  const std::string made = MadeIn(directory);
  // The write owns copies of what it needs: it may outlive this call.
  const auto write = [directory, made, kind, append = append_, bytes = std::string(lines),
                      stem = Stem(), privateFolder = directory == fallback_ && fallbackIsPrivate_,
                      run = run_] {
    const std::string path = made.empty() ? MakeFileIn(directory, stem, privateFolder, *run) : made;
    if (path.empty()) return path;
    if (kind == WriteKind::kAppend ? static_cast<bool>(append(path, bytes))
                                   : ReplaceWhole(path, bytes, append)) {
      return path;
    }
    // A file this call made holds nothing of ours: it goes again.
    std::error_code ignored;
    if (made.empty()) std::filesystem::remove(PathOf(path), ignored);
    return std::string();
  };
  const std::string path =
      WorkerFor(directory).Run<std::string>(write, kRescueWait).value_or(std::string());
  if (!path.empty() && made.empty()) madeIn_.emplace_back(directory, path);
  return path;
}

// Written whole beside the file, in a file of this run's own made anew, then
// put in its place in one step.
bool RescueFile::ReplaceWhole(const std::string& path, const std::string& bytes,
                              const AppendFunction& append) {
  const std::string part = path + ".part";
  std::error_code ignored;
  std::filesystem::remove(PathOf(part), ignored);
  return platform::CreateNewFile(part) == platform::Creation::kMade && append(part, bytes) &&
         platform::MoveIntoPlace(part, path);
}

bool RescueFile::Save(std::string_view lines, std::size_t count) {
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
  const std::string path = WriteIn(directory, lines, WriteKind::kAppend);
  if (path.empty()) return false;
  auto file = std::find_if(saved_.begin(), saved_.end(),
                           [&](const Saved& saved) { return saved.path == path; });
  if (file == saved_.end()) file = saved_.insert(file, {path, 0});
  file->count += count;
  return true;
}

bool RescueFile::Replace(std::string_view lines, std::size_t count) {
  if (count > 0) {
    const std::string path = WriteIn(Place(), lines, WriteKind::kReplace);
    const bool replaced = !path.empty();
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
  std::string place = directory_;
  for (const auto& [folder, made] : madeIn_) {
    if (made == path) place = folder;
  }
  std::erase_if(madeIn_, [&](const auto& made) { return made.second == path; });
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

std::future<std::string> RescueFile::FindEarlier() const {
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
