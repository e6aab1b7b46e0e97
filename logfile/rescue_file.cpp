#include "logfile/rescue_file.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <future>
#include <memory>
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
  return std::string("VELK_LOG-unsaved-") + stamp.data() + ".TXT";
}

}  // namespace

std::string RecordCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " record" : " records");
}

bool FinishedBy(std::chrono::steady_clock::time_point deadline, std::function<void()> task) {
  auto job = std::make_shared<std::packaged_task<void()>>(std::move(task));
  std::future<void> finished = job->get_future();
  try {
    std::thread([job] { (*job)(); }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: better late than lost.
    (*job)();
  }
  return finished.wait_until(deadline) == std::future_status::ready;
}

std::string TemporaryDirectory() {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) return {};
  const std::u8string utf8 = folder.u8string();
  return std::string(utf8.begin(), utf8.end());
}

RescueFile::RescueFile(std::string directory, std::string fallback, AppendFunction append)
    : directory_(std::move(directory)),
      fallback_(std::move(fallback)),
      append_(append ? std::move(append) : AppendFunction(&platform::AppendWhole)) {}

bool RescueFile::Save(std::string_view lines, std::size_t count) {
  if (name_.empty()) name_ = RescueFileName();
  if (SaveIn(directory_, lines, count)) return true;
  return !fallback_.empty() && SaveIn(fallback_, lines, count);
}

bool RescueFile::SaveIn(const std::string& directory, std::string_view lines, std::size_t count) {
  // The write owns copies of what it needs: it may outlive this call.
  auto path = std::make_shared<const std::string>(JoinPath(directory, name_));
  auto bytes = std::make_shared<const std::string>(lines);
  auto written = std::make_shared<bool>(false);
  const bool answered = FinishedBy(std::chrono::steady_clock::now() + kRescueWait,
                                   [append = append_, path, bytes, written] {
                                     *written = static_cast<bool>(append(*path, *bytes));
                                   });
  if (!answered || !*written) return false;
  auto file = std::find_if(saved_.begin(), saved_.end(),
                           [&](const Saved& saved) { return saved.path == *path; });
  if (file == saved_.end()) file = saved_.insert(file, {*path, 0});
  file->count += count;
  return true;
}

std::string RescueFile::Notice(const std::string& logPath, const std::string& reason) const {
  std::string notice;
  for (const Saved& saved : saved_) {
    notice += "VELK_LOG: " + RecordCount(saved.count) + " could not be written to " + logPath;
    if (!reason.empty()) notice += " (" + reason + ")";
    notice += "; saved in " + saved.path + "\n";
  }
  return notice;
}

}  // namespace velk
