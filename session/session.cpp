// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/session.h"

#include <exception>
#include <thread>
#include <utility>

#include "common/path.h"

namespace velk {

namespace {

using window::Go;
using window::Info;
using window::LogFile;
using window::LogLabel;
using window::StartMsg;
using window::TimeNow;

}  // namespace

Session::Session(SessionView& view, std::string workingDirectory, std::ostream& notices)
    : view_(view),
      workingDirectory_(std::move(workingDirectory)),
      notices_(notices),
      decodeFiles_(std::make_shared<DiskDecodeFiles>()),
      watcher_(decodeFiles_),
      logBook_(nullptr, kMaxKeptRecords, RescueFile(workingDirectory_)) {}

// A program closed as soon as it started may still be looking for an
// earlier run's rescue files. The look is given a bounded time to end, so
// that the process does not end under a thread that is reading a folder;
// one held up by a folder that does not answer is left to end with it.
Session::~Session() {
  ReleaseClaim();
  if (earlierRescueSearch_.valid()) earlierRescueSearch_.wait_for(kRescueWait);
}

// --- the window's events ---

void Session::Form_Load() {
  if (!ClaimWorkingDirectory()) return;
  view_.StartTimer1(kTimer1Interval);
  settings_.LogFlag = 0;
  ShowFollowedPaths();
  earlierRescueSearch_ = logBook_.FindEarlierRescueFiles();
}

// Two VELK_LOGs on one folder would follow the same decodes into the same
// log: every record twice. The second one says so and ends. The claim is
// made on the disk worker: a working folder or home folder that does not
// answer within kClaimWait leaves this run without a claim rather than
// without a window.
bool Session::ClaimWorkingDirectory() {
  using Claim = std::shared_ptr<platform::FolderClaim>;
  const std::optional<Claim> claim = diskWorker_.Run<Claim>(
      [folder = workingDirectory_] { return Claim(platform::ClaimFolder(folder)); }, kClaimWait);
  if (!claim || *claim) {
    claim_ = claim.value_or(nullptr);
    return true;
  }
  const std::string message =
      "VELK_LOG is already running in " + workingDirectory_ + "; this one ends.";
  notices_ << "VELK_LOG: " << message << '\n' << std::flush;
  closing_ = true;
  view_.ShowMessage(message);
  view_.EndProgram();
  return false;
}

// Before Go nothing on the window says which file it will follow and where
// the log will go: Go's tooltip does.
void Session::ShowFollowedPaths() {
  view_.SetToolTip(Go, "Follows " + DecodePathIn(workingDirectory_) + " (else " +
                           std::string(kFallbackDecodePath) + "); a log file is written in " +
                           workingDirectory_);
}

// The decode file is opened for a single read and closed before any event
// is handled, so it is not open here; the log file may be, on the log
// book's writer. The watch loop sees the close at its yield and ends without
// another pass. Records the log has not taken get a last, bounded try; those
// it still does not take go to a rescue file, named on standard error.
void Session::Form_Unload() {
  if (!BeginClose()) return;
  CloseLogBook();
  view_.EndProgram();
}

void Session::CloseWithoutWindow() {
  if (BeginClose()) CloseLogBook();
}

bool Session::BeginClose() {
  if (closing_) return false;
  closing_ = true;
  return true;
}

// Over within about a second whatever the disks do; a console handler
// waiting for the close may then let the process end.
void Session::CloseLogBook() {
  notices_ << logBook_.Close(settings_.Fi2) << std::flush;
  ReleaseClaim();
  platform::EndRequestAnswered();
}

// The claim's lock file is taken away on the disk worker, once whatever it
// was doing has answered: the operator's own folder may be on a disk that
// does not answer, and the window goes without waiting for it. The process
// may end first; the lock goes with it, and the next VELK_LOG in this folder
// takes over the file left behind.
void Session::ReleaseClaim() {
  if (!claim_) return;
  diskWorker_.StartWhenFree<void>([claim = std::move(claim_)]() mutable { claim.reset(); });
}

// Go hides itself, so a second click cannot come from the operator; one that
// arrives anyway, or after the close, does nothing. The loop ends at the
// yield that handled the close.
void Session::Go_Click() {
  if (watching_ || closing_) return;
  watching_ = true;
  Apply(watcher_.Start(workingDirectory_, LogArmed()));
  while (!closing_) {
    Apply(watcher_.RunPass(LogArmed(), PollDue()));
    Guarded([this] { Yield(); });
  }
  watching_ = false;
}

// Whether the log would be a decode file is asked of the disk on the disk
// worker's thread; a folder that does not answer in time refuses the log.
void Session::LogLabel_Click() {
  LogLabelInput input;
  input.typed = view_.Text(LogFile);
  input.workingDirectory = workingDirectory_;
  input.decodeFiles = {DecodePathIn(workingDirectory_), std::string(kFallbackDecodePath)};
  input.upperCase = [this](std::string_view text) { return view_.UpperCase(text); };
  input.sameFile = [this](const std::string& one, const std::string& other) {
    return diskWorker_.Run<bool>([one, other] { return SameFileOnDisk(one, other); },
                                 kSameFileWait);
  };
  Apply(LogLabelClick(settings_, input));
  if (LogArmed()) ShowLogToolTip(logBook_.StatusText(settings_.Fi2), false);
}

// A refusal stands until the name it refused is changed.
void Session::LogFile_Change() {
  refusal_.clear();
  Apply(LogFileChange());
}

// A request from outside to end (a signal, the console's close) closes the
// window as its close button does.
void Session::Timer1_Timer() {
  if (closing_) return;
  if (platform::EndRequested()) return Form_Unload();
  ShowEarlierRescue();
  ShowLogProgress();
  ShowClock();
}

// A file may have been replaced by one of the same size and date: the next
// poll takes its identity afresh. The next pass polls.
void Session::DecodeFileChanged() {
  changeTold_ = true;
  decodeFiles_->ChangeNotified();
}

// Each poll is a call on the watcher's disk worker. A pass polls when a
// change was told for the decode file or its folder, while the watcher has
// something under way, and otherwise once kUntoldChangePoll has passed: the
// ticks of an idle window do not each wake that thread.
bool Session::PollDue() {
  // A change told while a call is out stays told: the pass that takes the
  // call's answer goes on from that call, and the one after it polls.
  if (watcher_.CallOut()) return false;
  const auto now = std::chrono::steady_clock::now();
  if (!changeTold_ && watcher_.Quiet() && now - polledAt_ < kUntoldChangePoll) return false;
  changeTold_ = false;
  polledAt_ = now;
  return true;
}

// --- the clock ---

void Session::ShowClock() {
  ClockFace face = ClockFaceAt(timeOfDay_.SecondsSinceMidnight(std::chrono::system_clock::now()));
  // The colour goes first, then the text, as on every tick; a thousand ticks
  // a second touch the box only when its face changes.
  if (!clockShown_ || clockShown_->colour != face.colour) {
    view_.SetTextColour(TimeNow, face.colour);
  }
  if (!clockShown_ || clockShown_->text != face.text) view_.SetText(TimeNow, face.text);
  clockShown_ = std::move(face);
}

// --- the log ---

// What the log's writer did since the last tick. Red means a record is in
// the file; while records wait (the log refused them or does not answer) the
// box shows its warning and its tooltip says how many, why and where they are
// kept.
void Session::ShowLogProgress() {
  const LogBook::Progress progress = logBook_.TakeProgress();
  if (progress.written > 0) view_.SetTextColour(LogFile, kRed);
  const bool warning = progress.failing || !refusal_.empty();
  if (progress.written > 0 || progress.waiting > 0 || warning != warningShown_) {
    ShowLogToolTip(refusal_.empty() ? logBook_.StatusText(settings_.Fi2) : refusal_, warning);
  }
}

// Records an earlier run could not write are waiting for the operator: told
// on standard error and in the log box's tooltip once the search has
// answered.
void Session::ShowEarlierRescue() {
  if (!earlierRescueSearch_.valid() ||
      earlierRescueSearch_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    return;
  }
  earlierRescue_ = earlierRescueSearch_.get();
  if (earlierRescue_.empty()) return;
  notices_ << earlierRescue_ << '\n' << std::flush;
  ShowLogToolTip(logToolTipShown_.value_or(earlierRescue_), warningShown_);
}

void Session::ShowLogToolTip(std::string toolTip, bool warning) {
  if (!earlierRescue_.empty() && toolTip != earlierRescue_) toolTip += "\n" + earlierRescue_;
  if (warningShown_ != warning) {
    view_.SetWarning(LogFile, warning);
    warningShown_ = warning;
  }
  if (logToolTipShown_ == toolTip) return;
  view_.SetToolTip(LogFile, toolTip);
  logToolTipShown_ = std::move(toolTip);
}

// --- what the libraries' steps changed ---

// Not guarded: the recovery covers the loop, not its start.
void Session::Apply(const WatchStart& start) {
  if (start.logFileColour) view_.SetTextColour(LogFile, *start.logFileColour);
  view_.SetVisible(StartMsg, true);
  view_.SetVisible(TimeNow, true);
  view_.SetVisible(Go, false);
}

// The records go to the log's writer before the list is laid out, so that
// showing the decodes never delays their records; nothing is painted before
// the yield, so the operator sees no difference.
void Session::Apply(const WatchPass& pass) {
  if (pass.fallback) ShowFallback(*pass.fallback);
  if (pass.decodeShown) {
    Guarded([this] { view_.SetVisible(Info, true); });
    Guarded([this] { view_.SetVisible(StartMsg, false); });
  }
  for (const LogRecord& record : pass.records) {
    Guarded([this, &record] { logBook_.Append(settings_.Fi2, record); });
  }
  // The log's writer may share this core: it writes them before the list
  // is laid out rather than after.
  if (!pass.records.empty()) std::this_thread::yield();
  if (!pass.displayLines.empty()) Guarded([this, &pass] { view_.AppendToList(pass.displayLines); });
}

// Setting the armed path is a change of the box's text, and so sets the
// caption to "Set It" for a moment before it reads "Log File".
void Session::Apply(const ArmingStep& step) {
  if (step.showLogFile) view_.SetVisible(LogFile, true);
  view_.SetText(LogLabel, step.caption);
  if (!step.refusal.empty()) {
    refusal_ = step.refusal;
    ShowLogToolTip(refusal_, true);
  }
  if (step.armedPath.empty()) return;
  view_.SetText(LogFile, step.armedPath);
  view_.SetText(LogLabel, kLogFileCaption);
  view_.Disable(LogLabel);
}

// A window that fails even here keeps its caption: there is nothing further
// to fall back on, and so no recovery from the recovery.
void Session::ShowFallback(const FallbackLine& fallback) {
  try {
    view_.SetText(StartMsg, CaptionWithFallback(view_.Text(StartMsg), fallback));
  } catch (const std::exception&) {
  }
}

template <typename Operation>
void Session::Guarded(Operation&& operation) {
  try {
    std::forward<Operation>(operation)();
  } catch (const std::exception&) {
    ShowFallback(watcher_.Recover());
  }
}

// While a large growth is worked through, the next slice follows as soon as
// the pending events are handled.
void Session::Yield() {
  RenewWakePaths();
  view_.ProcessEvents(!watcher_.Busy());
}

// The working directory, where ALL.TXT may appear at any time, the decode
// file followed, and its folder when that is another: built anew only when
// the file followed changes (StartMsg's tooltip then names it) or a renewal is
// due, not at every pass.
void Session::RenewWakePaths() {
  const std::string& decodePath = watcher_.DecodePath();
  const auto now = std::chrono::steady_clock::now();
  const bool moved = !wakePaths_ || wakePaths_->decodeFile != decodePath;
  if (!moved && now - wakeRenewedAt_ < kWakeRenewal) return;
  if (moved) view_.SetToolTip(StartMsg, "Looking at " + decodePath);
  WakePaths paths{decodePath, {workingDirectory_}};
  const std::string decodeFolder = FolderOf(decodePath);
  if (decodeFolder != workingDirectory_) paths.folders.push_back(decodeFolder);
  view_.WakeOnChanges(paths);
  wakePaths_ = std::move(paths);
  wakeRenewedAt_ = now;
}

}  // namespace velk
