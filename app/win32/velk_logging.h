#pragma once

// The program's one window on Windows, made of the system's own controls
// (EDIT, BUTTON, STATIC) as the shared window table lays them out. It owns
// the controls, the two fields that arming the log writes (LogFlag and Fi2)
// and the routing of window messages to the handlers; the handlers hand the
// work to the watch, logfile and clock libraries and only carry out what
// those decide on the controls.

#include <windows.h>
// An empty leftover of 16-bit Windows that would swallow the watch loop's
// Yield.
#undef Yield

#include <oleacc.h>

#include <array>
#include <optional>
#include <string>

#include "session/window_table.h"
#include "clock/local_time_of_day.h"
#include "logfile/log_arming.h"
#include "logfile/log_book.h"
#include "watch/decode_file.h"
#include "watch/watcher.h"

class VELK_Logging final : private velk::WatchWindow, private velk::LogControls {
 public:
  explicit VELK_Logging(HINSTANCE instance);
  ~VELK_Logging() override;
  VELK_Logging(const VELK_Logging&) = delete;
  VELK_Logging& operator=(const VELK_Logging&) = delete;

  // Creates the window with its controls and shows it; false when the
  // system refuses.
  bool Create(int showCommand);

  // Handles the window's messages until it is closed; the exit status.
  int Run();

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(HWND control, WORD code);
  std::optional<LRESULT> TextColour(HDC dc, HWND control);

  void CreateControls();
  void ScaleTo(UINT dotsPerInch);
  int Scaled(int designPixels) const;
  HFONT FontFor(const velk::window::Control& control) const;
  void PlaceStartMsg();
  HWND Control(velk::window::Id id) const { return controls_[id]; }

  // Dispatches every pending message; false once the window has gone.
  bool DispatchPending();
  void WaitForMessageOrChange();
  void WatchFolders();
  void StopWatchingFolders();
  void ShowPendingInfo();
  bool InfoShowsItsEnd() const;
  void ScrollInfoToLine(int firstVisible);
  void MoveFocusFrom(HWND control);

  void Form_Load();
  void Form_Unload();
  void Go_Click();
  void LogLabel_Click();
  void LogFile_Change();
  void Timer1_Timer();
  void RetryKeptRecords();
  // The log box's tooltip and accessible description: the log's path, or
  // how many records wait and why.
  void ShowLogNote();

  // What the watch loop does to the window.
  bool LogArmed() const override;
  void SetLogFileColour(velk::Colour colour) override;
  void ShowStartMsg() override;
  void HideStartMsg() override;
  std::string StartMsgCaption() const override;
  void SetStartMsgCaption(const std::string& caption) override;
  void ShowTimeNow() override;
  void HideGo() override;
  void ShowInfo() override;
  void AppendInfo(std::string_view displayLine) override;
  void AppendLogRecord(const velk::LogRecord& record) override;
  bool Yield() override;

  // What arming the log does to the window.
  void ShowLogFile() override;
  void SetLogLabelCaption(std::string_view caption) override;
  std::string LogFileText() const override;
  void SetLogFileText(const std::string& text) override;
  void DisableLogLabel() override;
  std::string UpperCase(const std::string& text) const override;

  HINSTANCE instance_;
  HWND window_ = nullptr;
  std::array<HWND, velk::window::kControlCount> controls_{};
  UINT dotsPerInch_ = velk::window::kDesignDotsPerInch;
  HFONT formFont_ = nullptr;
  HFONT clockFont_ = nullptr;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  HWND logFileTip_ = nullptr;
  // Gives the log box its accessible description; null where the system
  // has none to offer.
  IAccPropServices* accessibility_ = nullptr;

  // Text colours set by the program; the system's colour until then.
  std::optional<COLORREF> timeNowColour_;
  std::optional<COLORREF> logFileColour_;

  velk::LogSettings settings_;
  velk::DiskDecodeFiles decodeFiles_;
  velk::DecodeWatcher watcher_;
  velk::LogBook logBook_;
  velk::LocalTimeOfDay timeOfDay_;

  // A folder whose changes wake the watch loop early; the length poll still
  // decides what is read.
  struct FolderWatch {
    std::string folder;
    HANDLE change = INVALID_HANDLE_VALUE;  // signalled on a change
  };
  // The working directory, where ALL.TXT may appear at any time, and the
  // folder of the decode file followed, when that is another.
  std::array<FolderWatch, 2> folderWatches_;
  std::string workingDirectory_;

  // Display lines of the current pass, added to the list at its yield.
  std::string pendingInfo_;

  bool watching_ = false;
  bool closing_ = false;
};
