// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One place where the decode file is looked for, and how far the lines of
// the file found there have been taken.
//
// Every line added to the file after it was first looked at is taken once,
// in order: the bytes are read forwards from where the reading stopped, a
// chunk at a time, and cut into lines as they come. Besides that:
//   - a file looked at for the first time that is already there gives its
//     last line only (what was written before the program looked is not the
//     operator's new decodes);
//   - a file that appears where none was found, one that is another file
//     than before (replaced: its identity changed), one that shrank
//     (cleared) and one whose bytes before the point where the reading
//     stopped are no longer those read (cleared and written past that point
//     between two polls) are new files: their lines are taken from their
//     start;
//   - growth is judged by how far the file has grown since a poll last
//     found it at rest (not growing), over the time since that poll, so a
//     write still going on is judged whole however many polls see it. More
//     than kDecoderBurstBytes plus kDecoderBytesPerSecond for every second
//     since then is no decoder's output (a file copied or restored in): the
//     lines before it are still taken, of it only the last line. Anything
//     less is the decoder's, however large: after the program was stopped or
//     kept waiting, every line written meanwhile is taken;
//   - a growth of more than kGrowthReadAtOnce waits until the file has kept
//     its length for kLargeGrowthRestWait before it is read, so neither the
//     start nor the middle of a large write still going on is taken for
//     decodes, and the last line of a file copied in is the one that ends
//     the copy;
//   - a last line without a line end may still be being written: it is
//     taken once the file has kept its length for kUnendedLineWait, and not
//     again when its line end comes later.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "common/platform.h"
#include "watch/decode_file.h"
#include "watch/last_line.h"
#include "watch/line_splitter.h"

namespace velk {

// How long a last line without a line end must stay as it is before it is
// taken. The system copies a write into the file page by page, and a decoder
// may write a line in pieces, so a reader can find the first part of a line
// alone at the file's end; its line end, or more growth, ends the wait early.
inline constexpr std::chrono::milliseconds kUnendedLineWait{100};

// The most bytes read from the decode file at once.
inline constexpr std::size_t kReadChunkBytes = 64 * 1024;

// The most a decoder is taken to write at once, and at most per second on
// top of that; what grows faster was copied in.
inline constexpr std::uint64_t kDecoderBurstBytes = 1024 * 1024;
inline constexpr std::uint64_t kDecoderBytesPerSecond = 64 * 1024;

// The largest growth read as soon as a poll finds it. A decoder's lines
// come in far less; more may be the first pages of a large write.
inline constexpr std::uint64_t kGrowthReadAtOnce = 4 * 1024;

// How long a larger growth must have kept its length before it is judged
// and read: a large write still going on can stand still between two polls
// while its writer waits for the processor.
inline constexpr std::chrono::milliseconds kLargeGrowthRestWait{100};

// How many of the bytes read last are read again, before the next ones, to
// tell that the file still holds them.
inline constexpr std::size_t kRewriteCheckBytes = 64;

class FollowedFile {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  enum class ReadOutcome {
    kRead,       // bytes (or the last line) read
    kFailed,     // the file could not be opened or read
    kOtherFile,  // another file stands at the path than the one polled
  };

  explicit FollowedFile(std::string path = {});

  const std::string& Path() const { return path_; }
  // Follows the file at another path from the next poll on; a file found
  // there is another file (its identity differs), read as a replaced one.
  void MoveTo(std::string path) { path_ = std::move(path); }

  // The length acted on: the file's length at the latest poll that found it
  // grown, shrunk or replaced. Lines up to it are taken or about to be.
  std::uint64_t LengthActedOn() const { return length_; }

  // What a poll of the path found: nothing (no regular file), or a file.
  void NotFound(TimePoint now);
  void Found(const platform::FileStatus& status, TimePoint now);

  // Whether the next step is a read of the file.
  bool NeedsRead() const;

  // Reads the next chunk of the growth (or the last line, when only that is
  // to be taken) from the file found at the latest poll.
  ReadOutcome Read(DecodeFileAccess& files, TimePoint now);

  // Whether the file's date is to be read for a growth; DateRead() once it
  // was asked for, whatever the answer.
  bool DateDue() const { return dateDue_; }
  void DateRead() { dateDue_ = false; }

  // The next line to take from what was read, if any; also a last line
  // without a line end whose wait is over.
  std::optional<LineSummary> NextLine(TimePoint now);

  // Whether anything is to be done now: a read, a line to take, or an
  // unended line whose wait is over.
  bool HasWork(TimePoint now) const;

  // Whether the latest poll found the file grown, shrunk or replaced: only
  // a later poll that finds it at rest tells how fast it grew.
  bool ChangedAtLastPoll() const { return changedAtLastPoll_; }

  // Whether a last line without its line end waits for the rest of it.
  bool HoldsUnendedLine() const { return splitter_.HoldsUnendedLine(); }

  // Whether lines are still to be read or taken without waiting for the
  // file to change: a growth being worked through in slices, or one waiting
  // for a poll that finds the file at rest.
  bool Busy() const;

 private:
  enum class Seen { kNever, kMissing, kPresent };

  void StartNewFile(const platform::FileStatus& status, TimePoint since);
  void Grow(std::uint64_t length, TimePoint now);
  void AtRest(TimePoint now);
  bool LastLineDue() const { return copiedFrom_ && readTo_ >= *copiedFrom_; }
  ReadOutcome ReadLastLineOnly(platform::ReadOnlyFile& file, TimePoint now);
  bool ReadCheckBytes(platform::ReadOnlyFile& file);
  ReadOutcome ReadChunk(platform::ReadOnlyFile& file);
  void RestartFromTheStart();
  bool Buffered() const { return position_ < buffer_.size(); }
  bool UnendedLineDue(TimePoint now) const;

  std::string path_;
  Seen seen_ = Seen::kNever;
  platform::FileIdentity identity_;
  std::uint64_t length_ = 0;  // the length acted on
  std::uint64_t readTo_ = 0;  // bytes before this offset were read
  std::string checkBytes_;    // the last bytes before readTo_, as read
  // From this offset on the growth was copied in: read up to it, then only
  // the last line.
  std::optional<std::uint64_t> copiedFrom_;
  std::uint64_t restLength_ = 0;  // the length when the file was last at rest
  TimePoint restSince_{};         // and when that was seen
  TimePoint polledAt_{};          // the latest poll of the path
  bool settling_ = false;         // a growth waits for the file to be at rest
  TimePoint grewAt_{};            // the latest poll that found the file grown
  bool dateDue_ = false;
  bool changedAtLastPoll_ = false;
  bool readFailed_ = false;  // the latest read did not succeed

  std::string buffer_;  // a chunk read and not yet cut into lines
  std::size_t position_ = 0;
  std::optional<LineSummary> ready_;  // a line read whole, not yet taken
  LineSplitter splitter_;
  TimePoint unendedSince_{};  // when the unended line last grew
};

}  // namespace velk
