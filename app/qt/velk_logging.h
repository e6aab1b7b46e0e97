// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's one window on Linux: the controls of the window table as Qt
// widgets. It forwards each event to the session and carries out on its
// widgets what the session decides; it decides nothing itself.

#include <QAbstractNativeEventFilter>
#include <QWidget>
#include <array>
#include <string>

#include "app/qt/folder_watch.h"
#include "session/session.h"
#include "session/window_table.h"

class QTimer;

class VELK_Logging final : public QWidget,
                           private velk::SessionView,
                           private QAbstractNativeEventFilter {
  Q_OBJECT

 public:
  explicit VELK_Logging(QWidget* parent = nullptr);
  ~VELK_Logging() override;

  // The running program behind the window: LogFlag, Fi2, whether it
  // watches, whether it has ended (or never started: another VELK_LOG follows
  // this folder), and the close when the display has gone.
  velk::Session& session() { return session_; }
  const velk::Session& session() const { return session_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

 private:
  void CreateControls();
  QWidget* CreateControl(const velk::window::Control& control);
  void ConnectEvents();
  void PlaceControls();
  QWidget* Control(velk::window::Id id) const { return controls_[id]; }

  // What the session does to the window.
  void SetVisible(velk::window::Id control, bool visible) override;
  void Disable(velk::window::Id control) override;
  std::string Text(velk::window::Id control) const override;
  void SetText(velk::window::Id control, std::string_view text) override;
  void SetTextColour(velk::window::Id control, velk::Colour colour) override;
  void SetWarning(velk::window::Id control, bool warning) override;
  void SetToolTip(velk::window::Id control, std::string_view toolTip) override;
  void AppendToList(std::string_view lines) override;
  std::string UpperCase(std::string_view text) const override;
  void StartTimer1(std::chrono::milliseconds interval) override;
  void WakeOnChanges(const velk::WakePaths& paths) override;
  void ProcessEvents(bool wait) override;
  void ShowMessage(std::string_view message) override;
  void EndProgram() override;

  std::array<QWidget*, velk::window::kControlCount> controls_{};
  std::array<bool, velk::window::kControlCount> warnings_{};
  QTimer* Timer1 = nullptr;
  // Wakes the watch loop as soon as the decode file or a watched folder
  // changes.
  FolderWatch* changeNotifier_ = nullptr;

  velk::Session session_;
};
