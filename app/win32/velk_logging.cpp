// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/velk_logging.h"

#include <commctrl.h>

#include <algorithm>
#include <iostream>

#include "app/win32/resources.h"
#include "common/path.h"
#include "common/utf16.h"

namespace {

namespace table = velk::window;

constexpr wchar_t kWindowClass[] = L"VELK_Logging";
constexpr UINT_PTR kTimer1 = 1;
// Posted to drop the selection the dialog manager gives the log box when the
// focus tabs into it: a selection would hide the colour that tells the log's
// state.
constexpr UINT kDeselectLogFile = WM_APP + 1;
// Posted by the folder watch when a watched folder changed.
constexpr UINT kFolderChanged = WM_APP + 2;

// The window's own style: it may be enlarged to read long decodes.
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW;

using velk::platform::Utf16FromCodePage;
using velk::platform::Utf16FromUtf8;
using velk::platform::Utf8FromUtf16;

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

COLORREF ToColorRef(velk::Colour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

// A function of user32 that Windows before 10 lacks; null there.
template <typename Function>
Function User32Function(const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

// The monitor's dots per inch for a window: per monitor where the system
// tells it (Windows 10 and later), the screen's otherwise.
UINT DotsPerInchOf(HWND window) {
  const auto getDpiForWindow = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (getDpiForWindow != nullptr) {
    const UINT dpi = getDpiForWindow(window);
    if (dpi != 0) return dpi;
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : table::kDesignDotsPerInch;
}

// The outer size of a window whose client area is `width` x `height`.
SIZE FrameSizeFor(int width, int height, UINT dotsPerInch) {
  RECT rect{0, 0, width, height};
  const auto adjustForDpi =
      User32Function<BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
  if (adjustForDpi != nullptr) {
    adjustForDpi(&rect, kWindowStyle, FALSE, 0, dotsPerInch);
  } else {
    AdjustWindowRectEx(&rect, kWindowStyle, FALSE, 0);
  }
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

HFONT CreateFontAt(const table::Font& font, UINT dotsPerInch) {
  return CreateFontW(-MulDiv(font.points, static_cast<int>(dotsPerInch), 72), 0, 0, 0,
                     font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, Utf16FromUtf8(font.family).c_str());
}

// The system class and styles of each kind of control.
const wchar_t* ClassOf(table::Kind kind) {
  switch (kind) {
    case table::Kind::kPushButton:
      return WC_BUTTONW;
    case table::Kind::kLabel:
      return WC_STATICW;
    case table::Kind::kTextBox:
    case table::Kind::kMultiLineTextBox:
      break;
  }
  return WC_EDITW;
}

DWORD StyleOf(const table::Control& control) {
  DWORD style = WS_CHILD | WS_TABSTOP | (control.visible ? WS_VISIBLE : 0);
  switch (control.kind) {
    case table::Kind::kPushButton:
      return style | BS_PUSHBUTTON;
    case table::Kind::kLabel:
      return (style & ~WS_TABSTOP) | SS_LEFT | SS_NOPREFIX;
    case table::Kind::kTextBox:
      return style | ES_AUTOHSCROLL | (control.centred ? ES_CENTER : ES_LEFT);
    case table::Kind::kMultiLineTextBox:
      return style | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN | ES_NOHIDESEL | WS_VSCROLL;
  }
  return style;
}

DWORD ExtendedStyleOf(const table::Control& control) {
  const bool textBox =
      control.kind == table::Kind::kTextBox || control.kind == table::Kind::kMultiLineTextBox;
  return textBox ? WS_EX_CLIENTEDGE : 0;
}

// Control identifiers: the place in the table, from 100 on, clear of the
// identifiers the dialog manager sends for Enter and Esc (IDOK, IDCANCEL).
WORD IdOf(table::Id id) {
  return static_cast<WORD>(100 + id);
}

// The list keeps the newest lines; the oldest go, a tenth of the limit at a
// time, so that the list's text is not moved for every decode. The number
// of characters taken away from its start.
DWORD DropOldestLines(HWND list) {
  const auto lines = static_cast<int>(SendMessageW(list, EM_GETLINECOUNT, 0, 0));
  if (lines <= table::kListLines + table::kListLines / 10) return 0;
  const auto end = SendMessageW(list, EM_LINEINDEX, lines - table::kListLines, 0);
  if (end <= 0) return 0;
  SendMessageW(list, EM_SETSEL, 0, end);
  SendMessageW(list, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  return static_cast<DWORD>(end);
}

// A place in the list's text once `dropped` characters went from its start;
// a place inside them moves to the start.
DWORD AfterDropping(DWORD place, DWORD dropped) {
  return place > dropped ? place - dropped : 0;
}

void ScrollListToLine(HWND list, int firstVisible) {
  const auto now = static_cast<int>(SendMessageW(list, EM_GETFIRSTVISIBLELINE, 0, 0));
  if (now != firstVisible) SendMessageW(list, EM_LINESCROLL, 0, firstVisible - now);
}

}  // namespace

VELK_Logging::VELK_Logging(HINSTANCE instance)
    : instance_(instance), session_(*this, velk::CurrentDirectory(), std::cerr) {}

VELK_Logging::~VELK_Logging() {
  if (window_ != nullptr) DestroyWindow(window_);
  if (formFont_ != nullptr) DeleteObject(formFont_);
  if (clockFont_ != nullptr) DeleteObject(clockFont_);
  if (accessibility_ != nullptr) accessibility_->Release();
}

bool VELK_Logging::Create(int showCommand) {
  const INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance_;
  // The system takes the small icon from the same resource.
  windowClass.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(kVelkIcon));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExW(&windowClass) == 0) return false;

  // Made at the design size first; its monitor then tells the scale.
  const SIZE designFrame =
      FrameSizeFor(table::kClientWidth, table::kClientHeight, table::kDesignDotsPerInch);
  window_ = CreateWindowExW(0, kWindowClass, Utf16FromUtf8(table::kTitle).c_str(), kWindowStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, designFrame.cx, designFrame.cy, nullptr,
                            nullptr, instance_, this);
  if (window_ == nullptr) return false;
  CreateControls();
  ScaleTo(DotsPerInchOf(window_));
  const SIZE frame =
      FrameSizeFor(Scaled(table::kClientWidth), Scaled(table::kClientHeight), dotsPerInch_);
  SetWindowPos(window_, nullptr, 0, 0, frame.cx, frame.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  session_.Form_Load();
  if (session_.Closing()) return true;  // another VELK_LOG follows this folder
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  SetFocus(GetNextDlgTabItem(window_, nullptr, FALSE));
  return true;
}

void VELK_Logging::CreateControls() {
  // Created in tab order, which is the order the Tab key follows.
  for (std::size_t place = 0; place < table::kControlCount; ++place) {
    const table::Control& control = table::kControls[place];
    const auto id = static_cast<table::Id>(place);
    controls_[place] = CreateWindowExW(
        ExtendedStyleOf(control), ClassOf(control.kind), Utf16FromUtf8(control.text).c_str(),
        StyleOf(control), 0, 0, 0, 0, window_,
        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IdOf(id))), instance_, nullptr);
  }
  // The list only grows: no limit below the system's own on its length.
  SendMessageW(Control(table::Info), EM_SETLIMITTEXT, 0, 0);

  tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                          WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
  CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                   reinterpret_cast<void**>(&accessibility_));
}

int VELK_Logging::Scaled(int designPixels) const {
  return MulDiv(designPixels, static_cast<int>(dotsPerInch_), table::kDesignDotsPerInch);
}

HFONT VELK_Logging::FontFor(const table::Control& control) const {
  return control.font == &table::kClockFont ? clockFont_ : formFont_;
}

// Places the controls and makes the fonts for a monitor's scale.
void VELK_Logging::ScaleTo(UINT dotsPerInch) {
  dotsPerInch_ = dotsPerInch;
  const HFONT oldForm = formFont_;
  const HFONT oldClock = clockFont_;
  formFont_ = CreateFontAt(table::kFormFont, dotsPerInch_);
  clockFont_ = CreateFontAt(table::kClockFont, dotsPerInch_);
  for (std::size_t place = 0; place < table::kControlCount; ++place) {
    SendMessageW(controls_[place], WM_SETFONT,
                 reinterpret_cast<WPARAM>(FontFor(table::kControls[place])), TRUE);
  }
  const HDC dc = GetDC(window_);
  const HGDIOBJ previous = SelectObject(dc, formFont_);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, previous);
  ReleaseDC(window_, dc);
  lineHeight_ = std::max(1, static_cast<int>(metrics.tmHeight));
  PlaceControls();
  if (oldForm != nullptr) DeleteObject(oldForm);
  if (oldClock != nullptr) DeleteObject(oldClock);
}

