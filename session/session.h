// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every way the program ends, the path each takes and what it guarantees.
// Every close runs Form_Unload or CloseWithoutWindow once: records the log
// has not taken get a last try; those it still does not take are in a
// rescue file, or printed on standard error; the whole close is over within
// about a second whatever the disks do, and the status is 0. The folder
// claim goes only after that, on the session's disk worker: its lock file is
// taken away there, never on the window's thread. When the operator's own
// folder does not answer, the process ends without waiting for it: the lock
// goes with the process, the file stays, and the next VELK_LOG in the
// folder takes it over once the disk answers.
//
//   close button     Qt closeEvent, Win32 WM_CLOSE -> Form_Unload -> the view's
//                    EndProgram: the event loop ends, main returns 0.
//   SIGTERM, SIGINT, the handler sets an atomic flag (process.h); the next
//   SIGHUP           Timer1 tick, at most a millisecond later, runs
//                    Form_Unload as the close button does.
//   console close,   Win32: the console handler sets the same flag and, for
//   logoff, shutdown the events after which the system ends the process,
//                    waits (at most 4.5 s) until the close is done.
//   Windows session  WM_ENDSESSION -> Form_Unload.
//   ends
//   display lost     Qt ends the process with exit() inside its event loop:
//                    the guard from platform::CloseAtExit runs
//                    CloseWithoutWindow, then ends with status 0.
//   window destroyed Qt: the X server's DestroyNotify for the window ->
//   from outside     Form_Unload. (Win32: only its own thread can destroy
//                    it.)
//   second instance  Form_Load cannot claim the folder: the message box says
//                    so, Closing() is true at once, and both windows' main
//                    returns 0 without showing the window. Nothing was
//                    handed to the log.
//   --help,          read before the toolkit starts, with no display: printed,
//   --version,       status 0; an argument neither VELK_LOG nor its toolkit
//   unknown argument knows: status 2.
//   crash, kill -9,  no close runs: a record the log has not taken within
//   power cut        kNoAnswerWait is already in the rescue file (log_book.h).
//
// Threads, a fixed set whatever the disks do: the window thread runs every
// handler and the watch loop, and never waits on a disk for longer than a
// bounded time; the log book has at most kLogBookThreads (its writer, its
// rescuer and one worker per rescue place, which also looks for an earlier
// run's rescue files; log_book.h); the session has one disk worker
// (disk_worker.h) for the claim on the working folder at load, the check at
// arming of which file a log name is and the claim's release at the close;
// the watcher has one for every call to the decode file (watcher.h); the
// window's folder watch has one (Qt: app/qt/folder_watch.h; Windows:
// folder_changes_windows.h). A disk that does not answer holds one of them,
// never a new one; every wait for one to end is bounded.

// The running program, the same for every toolkit. A window is only a view:
// it builds its controls from the window table, forwards each of its events
// to the session's handler of the same name, and carries out on its
// controls what the session decides (SessionView). Everything between the
// events and the libraries lives here, once. The libraries know no window:
// each step returns what it changed (WatchStart, WatchPass, ArmingStep) and
// the session shows it through its one Apply for that kind of change.
//
//   load       Form_Load      Timer1 starts; LogFlag is 0; the search for
//                             an earlier run's rescue files starts off this
//                             thread.
//   tick       Timer1_Timer   the clock's face; what the log's writer did
//                             (the log box turns red, its tooltip and
//                             warning); the search's answer, once there is
//                             one; a request from outside to end closes.
//   click      Go_Click       the watch loop: applies the watcher's start,
//                             then, pass after pass, applies what the pass
//                             returned (a pass waits for the decode file's
//                             disk at most kDecodeCallWait, and one that
//                             does not answer ends it early; watcher.h)
//                             (each record handed to the log's
//                             writer, which writes off this thread, then
//                             the display lines to the list) and yields to
//                             the view, which handles its events (waiting
//                             for one when there is nothing to read). A
//                             control operation that fails runs the
//                             watcher's recovery and skips only itself. It
//                             returns once the window closes.
//   click      LogLabel_Click arming the log: applies what the step
//                             returned; whether the log would be a decode
//                             file is asked of the disk worker, waiting at
//                             most kSameFileWait. LogFile_Change applies
//                             its caption.
//   close      Form_Unload    the log's last try, the notice on standard
//                             error; the view then ends the program.

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "clock/local_time_of_day.h"
#include "clock/period_clock.h"
#include "common/colour.h"
#include "common/disk_worker.h"
#include "common/process.h"
#include "logfile/log_arming.h"
#include "logfile/log_book.h"
#include "session/window_table.h"
#include "watch/decode_file.h"
#include "watch/watcher.h"

namespace velk {

// The folders (and the decode file itself) whose changes should wake the
// watch loop early. The poll alone still decides what is read.
struct WakePaths {
  std::string decodeFile;
  std::vector<std::string> folders;

  friend bool operator==(const WakePaths&, const WakePaths&) = default;
};

// What the session asks of a window. Controls are named by their place in
// the window table; texts are UTF-8 with CR LF line breaks.
class SessionView {
 public:
  virtual ~SessionView() = default;

