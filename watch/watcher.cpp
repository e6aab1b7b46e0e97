#include "watch/watcher.h"

#include <exception>
#include <stdexcept>
#include <utility>

namespace velk {

namespace {

// A file access that reported failure; handled like any failed step.
class FileStepFailed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The line put above the waiting message by the recovery.
std::string FallbackLine() {
  std::string line(kFallbackDecodePath);
  line += "\r\n";
  return line;
}

}  // namespace

DecodeWatcher::DecodeWatcher(WatchWindow& window, DecodeFileAccess& files, WatchClock now)
    : window_(window),
      files_(files),
      now_(now ? std::move(now) : WatchClock(&std::chrono::steady_clock::now)) {}

// The recovery covers the loop only: what fails here reaches the caller.
void DecodeWatcher::Start(const std::string& workingDirectory) {
  decodePath_ = JoinPath(workingDirectory, std::string(kDecodeFileName));
  if (window_.LogArmed()) window_.SetLogFileColour(kBrightGreen);
  window_.ShowStartMsg();
  window_.ShowTimeNow();
  lastSize_ = 0;
  window_.HideGo();
}

// A failed poll leaves the current length as it was, so the pass goes
// straight on to the yield.
bool DecodeWatcher::RunPass() {
  Attempt([this] { PollLength(); });
  if (currentLength_ > lastSize_) ActOnGrowth();
  bool open = true;
  Attempt([this, &open] { open = window_.Yield(); });
  return open;
}

void DecodeWatcher::Run(const std::string& workingDirectory) {
  Start(workingDirectory);
  while (RunPass()) {
  }
}

template <typename Step>
void DecodeWatcher::Attempt(Step&& step) {
  try {
    std::forward<Step>(step)();
  } catch (const std::exception&) {
    Recover();
  }
}

void DecodeWatcher::Recover() {
  decodePath_ = std::string(kFallbackDecodePath);
  unended_.reset();  // it was read from the other path
  // The fallback line goes above the caption once; repeated failures leave
  // the caption as it is, so it never grows. A window that fails even here
  // keeps its caption: there is nothing further to fall back on.
  try {
    const std::string fallbackLine = FallbackLine();
    const std::string caption = window_.StartMsgCaption();
    if (!caption.starts_with(fallbackLine)) window_.SetStartMsgCaption(fallbackLine + caption);
  } catch (const std::exception&) {
  }
}

void DecodeWatcher::PollLength() {
  const std::optional<std::uint64_t> length = files_.Length(decodePath_);
  if (!length) throw FileStepFailed("the decode file's length is unknown");
  currentLength_ = *length;
}

void DecodeWatcher::ActOnGrowth() {
  std::optional<LastLineRead> read = SettledRead();
  if (!read) return;  // a line still being written: looked at again next pass
  lastSize_ = currentLength_;
  Attempt([this, &read] { TakeLastLine(*read); });
  Attempt([this] { DateFromFile(); });
  if (lastLine_.hasMarker) ShowSelectedLine();
}

// The last line of the decode file, or nullopt while it has no line end and
// the file has not kept its length for kUnendedLineWait since it was read.
std::optional<LastLineRead> DecodeWatcher::SettledRead() {
  if (unended_ && unended_->polledLength == currentLength_) {
    if (now_() - unended_->seen < kUnendedLineWait) return std::nullopt;
    LastLineRead read = std::move(unended_->read);
    unended_.reset();
    return read;
  }
  unended_.reset();
  LastLineRead read{true, std::nullopt};
  try {
    // Only as far as the length polled: a decode appended since is taken at
    // the next pass, as a growth of its own.
    read = files_.ReadLastLine(decodePath_, currentLength_);
  } catch (const std::exception&) {
    // reported as the failed read it is
  }
  if (read.failed || !read.line || read.lineEnded) return read;
  unended_ = UnendedLine{currentLength_, now_(), std::move(read)};
  return std::nullopt;
}

void DecodeWatcher::TakeLastLine(LastLineRead& read) {
  if (read.failed) throw FileStepFailed("the decode file could not be read");
  // An empty file has no line: the last line keeps what it held.
  if (read.line) lastLine_ = std::move(*read.line);
}

void DecodeWatcher::DateFromFile() {
  std::optional<std::string> date = files_.ModificationDate(decodePath_);
  if (!date) throw FileStepFailed("the decode file's date is unknown");
  fileDate_ = std::move(*date);
}

void DecodeWatcher::ShowSelectedLine() {
  Attempt([this] { window_.ShowInfo(); });
  Attempt([this] { window_.HideStartMsg(); });
  DecodeFields fields;
  Attempt([this, &fields] { fields = CutFields(lastLine_.head); });
  Attempt([this, &fields] { window_.AppendInfo(DisplayLine(fileDate_, fields)); });
  // A failed test counts as passed: the record is then appended anyway.
  bool armed = true;
  Attempt([this, &armed] { armed = window_.LogArmed(); });
  if (armed) {
    Attempt([this, &fields] { window_.AppendLogRecord(BuildLogRecord(fields, lastLine_.head)); });
  }
}

}  // namespace velk