// Each control where the table puts it in a client area of this size.
void VELK_Logging::PlaceControls() {
  RECT client{};
  GetClientRect(window_, &client);
  const int width = MulDiv(client.right, table::kDesignDotsPerInch, static_cast<int>(dotsPerInch_));
  const int height =
      MulDiv(client.bottom, table::kDesignDotsPerInch, static_cast<int>(dotsPerInch_));
  for (std::size_t place = 0; place < table::kControlCount; ++place) {
    const table::Box box = table::PlaceIn(table::kControls[place], width, height);
    SetWindowPos(controls_[place], nullptr, Scaled(box.left), Scaled(box.top), Scaled(box.width),
                 Scaled(box.height), SWP_NOZORDER | SWP_NOACTIVATE);
  }
  FitLabel(table::StartMsg);
}

// A label is tall enough for every line of its caption, so that the
// fallback path and the waiting message both show.
void VELK_Logging::FitLabel(table::Id id) {
  const table::Box& box = table::kControls[id].box;
  const HWND label = Control(id);
  const std::wstring caption = WindowText(label);
  RECT needed{0, 0, Scaled(box.width), 0};
  const HDC dc = GetDC(label);
  const HGDIOBJ previous = SelectObject(dc, formFont_);
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &needed,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  const int height = std::max(Scaled(box.height), static_cast<int>(needed.bottom));
  RECT placed{};
  GetWindowRect(label, &placed);
  SetWindowPos(label, nullptr, 0, 0, placed.right - placed.left, height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::optional<table::Id> VELK_Logging::IdOfControl(HWND control) const {
  for (std::size_t place = 0; place < table::kControlCount; ++place) {
    if (control != nullptr && controls_[place] == control) return static_cast<table::Id>(place);
  }
  return std::nullopt;
}

int VELK_Logging::Run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(message);
  return 0;
}

LRESULT CALLBACK VELK_Logging::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* self = static_cast<VELK_Logging*>(creation->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<VELK_Logging*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT VELK_Logging::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == kTimer1) session_.Timer1_Timer();
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (const std::optional<LRESULT> brush =
              Colours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam))) {
        return *brush;
      }
      break;
    case kFolderChanged:
      folderChanges_.MessageHandled();
      session_.DecodeFileChanged();
      return 0;
    case kDeselectLogFile:
      SendMessageW(Control(table::LogFile), EM_SETSEL, static_cast<WPARAM>(-1), 0);
      return 0;
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      ScaleTo(HIWORD(wParam));
      SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_PAINT:
      PaintWarningBands();
      return 0;
    case WM_SIZE:
      PlaceControls();
      // The controls that moved with the bottom edge are drawn anew.
      RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      return 0;
    case WM_GETMINMAXINFO: {
      // Never smaller than the table's size.
      const SIZE least =
          FrameSizeFor(Scaled(table::kClientWidth), Scaled(table::kClientHeight), dotsPerInch_);
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = POINT{least.cx, least.cy};
      return 0;
    }
    case WM_CLOSE:
      session_.Form_Unload();
      return 0;
    case WM_ENDSESSION:
      // Windows is shutting down or the operator logs off: the program ends
      // as when its window is closed, its kept records rescued.
      if (wParam != 0) session_.Form_Unload();
      return 0;
    case WM_DESTROY:
      folderChanges_.Watch({});
      if (accessibility_ != nullptr) {
        for (HWND control : controls_) {
          accessibility_->ClearHwndProps(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                         &PROPID_ACC_DESCRIPTION, 1);
        }
      }
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      window_ = nullptr;
      controls_.fill(nullptr);
      break;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

