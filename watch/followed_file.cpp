// SPDX-License-Identifier: GPL-3.0-or-later
#include "watch/followed_file.h"

#include <algorithm>
#include <utility>

namespace velk {

FollowedFile::FollowedFile(std::string path) : path_(std::move(path)) {}

namespace {

// The most a decoder can have added to its file in `elapsed`.
std::uint64_t DecoderGrowthIn(std::chrono::steady_clock::duration elapsed) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  // Capped far beyond any real gap between polls, so the sum cannot overflow.
  const auto bounded = static_cast<std::uint64_t>(std::clamp<std::int64_t>(ms, 0, 1LL << 40));
  return kDecoderBurstBytes + kDecoderBytesPerSecond * bounded / 1000;
}

}  // namespace

void FollowedFile::NotFound(TimePoint now) {
  polledAt_ = now;
  changedAtLastPoll_ = false;
  settling_ = false;  // the growth went with the file
  if (seen_ == Seen::kPresent || seen_ == Seen::kNever) seen_ = Seen::kMissing;
}

void FollowedFile::Found(const platform::FileStatus& status, TimePoint now) {
  const TimePoint previousPoll = std::exchange(polledAt_, now);
  changedAtLastPoll_ = seen_ != Seen::kNever;
  switch (seen_) {
    case Seen::kNever:
      // What is there already is not the operator's new decodes: only the
      // last line, and growth is judged from here on.
      StartNewFile(status, now);
      if (status.size > 0) {
        length_ = status.size;
        copiedFrom_ = 0;
        dateDue_ = true;
      }
      AtRest(now);
      break;
    case Seen::kMissing:
      StartNewFile(status, previousPoll);
      Grow(status.size, now);
      break;
    case Seen::kPresent:
      if (status.identity != identity_ || status.size < length_) {
        StartNewFile(status, previousPoll);
        Grow(status.size, now);
      } else if (status.size > length_) {
        Grow(status.size, now);
      } else {
        changedAtLastPoll_ = false;
        AtRest(now);
      }
      break;
  }
  seen_ = Seen::kPresent;
}

// A new file is taken to have been empty at the poll before the one that
// found it.
void FollowedFile::StartNewFile(const platform::FileStatus& status, TimePoint since) {
  identity_ = status.identity;
  length_ = 0;
  copiedFrom_.reset();
  settling_ = false;
  restLength_ = 0;
  restSince_ = since;
  readFailed_ = false;
  RestartFromTheStart();
}

void FollowedFile::RestartFromTheStart() {
  readTo_ = 0;
  checkBytes_.clear();
  buffer_.clear();
  position_ = 0;
  ready_.reset();
  splitter_.Reset();
}

void FollowedFile::Grow(std::uint64_t length, TimePoint now) {
  if (length <= length_) return;
  length_ = length;
  dateDue_ = true;
  readFailed_ = false;
  grewAt_ = now;
  const std::uint64_t grown = length - restLength_;
  if (!copiedFrom_ && grown > DecoderGrowthIn(now - restSince_)) copiedFrom_ = restLength_;
  if (grown > kGrowthReadAtOnce) settling_ = true;
}

void FollowedFile::AtRest(TimePoint now) {
  if (settling_ && now - grewAt_ < kLargeGrowthRestWait) return;
  settling_ = false;
  restLength_ = length_;
  restSince_ = now;
}

// Lines read are taken before anything more is read.
bool FollowedFile::NeedsRead() const {
  if (settling_ || Buffered() || ready_) return false;
  return copiedFrom_ || readTo_ < length_;
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
  const ReadOutcome outcome = LastLineDue() ? ReadLastLineOnly(*file, now) : ReadChunk(*file);
  readFailed_ = outcome != ReadOutcome::kRead;
  return outcome;
}

FollowedFile::ReadOutcome FollowedFile::ReadLastLineOnly(platform::ReadOnlyFile& file,
                                                         TimePoint now) {
  LastLineRead read = ReadLastLine(file, kReadChunkBytes, length_);
  if (read.failed) return ReadOutcome::kFailed;
  readTo_ = length_;
  if (!ReadCheckBytes(file)) return ReadOutcome::kFailed;
  copiedFrom_.reset();
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

// Up to one chunk from where the reading stopped (and not past the start of
// a growth copied in), read together with the
// bytes just before it. When those are no longer what was read there, the
// file was cleared and written anew since: it is read from its start. Fewer
// bytes come when the file now ends sooner (it shrank since the poll, which
// the next poll tells); the read simply ends there.
FollowedFile::ReadOutcome FollowedFile::ReadChunk(platform::ReadOnlyFile& file) {
  const std::size_t check = checkBytes_.size();
  const std::uint64_t from = readTo_ - check;
  const std::uint64_t end = copiedFrom_ ? *copiedFrom_ : length_;
  const auto count =
      check + static_cast<std::size_t>(std::min<std::uint64_t>(end - readTo_, kReadChunkBytes));
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
  return !Buffered() && !NeedsRead() && !settling_ && !copiedFrom_ &&
         splitter_.HoldsUnendedLine() && now - unendedSince_ >= kUnendedLineWait;
}

bool FollowedFile::HasWork(TimePoint now) const {
  return NeedsRead() || ready_ || Buffered() || UnendedLineDue(now);
}

bool FollowedFile::Busy() const {
  return ready_ || Buffered() || settling_ || (NeedsRead() && !readFailed_);
}

}  // namespace velk
