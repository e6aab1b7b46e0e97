#pragma once

// The decode watcher: started by a click on "Go", it follows the decode file
// for the rest of the run. Each pass polls the file's length; when the file
// has grown beyond the largest length acted on, it reads the last line, dates
// it from the file's modification time and, when the line carries the sync
// marker "*", appends its display line to the list and hands its log record
// to the log while one is armed. Then it yields to the window.
//
// Any failure inside the loop runs the one recovery step: the decode file is
// looked for at the fallback path from then on, that path is shown above the
// waiting message, and the loop goes on with the next step.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/colour.h"
#include "watch/decode_file.h"
#include "watch/decode_line.h"
#include "watch/last_line.h"

namespace velk {

inline constexpr std::string_view kDecodeFileName = "ALL.TXT";
inline constexpr std::string_view kFallbackDecodePath = "C:\\Program Files\\VELK\\ALL.TXT";
inline constexpr std::string_view kWaitingCaption = "Waiting for first file update....";

// How long a last line without a line end must stay as it is before it is
// taken. The system copies a write into the file page by page, and a decoder
// may write a line in pieces, so a reader can find the first part of a line
// alone at the file's end; a line end, or more growth, ends the wait early.
inline constexpr std::chrono::milliseconds kUnendedLineWait{100};

using WatchClock = std::function<std::chrono::steady_clock::time_point()>;

// What the watcher does to the window, and the window's yield. A control
// operation that throws counts as a failed step.
class WatchWindow {
 public:
  virtual ~WatchWindow() = default;

  virtual bool LogArmed() const = 0;  // LogFlag is 1
  virtual void SetLogFileColour(Colour colour) = 0;
  virtual void ShowStartMsg() = 0;
  virtual void HideStartMsg() = 0;
  virtual std::string StartMsgCaption() const = 0;
  virtual void SetStartMsgCaption(const std::string& caption) = 0;
  virtual void ShowTimeNow() = 0;
  virtual void HideGo() = 0;
  virtual void ShowInfo() = 0;
  // Appends a display line (ending in CR LF) at the end of the list.
  virtual void AppendInfo(std::string_view displayLine) = 0;
  // The log's append step for one selected decode; run only while armed. It
  // deals with a log file that cannot be written itself.
  virtual void AppendLogRecord(const LogRecord& record) = 0;
  // Lets the window process its pending events, waiting for one when none is
  // pending. Returns false once the window is closing: the loop then ends.
  virtual bool Yield() = 0;
};

class DecodeWatcher {
 public:
  // `now` tells the time for the wait on a line without a line end; the
  // steady clock when empty.
  DecodeWatcher(WatchWindow& window, DecodeFileAccess& files, WatchClock now = {});

  // The start of Go: the decode path in the working directory, the log box
  // green when a log is already armed, the waiting message and the clock
  // shown, Go hidden.
  void Start(const std::string& workingDirectory);

  // One pass of the loop, ending with the yield. Returns false when the
  // window is closing.
  bool RunPass();

  // Start, then passes until the window closes.
  void Run(const std::string& workingDirectory);

  const std::string& DecodePath() const { return decodePath_; }
  std::uint64_t LastSize() const { return lastSize_; }
  const LastLine& CurrentLastLine() const { return lastLine_; }
  const std::string& FileDate() const { return fileDate_; }

 private:
  // Runs one step; a failure runs the recovery and the loop continues.
  template <typename Step>
  void Attempt(Step&& step);
  void Recover();

  // A last line read, with the length polled before it and the moment it
  // was read, while it has no line end yet.
  struct UnendedLine {
    std::uint64_t polledLength;
    std::chrono::steady_clock::time_point seen;
    LastLineRead read;
  };

  void PollLength();
  void ActOnGrowth();
  std::optional<LastLineRead> SettledRead();
  void TakeLastLine(LastLineRead& read);
  void DateFromFile();
  void ShowSelectedLine();

  WatchWindow& window_;
  DecodeFileAccess& files_;
  WatchClock now_;
  std::optional<UnendedLine> unended_;
  std::string decodePath_;
  std::uint64_t lastSize_ = 0;
  std::uint64_t currentLength_ = 0;
  LastLine lastLine_;
  std::string fileDate_;
};

}  // namespace velk