// Notifications from the controls; Enter and Esc, which the dialog manager
// sends as commands without a control, mean nothing here.
void VELK_Logging::OnCommand(HWND control, WORD code) {
  const std::optional<table::Id> id = IdOfControl(control);
  if (!id) return;
  if (*id == table::Go && code == BN_CLICKED) session_.Go_Click();
  if (*id == table::LogLabel && code == BN_CLICKED) session_.LogLabel_Click();
  if (*id == table::LogFile && code == EN_CHANGE) session_.LogFile_Change();
  if (*id == table::LogFile && code == EN_SETFOCUS) PostMessageW(window_, kDeselectLogFile, 0, 0);
}

// The text colours the program set, where it set them, on the box's usual
// background.
std::optional<LRESULT> VELK_Logging::Colours(HDC dc, HWND control) {
  const std::optional<table::Id> id = IdOfControl(control);
  if (!id || !textColours_[*id]) return std::nullopt;
  SetTextColor(dc, *textColours_[*id]);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

// The amber band around each control in its warning state, in four strips
// around the control, which keeps its own colours.
void VELK_Logging::PaintWarningBands() {
  PAINTSTRUCT paint{};
  const HDC dc = BeginPaint(window_, &paint);
  const HBRUSH amber = CreateSolidBrush(ToColorRef(velk::kWarningAmber));
  const int band = Scaled(table::kWarningBand);
  for (std::size_t place = 0; place < table::kControlCount; ++place) {
    if (!warnings_[place] || !IsWindowVisible(controls_[place])) continue;
    RECT box{};
    GetWindowRect(controls_[place], &box);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&box), 2);
    const RECT strips[] = {
        {box.left - band, box.top - band, box.right + band, box.top},
        {box.left - band, box.bottom, box.right + band, box.bottom + band},
        {box.left - band, box.top, box.left, box.bottom},
        {box.right, box.top, box.right + band, box.bottom},
    };
    for (const RECT& strip : strips) FillRect(dc, &strip, amber);
  }
  DeleteObject(amber);
  EndPaint(window_, &paint);
}

