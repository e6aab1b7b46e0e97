// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/session.h"

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
      watcher_(*this, decodeFiles_),
      logBook_(nullptr, kMaxKeptRecords, RescueFile(workingDirectory_)) {}

// A program closed as soon as it started may still be looking for an
// earlier run's rescue files. The look is given a bounded time to end, so
// that the process does not end under a thread that is reading a folder;
// one held up by a folder that does not answer is left to end with it.
Session::~Session() {
  if (earlierRescueLook_.valid()) earlierRescueLook_.wait_for(kRescueWait);
}

// --- the window's events ---

void Session::Form_Load() {
  if (!ClaimWorkingDirectory()) return;
  view_.StartTimer1(kTimer1Interval);
  settings_.LogFlag = 0;
  ShowWhereItLooks();
  earlierRescueLook_ = logBook_.LookForEarlierRescue();
}

// Two VELK_LOGs on one folder would follow the same decodes into the same
// log: every record twice. The second one says so and ends.
bool Session::ClaimWorkingDirectory() {
  claim_ = platform::ClaimFolder(workingDirectory_);
  if (claim_) return true;
  const std::string message =
      "VELK_LOG is already running in " + workingDirectory_ + "; this one ends.";
  notices_ << "VELK_LOG: " << message << '\n' << std::flush;
  closing_ = true;
  view_.Tell(message);
  view_.EndProgram();
  return false;
}

// Before Go nothing on the window says which file it will follow and where
// the log will go: Go's note does.
void Session::ShowWhereItLooks() {
  view_.SetNote(Go, "Follows " + DecodePathIn(workingDirectory_) + " (else " +
                        std::string(kFallbackDecodePath) + "); a log file is written in " +
                        workingDirectory_);
}

// The decode file and the log file are each opened for a single read or
// write and closed before any event is handled, so neither is open here.
// The watch loop sees the close at its yield and ends without another pass.
// Records the log has not taken get a last, bounded try; those it still does
// not take go to a rescue file, named on standard error.
void Session::Form_Unload() {
  if (closing_) return;
  closing_ = true;
  ShowPendingList();
  notices_ << logBook_.Close(settings_.Fi2) << std::flush;
  view_.EndProgram();
}

void Session::CloseWithoutWindow() {
  if (closing_) return;
  closing_ = true;
  notices_ << logBook_.Close(settings_.Fi2) << std::flush;
}

// Go hides itself, so a second click cannot come from the operator; one that
// arrives anyway, or after the close, does nothing.
void Session::Go_Click() {
  if (watching_ || closing_) return;
  watching_ = true;
  watcher_.Run(workingDirectory_);
  watching_ = false;
}

void Session::LogLabel_Click() {
  LogLabelClick(*this, settings_, workingDirectory_,
                {DecodePathIn(workingDirectory_), std::string(kFallbackDecodePath)});
  if (settings_.LogFlag == 1) ShowLogNote(logBook_.Note(settings_.Fi2), false);
}

