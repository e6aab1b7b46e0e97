#include "watch/followed_file.h"

#include <algorithm>
#include <utility>

namespace velk {

FollowedFile::FollowedFile(std::string path) : path_(std::move(path)) {}

void FollowedFile::NotFound() {
  if (seen_ == Seen::kPresent || seen_ == Seen::kNever) seen_ = Seen::kMissing;
}

void FollowedFile::Found(const platform::FileStatus& status) {
  switch (seen_) {
    case Seen::kNever:
      StartNewFile(status, /*lastLineOnly=*/true);
      break;
    case Seen::kMissing:
      StartNewFile(status, /*lastLineOnly=*/false);
      break;
    case Seen::kPresent:
      if (status.identity != identity_ || status.size < length_) {
        StartNewFile(status, /*lastLineOnly=*/false);
      } else {
        Grow(status.size, /*lastLineOnly=*/false);
      }
      break;
  }
  seen_ = Seen::kPresent;
}

void FollowedFile::StartNewFile(const platform::FileStatus& status, bool lastLineOnly) {
  identity_ = status.identity;
  length_ = 0;
  lastLineOnly_ = false;
  readFailed_ = false;
  RestartFromTheStart();
  Grow(status.size, lastLineOnly);
}

void FollowedFile::RestartFromTheStart() {
  readTo_ = 0;
  checkBytes_.clear();
  buffer_.clear();
  position_ = 0;
  ready_.reset();
  splitter_.Reset();
}

void FollowedFile::Grow(std::uint64_t length, bool lastLineOnly) {
  if (length <= length_) return;
  lastLineOnly_ = lastLineOnly_ || lastLineOnly || length - length_ > kLargestGrowthRead;
  length_ = length;
  dateDue_ = true;
  readFailed_ = false;
}

bool FollowedFile::NeedsRead() const {
  return lastLineOnly_ || (!Buffered() && readTo_ < length_);
}

FollowedFile::ReadOutcome FollowedFile::Read(DecodeFileAccess& files, TimePoint now) {
  readFailed_ = true;
  const std::unique_ptr<platform::ReadOnlyFile> file = files.Open(path_);
  if (!file) return ReadOutcome::kFailed;
  const std::optional<platform::FileIdentity> identity = file->Identity();
  if (!identity) return ReadOutcome::kFailed;
  // Replaced since the poll: the next poll finds the new file and reads it
  // from its start. Reading it here, from where the old one was left, would
  // take a piece of it and then the whole of it.
  if (*identity != identity_) return ReadOutcome::kOtherFile;
  const ReadOutcome outcome = lastLineOnly_ ? ReadLastLineOnly(*file, now) : ReadChunk(*file);
  readFailed_ = outcome != ReadOutcome::kRead;
  return outcome;
}

FollowedFile::ReadOutcome FollowedFile::ReadLastLineOnly(platform::ReadOnlyFile& file,
                                                         TimePoint now) {
  LastLineRead read = ReadLastLine(file, kReadChunkBytes, length_);
  if (read.failed) return ReadOutcome::kFailed;
  readTo_ = length_;
  if (!ReadCheckBytes(file)) return ReadOutcome::kFailed;
  lastLineOnly_ = false;
  buffer_.clear();
  position_ = 0;
  ready_.reset();
  if (read.line && read.lineEnded) {
    ready_ = std::move(read.line);
    splitter_.ContinueAfter(std::nullopt, read.endsWithCr);
  } else {
    splitter_.ContinueAfter(std::move(read.line), false);
    unendedSince_ = now;
  }
  return ReadOutcome::kRead;
}

// The bytes just before readTo_, kept to be checked at the next read.
bool FollowedFile::ReadCheckBytes(platform::ReadOnlyFile& file) {
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(readTo_, kRewriteCheckBytes));
  checkBytes_.resize(count);
  const std::optional<std::size_t> got = file.ReadAt(readTo_ - count, checkBytes_.data(), count);
  checkBytes_.resize(got.value_or(0));
  return got.has_value();
}

// Up to one chunk from where the reading stopped, read together with the
// bytes just before it. When those are no longer what was read there, the
// file was cleared and written anew since: it is read from its start. Fewer
// bytes come when the file now ends sooner (it shrank since the poll, which
// the next poll tells); the read simply ends there.
FollowedFile::ReadOutcome FollowedFile::ReadChunk(platform::ReadOnlyFile& file) {
  const std::size_t check = checkBytes_.size();
  const std::uint64_t from = readTo_ - check;
  const auto count =
      check + static_cast<std::size_t>(std::min<std::uint64_t>(length_ - readTo_, kReadChunkBytes));
  buffer_.resize(count);
  const std::optional<std::size_t> got = file.ReadAt(from, buffer_.data(), count);
  if (!got) {
    buffer_.clear();
    return ReadOutcome::kFailed;
  }
  buffer_.resize(*got);
  if (check > 0 && (*got < check || buffer_.compare(0, check, checkBytes_) != 0)) {
    RestartFromTheStart();
    dateDue_ = true;
    return ReadChunk(file);
  }
  readTo_ = from + *got;
  const std::size_t keep = std::min(buffer_.size(), kRewriteCheckBytes);
  if (buffer_.size() > check) checkBytes_.assign(buffer_, buffer_.size() - keep, keep);
  position_ = check;
  if (position_ == buffer_.size()) {
    buffer_.clear();
    position_ = 0;
  }
  return ReadOutcome::kRead;
}

std::optional<LineSummary> FollowedFile::NextLine(TimePoint now) {
  if (ready_) return std::exchange(ready_, std::nullopt);
  if (Buffered()) {
    std::optional<LineSummary> line = splitter_.Next(buffer_, position_);
    if (!Buffered()) {
      buffer_.clear();
      position_ = 0;
      if (!line && splitter_.HoldsUnendedLine()) unendedSince_ = now;
    }
    if (line) return line;
  }
  if (UnendedLineDue(now)) return splitter_.TakeUnendedLine();
  return std::nullopt;
}

bool FollowedFile::UnendedLineDue(TimePoint now) const {
  return !Buffered() && !NeedsRead() && splitter_.HoldsUnendedLine() &&
         now - unendedSince_ >= kUnendedLineWait;
}

bool FollowedFile::HasWork(TimePoint now) const {
  return NeedsRead() || ready_ || Buffered() || UnendedLineDue(now);
}

bool FollowedFile::Busy() const {
  return ready_ || Buffered() || (NeedsRead() && !readFailed_);
}

}  // namespace velk