// --- what the session does to the window ---

void VELK_Logging::SetVisible(table::Id control, bool visible) {
  if (!visible) MoveFocusFrom(Control(control));
  ShowWindow(Control(control), visible ? SW_SHOWNA : SW_HIDE);
  if (warnings_[control]) InvalidateRect(window_, nullptr, TRUE);
}

void VELK_Logging::Disable(table::Id control) {
  MoveFocusFrom(Control(control));
  EnableWindow(Control(control), FALSE);
}

std::string VELK_Logging::Text(table::Id control) const {
  return Utf8FromUtf16(WindowText(Control(control)));
}

void VELK_Logging::SetText(table::Id control, std::string_view text) {
  // An edit box tells the change (EN_CHANGE, and so LogFile_Change) before
  // SetWindowText returns, as typing does; only a different text is a
  // change.
  const std::wstring wide = Utf16FromUtf8(text);
  if (WindowText(Control(control)) == wide) return;
  SetWindowTextW(Control(control), wide.c_str());
  if (table::kControls[control].kind == table::Kind::kLabel) FitLabel(control);
}

void VELK_Logging::SetTextColour(table::Id control, velk::Colour colour) {
  textColours_[control] = ToColorRef(colour);
  InvalidateRect(Control(control), nullptr, TRUE);
}

void VELK_Logging::SetWarning(table::Id control, bool warning) {
  warnings_[control] = warning;
  InvalidateRect(window_, nullptr, TRUE);
}

void VELK_Logging::SetToolTip(table::Id control, std::string_view toolTip) {
  std::wstring text = Utf16FromUtf8(toolTip);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(Control(control));
  tool.lpszText = text.data();
  // Wide enough for a path; a longer tooltip breaks into lines.
  SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, Scaled(table::kClientWidth));
  SendMessageW(tips_, hasTip_[control] ? TTM_UPDATETIPTEXTW : TTM_ADDTOOLW, 0,
               reinterpret_cast<LPARAM>(&tool));
  hasTip_[control] = true;
  if (accessibility_ != nullptr) {
    accessibility_->SetHwndPropStr(Control(control), static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                   PROPID_ACC_DESCRIPTION, text.c_str());
  }
}