  virtual void SetVisible(window::Id control, bool visible) = 0;
  virtual void Disable(window::Id control) = 0;
  virtual std::string Text(window::Id control) const = 0;
  // A different text raises the control's change event (for LogFile:
  // LogFile_Change) before this returns, as typing does. A label grows to
  // show every line of its caption.
  virtual void SetText(window::Id control, std::string_view text) = 0;
  virtual void SetTextColour(window::Id control, Colour colour) = 0;
  // Marks the control's warning state with a band of kWarningAmber around
  // it (window::WarningBandAround), or takes the band away; the control
  // keeps its own colours.
  virtual void SetWarning(window::Id control, bool warning) = 0;
  // The control's tooltip, which is also its accessible description.
  virtual void SetToolTip(window::Id control, std::string_view toolTip) = 0;
  // Adds display lines (8-bit text in the system's code page, each ended by
  // CR LF) at the very end of the list, after whatever it holds; the list
  // follows them while it shows its end and keeps the operator's caret.
  virtual void AppendToList(std::string_view lines) = 0;
  // The system's upper-case form of a text, for every script.
  virtual std::string UpperCase(std::string_view text) const = 0;
  virtual void StartTimer1(std::chrono::milliseconds interval) = 0;
  // From now on, a change in any of these wakes the waiting yield (and is
  // told to the session through DecodeFileChanged). Called again when the
  // paths change, and every second, since a watch on a replaced file can be
  // lost. Returns at once: the paths are watched off the window's thread,
  // since a folder that does not answer holds whoever asks for its watch.
  virtual void WakeOnChanges(const WakePaths& paths) = 0;
  // Handles the window's pending events; with `wait`, first waits until there
  // is one (a click, a tick, a watched change). A view may handle only the
  // event it waited for: the next pass's yield takes the next.
  virtual void ProcessEvents(bool wait) = 0;
  // Shows the operator a message that ends the program, and waits until it
  // was read (a message box).
  virtual void ShowMessage(std::string_view message) = 0;
  // Ends the program after the close: the window and Timer1 go, status 0.
  virtual void EndProgram() = 0;
};

// Timer1's interval, set at load: as often as the toolkit allows.
inline constexpr std::chrono::milliseconds kTimer1Interval{1};

// How long the load waits for the claim on the working folder.
inline constexpr std::chrono::milliseconds kClaimWait{500};

// How often the view is asked again to watch the wake paths.
inline constexpr std::chrono::seconds kWakeRenewal{1};

// How often an idle watch loop asks the decode file's status when no change
// was told for it: the longest a decode written where changes are not told
// (a network share, a file the decoder holds open on Windows) waits before
// it is seen. Each poll is a call on the watcher's disk worker, which under
// Wine costs the server several round trips.
inline constexpr std::chrono::milliseconds kUntoldChangePoll{100};

class Session final {
 public:
  // `workingDirectory` is where ALL.TXT is looked for and the log and any
  // rescue file are made; notices for the operator go to `notices`.
  Session(SessionView& view, std::string workingDirectory, std::ostream& notices);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The window's events. Form_Load ends the program at once when another
  // VELK_LOG follows the same working folder.
  void Form_Load();
  void Go_Click();
  void LogLabel_Click();
  void LogFile_Change();
  void Timer1_Timer();
  void Form_Unload();
  // A watched path changed (see SessionView::WakeOnChanges).
  void DecodeFileChanged();
  // The close when the window can no longer be used (its display has gone):
  // the log's last try and the notice, without a word to the view.
  void CloseWithoutWindow();

  // The window's fields: LogFlag is 1 once a log file is armed, Fi2 its path.
  int LogFlag() const { return settings_.LogFlag; }
  const std::string& Fi2() const { return settings_.Fi2; }

  // Go has started the watch loop, and it has not ended yet.
  bool Watching() const { return watching_; }
  // The close has begun: the view handles no further events.
  bool Closing() const { return closing_; }

 private:
  // What the libraries' steps changed, shown on the window.
  void Apply(const WatchStart& start);
  void Apply(const WatchPass& pass);
  void Apply(const ArmingStep& step);
  void ShowFallback(const FallbackLine& fallback);
  // Runs one of the watch loop's control operations; one that fails runs
  // the recovery, and the loop goes on with the next.
  template <typename Operation>
  void Guarded(Operation&& operation);
  void Yield();
  bool PollDue();
  bool LogArmed() const { return settings_.LogFlag == 1; }

  bool ClaimWorkingDirectory();
  void ReleaseClaim();
  bool BeginClose();
  void CloseLogBook();
  void ShowClock();
  void ShowFollowedPaths();
  void RenewWakePaths();
  void ShowEarlierRescue();
  void ShowLogProgress();
  void ShowLogToolTip(std::string toolTip, bool warning);
  void ShowLogState();

  SessionView& view_;
  std::string workingDirectory_;
  std::ostream& notices_;

  // Released after the log book is closed: until then a second VELK_LOG in
  // this folder could log the same decodes.
  std::shared_ptr<platform::FolderClaim> claim_;
  LogSettings settings_;
  // Shared with the watcher's disk worker, whose call may outlive the
  // session.
  std::shared_ptr<DiskDecodeFiles> decodeFiles_;
  DecodeWatcher watcher_;
  LogBook logBook_;
  LocalTimeOfDay timeOfDay_;
  // Asks the disk whether a log would be a decode file, so that a folder
  // that does not answer never holds the window.
  DiskWorker diskWorker_;

  // What the controls show now, so that a thousand ticks a second touch
  // them only when it changes.
  std::optional<ClockFace> clockShown_;
  std::optional<std::string> logToolTipShown_;
  bool warningShown_ = false;
  // Why the name typed was not armed, shown until the operator changes the
  // box's text or arms a log.
  std::string refusal_;
  std::future<std::string> earlierRescueSearch_;
  std::string earlierRescue_;  // a rescue file from an earlier run, if any

  bool changeTold_ = false;  // a watched path changed since the last poll
  std::chrono::steady_clock::time_point polledAt_{};
  std::optional<WakePaths> wakePaths_;
  std::chrono::steady_clock::time_point wakeRenewedAt_{};

  bool watching_ = false;
  bool closing_ = false;
};

}  // namespace velk