void Session::LogFile_Change() {
  LogFileChange(*this);
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
// poll takes its identity afresh.
void Session::DecodeFileChanged() {
  decodeFiles_.ChangeNotified();
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
// box shows its warning and its note says how many, why and where they are
// kept.
void Session::ShowLogProgress() {
  const LogBook::Progress progress = logBook_.TakeProgress();
  if (progress.written > 0) SetLogFileColour(kRed);
  if (progress.written > 0 || progress.waiting > 0 || progress.failing != warningShown_) {
    ShowLogNote(logBook_.Note(settings_.Fi2), progress.failing);
  }
}

// Records an earlier run could not write are waiting for the operator: told
// on standard error and in the log box's note once the look has answered.
void Session::ShowEarlierRescue() {
  if (!earlierRescueLook_.valid() ||
      earlierRescueLook_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
    return;
  }
  earlierRescue_ = earlierRescueLook_.get();
  if (earlierRescue_.empty()) return;
  notices_ << earlierRescue_ << '\n' << std::flush;
  ShowLogNote(logNoteShown_.value_or(earlierRescue_), warningShown_);
}

void Session::ShowLogNote(std::string note, bool warning) {
  if (!earlierRescue_.empty() && note != earlierRescue_) note += "\n" + earlierRescue_;
  if (warningShown_ != warning) {
    view_.SetBackground(LogFile, warning ? std::optional<Colour>(kWarningAmber) : std::nullopt);
    warningShown_ = warning;
  }
  if (logNoteShown_ == note) return;
  view_.SetNote(LogFile, note);
  logNoteShown_ = std::move(note);
}

// --- the watch loop's view of the window ---

bool Session::LogArmed() const {
  return settings_.LogFlag == 1;
}

void Session::SetLogFileColour(Colour colour) {
  view_.SetTextColour(LogFile, colour);
}

void Session::ShowStartMsg() {
  view_.SetVisible(StartMsg, true);
}

void Session::HideStartMsg() {
  view_.SetVisible(StartMsg, false);
}

std::string Session::StartMsgCaption() const {
  return view_.Text(StartMsg);
}

void Session::SetStartMsgCaption(const std::string& caption) {
  view_.SetText(StartMsg, caption);
}

void Session::ShowTimeNow() {
  view_.SetVisible(TimeNow, true);
}

void Session::HideGo() {
  view_.SetVisible(Go, false);
}

void Session::ShowInfo() {
  view_.SetVisible(Info, true);
}

void Session::AppendInfo(std::string_view displayLine) {
  // Shown at the yield that ends this pass: laying out the list then no
  // longer delays the decode's log record, handed over next in the same
  // pass. Nothing is painted before the yield, so the operator sees no
  // difference.
  pendingList_ += displayLine;
}

// Handed to the log's writer; the next tick tells what became of it.
void Session::AppendLogRecord(const LogRecord& record) {
  logBook_.Append(settings_.Fi2, record);
}

bool Session::Yield() {
  ShowPendingList();
  RenewWakePaths();
  // While a large growth is worked through, the next slice follows as soon
  // as the pending events are handled.
  if (!closing_) view_.ProcessEvents(!watcher_.Busy());
  return !closing_;
}

void Session::ShowPendingList() {
  if (pendingList_.empty()) return;
  view_.AppendToList(pendingList_);
  pendingList_.clear();
}

// The working directory, where ALL.TXT may appear at any time, the decode
// file followed, and its folder when that is another: built anew only when
// the file followed changes (StartMsg's note then names it) or a renewal is
// due, not at every pass.
void Session::RenewWakePaths() {
  const std::string& decodePath = watcher_.DecodePath();
  const auto now = std::chrono::steady_clock::now();
  const bool moved = !wakePaths_ || wakePaths_->decodeFile != decodePath;
  if (!moved && now - wakeRenewedAt_ < kWakeRenewal) return;
  if (moved) view_.SetNote(StartMsg, "Looking at " + decodePath);
  WakePaths paths{decodePath, {workingDirectory_}};
  const std::string decodeFolder = FolderOf(decodePath);
  if (decodeFolder != workingDirectory_) paths.folders.push_back(decodeFolder);
  view_.WakeOnChanges(paths);
  wakePaths_ = std::move(paths);
  wakeRenewedAt_ = now;
}

// --- arming the log ---

void Session::ShowLogFile() {
  view_.SetVisible(LogFile, true);
}

void Session::SetLogLabelCaption(std::string_view caption) {
  view_.SetText(LogLabel, caption);
}

std::string Session::LogFileText() const {
  return view_.Text(LogFile);
}

void Session::SetLogFileText(const std::string& text) {
  view_.SetText(LogFile, text);
}

void Session::DisableLogLabel() {
  view_.Disable(LogLabel);
}

std::string Session::UpperCase(const std::string& text) const {
  return view_.UpperCase(text);
}

void Session::ShowWhyNotArmed(std::string_view reason) {
  ShowLogNote(std::string(reason), true);
}

}  // namespace velk
