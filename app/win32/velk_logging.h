// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's one window on Windows: the controls of the window table made
// of the system's own controls (EDIT, BUTTON, STATIC). It forwards each
// message to the session and carries out on its controls what the session
// decides; it decides nothing itself.

#include <windows.h>
// An empty leftover of 16-bit Windows that would clash with a method name.
#undef Yield

#include <oleacc.h>

#include <array>
#include <optional>
#include <string>

#include "common/folder_changes_windows.h"
#include "session/session.h"
#include "session/window_table.h"

class VELK_Logging final : private velk::SessionView {
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

  // The running program behind the window: whether it has ended (or never
  // started: another VELK_LOG follows this folder).
  const velk::Session& session() const { return session_; }

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(HWND control, WORD code);
  std::optional<LRESULT> Colours(HDC dc, HWND control);
  void PaintWarningBands();

  void CreateControls();
  void ScaleTo(UINT dotsPerInch);
  int Scaled(int designPixels) const;
  HFONT FontFor(const velk::window::Control& control) const;
  void PlaceControls();
  void FitLabel(velk::window::Id id);
  HWND Control(velk::window::Id id) const { return controls_[id]; }
  std::optional<velk::window::Id> IdOfControl(HWND control) const;

  void Dispatch(MSG& message);
  bool ListShowsItsEnd(int firstVisible) const;
  void MoveFocusFrom(HWND control);

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

  HINSTANCE instance_;
  HWND window_ = nullptr;
  std::array<HWND, velk::window::kControlCount> controls_{};
  UINT dotsPerInch_ = velk::window::kDesignDotsPerInch;
  HFONT formFont_ = nullptr;
  HFONT clockFont_ = nullptr;
  int lineHeight_ = 1;  // of a line of the form font, in pixels
  HWND tips_ = nullptr;
  std::array<bool, velk::window::kControlCount> hasTip_{};
  // Gives controls their accessible descriptions; null where the system has
  // none to offer.
  IAccPropServices* accessibility_ = nullptr;

  // Text colours set by the program; the system's own until then.
  std::array<std::optional<COLORREF>, velk::window::kControlCount> textColours_{};
  std::array<bool, velk::window::kControlCount> warnings_{};

  // Folders whose changes wake the watch loop early, by a posted message.
  velk::platform::FolderChanges folderChanges_;

  velk::Session session_;
};
