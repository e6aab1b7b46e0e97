#pragma once

// The program's one window. It owns the seven controls, the two fields that
// arming the log writes (LogFlag and Fi2) and the routing of window events
// to their handlers; the handlers hand the work to the watch, logfile and
// clock libraries and only carry out what those decide on the controls.

#include <QWidget>
#include <string>

#include "session/window_table.h"
#include "clock/local_time_of_day.h"
#include "logfile/log_arming.h"
#include "logfile/log_book.h"
#include "watch/decode_file.h"
#include "watch/watcher.h"

class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

class VELK_Logging final : public QWidget, private velk::WatchWindow, private velk::LogControls {
  Q_OBJECT

 public:
  explicit VELK_Logging(QWidget* parent = nullptr);
  ~VELK_Logging() override;

  // The window's fields: LogFlag is 1 once a log file is armed, Fi2 its path.
  int LogFlag() const { return settings_.LogFlag; }
  const std::string& Fi2() const { return settings_.Fi2; }

  // True once Go has started the watch loop and it has not yet ended.
  bool Watching() const { return watching_; }

 public slots:
  void Go_Click();
  void LogLabel_Click();
  void LogFile_Change();
  void Timer1_Timer();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  QWidget* CreateControl(const velk::window::Control& control);
  void Form_Load();
  void Form_Unload();
  void WatchDecodeFileForChanges();
  void ShowPendingInfo();
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

  QLineEdit* TimeNow = nullptr;
  QPushButton* Go = nullptr;
  QPushButton* LogLabel = nullptr;
  QLineEdit* LogFile = nullptr;
  QPlainTextEdit* Info = nullptr;
  QLabel* StartMsg = nullptr;
  QTimer* Timer1 = nullptr;

  velk::LogSettings settings_;
  velk::DiskDecodeFiles decodeFiles_;
  velk::DecodeWatcher watcher_;
  velk::LogBook logBook_;
  velk::LocalTimeOfDay timeOfDay_;

  // Wakes the watch loop as soon as the decode file changes; the length poll
  // still decides whether anything is read.
  QFileSystemWatcher* changeNotifier_ = nullptr;
  std::string notifiedPath_;
  int passesUntilRewatch_ = 0;

  // Display lines of the current pass, added to the list at its yield.
  std::string pendingInfo_;

  bool watching_ = false;
  bool closing_ = false;
};