void VELK_Logging::AppendToList(std::string_view lines) {
  // The decode file's bytes are 8-bit text in the system's code page.
  const std::wstring text = Utf16FromCodePage(lines, CP_ACP);
  const HWND list = Control(table::Info);
  const auto firstVisible = static_cast<int>(SendMessageW(list, EM_GETFIRSTVISIBLELINE, 0, 0));
  const bool following = ListShowsItsEnd(firstVisible);
  // Appended at the very end, after whatever the list holds (also text the
  // operator typed); the operator's caret and selection stay where they were.
  DWORD selectionStart = 0;
  DWORD selectionEnd = 0;
  SendMessageW(list, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
               reinterpret_cast<LPARAM>(&selectionEnd));
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  const int end = GetWindowTextLengthW(list);
  SendMessageW(list, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(list, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  const DWORD dropped = DropOldestLines(list);
  SendMessageW(list, EM_SETSEL, AfterDropping(selectionStart, dropped),
               static_cast<LPARAM>(AfterDropping(selectionEnd, dropped)));
  // The list follows new decodes while it shows its end; scrolled back, the
  // operator's view stays where it is.
  if (following) {
    SendMessageW(list, WM_VSCROLL, SB_BOTTOM, 0);
  } else {
    ScrollListToLine(list, firstVisible);
  }
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

// True while the list's last line is in view.
bool VELK_Logging::ListShowsItsEnd(int firstVisible) const {
  const HWND list = Control(table::Info);
  const auto lines = static_cast<int>(SendMessageW(list, EM_GETLINECOUNT, 0, 0));
  RECT text{};
  SendMessageW(list, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
  const int linesInView = std::max(1, static_cast<int>(text.bottom - text.top) / lineHeight_);
  return firstVisible + linesInView >= lines;
}

std::string VELK_Logging::UpperCase(std::string_view text) const {
  // The system's own rules, for every script the name may be typed in.
  std::wstring wide = Utf16FromUtf8(text);
  CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return Utf8FromUtf16(wide);
}

void VELK_Logging::StartTimer1(std::chrono::milliseconds interval) {
  SetTimer(window_, kTimer1, static_cast<UINT>(interval.count()), nullptr);
}

// The system's notification on a folder covers the files in it, so the
// decode file needs no watch of its own.
void VELK_Logging::WakeOnChanges(const velk::WakePaths& paths) {
  folderChanges_.PostTo(window_, kFolderChanged);
  folderChanges_.Watch(paths.folders);
}

// Waiting, the loop sleeps in GetMessage alone and makes its pass after each
// message: a tick, a folder's change (posted by the folder watch), a click.
// Under Wine each call is a round trip to the Wine server, so a tick costs
// one call and no other look at the queue. Not waiting, it dispatches every
// pending message until the close begins. A WM_QUIT is put back for the
// message loop that runs once the watch loop has ended.
void VELK_Logging::ProcessEvents(bool wait) {
  MSG message;
  if (wait) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got > 0) Dispatch(message);
    if (got == 0) PostQuitMessage(static_cast<int>(message.wParam));
    return;
  }
  while (!session_.Closing() && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return PostQuitMessage(static_cast<int>(message.wParam));
    Dispatch(message);
  }
}

// The dialog manager first, for Tab, the arrows and the buttons' keys.
void VELK_Logging::Dispatch(MSG& message) {
  if (window_ != nullptr && IsDialogMessageW(window_, &message)) return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

// Hands the keyboard focus on before a control that holds it is hidden or
// disabled, so that the keyboard keeps working.
void VELK_Logging::MoveFocusFrom(HWND control) {
  if (GetFocus() != control) return;
  const HWND next = GetNextDlgTabItem(window_, control, FALSE);
  SetFocus(next != control ? next : window_);
}

void VELK_Logging::ShowMessage(std::string_view message) {
  MessageBoxW(window_, Utf16FromUtf8(message).c_str(), Utf16FromUtf8(table::kTitle).c_str(),
              MB_OK | MB_ICONINFORMATION);
}

void VELK_Logging::EndProgram() {
  DestroyWindow(window_);
}
