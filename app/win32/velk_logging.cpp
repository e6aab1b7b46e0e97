#include "app/win32/velk_logging.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/win32/resources.h"
#include "clock/period_clock.h"

namespace {

namespace table = velk::window;

constexpr wchar_t kWindowClass[] = L"VELK_Logging";
constexpr UINT_PTR kTimer1 = 1;
// Posted to drop the selection the dialog manager gives the log box when the
// focus tabs into it: a selection would hide the colour that tells the log's
// state.
constexpr UINT kDeselectLogFile = WM_APP + 1;
// Changes in the decode file's folder that can mean the file grew or was
// replaced.
constexpr DWORD kFolderChanges =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE;

// The window's own style: a fixed frame, as nothing follows a change of size.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

std::wstring Widened(std::string_view text, UINT codePage) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
  return wide;
}

// Paths and texts inside the program are UTF-8.
std::wstring FromUtf8(std::string_view text) {
  return Widened(text, CP_UTF8);
}

std::string ToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

COLORREF ToColorRef(velk::Colour colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

// The folder part of a path: everything before its last separator.
std::string FolderOf(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  if (separator == std::string::npos) return ".";
  if (separator == 0) return path.substr(0, 1);
  return path.substr(0, separator);
}

// The monitor's dots per inch for a window: per monitor where the system
// tells it (Windows 10 and later), the screen's otherwise.
UINT DotsPerInchOf(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
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
  using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
  const auto adjustForDpi = reinterpret_cast<AdjustForDpiFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
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
                     DEFAULT_PITCH | FF_SWISS, FromUtf8(font.family).c_str());
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

}  // namespace

VELK_Logging::VELK_Logging(HINSTANCE instance)
    : instance_(instance), watcher_(*this, decodeFiles_) {}

VELK_Logging::~VELK_Logging() {
  StopWatchingFolders();
  if (window_ != nullptr) DestroyWindow(window_);
  if (formFont_ != nullptr) DeleteObject(formFont_);
  if (clockFont_ != nullptr) DeleteObject(clockFont_);
  if (accessibility_ != nullptr) accessibility_->Release();
  if (bigIcon_ != nullptr) DestroyIcon(bigIcon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

bool VELK_Logging::Create(int showCommand) {
  const INITCOMMONCONTROLSEX common{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);

  bigIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kVelkIcon), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                           LR_DEFAULTCOLOR));
  smallIcon_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(kVelkIcon), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance_;
  windowClass.hIcon = bigIcon_;
  windowClass.hIconSm = smallIcon_;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExW(&windowClass) == 0) return false;

  // Made at the design size first; its monitor then tells the scale.
  const SIZE designFrame =
      FrameSizeFor(table::kClientWidth, table::kClientHeight, table::kDesignDotsPerInch);
  window_ = CreateWindowExW(0, kWindowClass, FromUtf8(table::kTitle).c_str(), kWindowStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, designFrame.cx, designFrame.cy, nullptr,
                            nullptr, instance_, this);
  if (window_ == nullptr) return false;
  CreateControls();
  ScaleTo(DotsPerInchOf(window_));
  const SIZE frame =
      FrameSizeFor(Scaled(table::kClientWidth), Scaled(table::kClientHeight), dotsPerInch_);
  SetWindowPos(window_, nullptr, 0, 0, frame.cx, frame.cy,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Form_Load();
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
        ExtendedStyleOf(control), ClassOf(control.kind), FromUtf8(control.text).c_str(),
        StyleOf(control), 0, 0, 0, 0, window_,
        reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IdOf(id))), instance_, nullptr);
  }
  // The list only grows: no limit below the system's own on its length.
  SendMessageW(Control(table::Info), EM_SETLIMITTEXT, 0, 0);

  logFileTip_ =
      CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                      WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance_, nullptr);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(Control(table::LogFile));
  tool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(logFileTip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
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
    const table::Control& control = table::kControls[place];
    SendMessageW(controls_[place], WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(control)), TRUE);
    SetWindowPos(controls_[place], nullptr, Scaled(control.box.left), Scaled(control.box.top),
                 Scaled(control.box.width), Scaled(control.box.height),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  PlaceStartMsg();
  if (oldForm != nullptr) DeleteObject(oldForm);
  if (oldClock != nullptr) DeleteObject(oldClock);
}

// Tall enough for every line of the caption, so that the fallback path and
// the waiting message both show.
void VELK_Logging::PlaceStartMsg() {
  const table::Box& box = table::kControls[table::StartMsg].box;
  const HWND label = Control(table::StartMsg);
  const std::wstring caption = WindowText(label);
  RECT needed{0, 0, Scaled(box.width), 0};
  const HDC dc = GetDC(label);
  const HGDIOBJ previous = SelectObject(dc, formFont_);
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &needed,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, previous);
  ReleaseDC(label, dc);
  const int height = std::max(Scaled(box.height), static_cast<int>(needed.bottom));
  SetWindowPos(label, nullptr, 0, 0, Scaled(box.width), height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int VELK_Logging::Run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window_ != nullptr && IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
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
      if (wParam == kTimer1) Timer1_Timer();
      return 0;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
      if (const std::optional<LRESULT> brush =
              TextColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam))) {
        return *brush;
      }
      break;
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
    case WM_CLOSE:
      Form_Unload();
      return 0;
    case WM_ENDSESSION:
      // Windows is shutting down or the operator logs off: the program ends
      // as when its window is closed, its kept records rescued.
      if (wParam != 0 && !closing_) Form_Unload();
      return 0;
    case WM_DESTROY:
      StopWatchingFolders();
      if (accessibility_ != nullptr) {
        accessibility_->ClearHwndProps(Control(table::LogFile), static_cast<DWORD>(OBJID_CLIENT),
                                       CHILDID_SELF, &PROPID_ACC_DESCRIPTION, 1);
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
  if (control == nullptr) return;
  if (control == Control(table::Go) && code == BN_CLICKED) Go_Click();
  if (control == Control(table::LogLabel) && code == BN_CLICKED) LogLabel_Click();
  if (control == Control(table::LogFile) && code == EN_CHANGE) LogFile_Change();
  if (control == Control(table::LogFile) && code == EN_SETFOCUS) {
    PostMessageW(window_, kDeselectLogFile, 0, 0);
  }
}

// The clock's and the log box's text colours, on the system's background.
std::optional<LRESULT> VELK_Logging::TextColour(HDC dc, HWND control) {
  std::optional<COLORREF> colour;
  if (control == Control(table::TimeNow)) colour = timeNowColour_;
  if (control == Control(table::LogFile)) colour = logFileColour_;
  if (!colour) return std::nullopt;
  SetTextColor(dc, *colour);
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

// --- the handlers ---

void VELK_Logging::Form_Load() {
  SetTimer(window_, kTimer1, table::kTimer1IntervalMs, nullptr);
  settings_.LogFlag = 0;
}

void VELK_Logging::Form_Unload() {
  // The decode file and the log file are each opened for a single read or
  // write and closed before any message is handled, so neither is open here.
  // The window goes at once; the watch loop sees it gone at its yield and
  // ends without another pass, and the program leaves with status 0.
  // Records the log has not taken get a last, bounded try; those it still
  // does not take go to a rescue file, named on standard error.
  closing_ = true;
  KillTimer(window_, kTimer1);
  const std::string notice = logBook_.Close(settings_.Fi2);
  std::fputs(notice.c_str(), stderr);
  std::fflush(stderr);
  DestroyWindow(window_);
}

void VELK_Logging::Go_Click() {
  if (watching_ || closing_) return;
  watching_ = true;
  workingDirectory_ = velk::CurrentDirectory();
  watcher_.Run(workingDirectory_);
  watching_ = false;
}

void VELK_Logging::LogLabel_Click() {
  velk::LogLabelClick(*this, settings_, velk::CurrentDirectory());
  ShowLogNote();
}

void VELK_Logging::LogFile_Change() {
  velk::LogFileChange(*this);
}

void VELK_Logging::Timer1_Timer() {
  RetryKeptRecords();
  const velk::ClockFace face =
      velk::ClockFaceAt(timeOfDay_.SecondsSinceMidnight(std::chrono::system_clock::now()));
  const HWND timeNow = Control(table::TimeNow);
  // Many ticks a second: touch the box only when what it shows changes.
  const COLORREF colour = ToColorRef(face.colour);
  const std::wstring text(face.text.begin(), face.text.end());
  const bool recolour = timeNowColour_ != colour;
  timeNowColour_ = colour;
  if (WindowText(timeNow) != text) {
    SetWindowTextW(timeNow, text.c_str());
  } else if (recolour) {
    InvalidateRect(timeNow, nullptr, TRUE);
  }
}

void VELK_Logging::RetryKeptRecords() {
  // The log book writes and retries on a thread of its own; the timer only
  // shows what it did.
  const velk::LogBook::Progress progress = logBook_.TakeProgress();
  if (progress.written > 0) SetLogFileColour(velk::kRed);
  if (progress.written > 0 || progress.waiting > 0) ShowLogNote();
}

void VELK_Logging::ShowLogNote() {
  std::wstring note = FromUtf8(logBook_.Note(settings_.Fi2));
  const HWND logFile = Control(table::LogFile);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(logFile);
  tool.lpszText = note.data();
  // Wide enough for the path; a longer note breaks into lines.
  SendMessageW(logFileTip_, TTM_SETMAXTIPWIDTH, 0, Scaled(table::kClientWidth));
  SendMessageW(logFileTip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  if (accessibility_ != nullptr) {
    accessibility_->SetHwndPropStr(logFile, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                   PROPID_ACC_DESCRIPTION, note.c_str());
  }
}

// --- the watch loop's view of the window ---

bool VELK_Logging::LogArmed() const {
  return settings_.LogFlag == 1;
}

void VELK_Logging::SetLogFileColour(velk::Colour colour) {
  logFileColour_ = ToColorRef(colour);
  InvalidateRect(Control(table::LogFile), nullptr, TRUE);
}

void VELK_Logging::ShowStartMsg() {
  ShowWindow(Control(table::StartMsg), SW_SHOWNA);
}

void VELK_Logging::HideStartMsg() {
  ShowWindow(Control(table::StartMsg), SW_HIDE);
}

std::string VELK_Logging::StartMsgCaption() const {
  return ToUtf8(WindowText(Control(table::StartMsg)));
}

void VELK_Logging::SetStartMsgCaption(const std::string& caption) {
  SetWindowTextW(Control(table::StartMsg), FromUtf8(caption).c_str());
  PlaceStartMsg();
}

void VELK_Logging::ShowTimeNow() {
  ShowWindow(Control(table::TimeNow), SW_SHOWNA);
}

void VELK_Logging::HideGo() {
  MoveFocusFrom(Control(table::Go));
  ShowWindow(Control(table::Go), SW_HIDE);
}

void VELK_Logging::ShowInfo() {
  ShowWindow(Control(table::Info), SW_SHOWNA);
}

void VELK_Logging::AppendInfo(std::string_view displayLine) {
  // Shown at the yield that ends this pass: laying out the list then no
  // longer delays the decode's log record, written next in the same pass.
  // Nothing is painted before the yield, so the operator sees no difference.
  pendingInfo_ += displayLine;
}

void VELK_Logging::ShowPendingInfo() {
  if (pendingInfo_.empty()) return;
  // The decode file's bytes are 8-bit text in the system's code page.
  const std::wstring text = Widened(pendingInfo_, CP_ACP);
  pendingInfo_.clear();
  const HWND info = Control(table::Info);
  const bool following = InfoShowsItsEnd();
  const auto firstVisible = static_cast<int>(SendMessageW(info, EM_GETFIRSTVISIBLELINE, 0, 0));
  // Appended at the very end, after whatever the list holds (also text the
  // operator typed); the operator's caret and selection stay where they were.
  DWORD selectionStart = 0;
  DWORD selectionEnd = 0;
  SendMessageW(info, EM_GETSEL, reinterpret_cast<WPARAM>(&selectionStart),
               reinterpret_cast<LPARAM>(&selectionEnd));
  SendMessageW(info, WM_SETREDRAW, FALSE, 0);
  const int end = GetWindowTextLengthW(info);
  SendMessageW(info, EM_SETSEL, static_cast<WPARAM>(end), end);
  SendMessageW(info, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageW(info, EM_SETSEL, selectionStart, static_cast<LPARAM>(selectionEnd));
  // The list follows new decodes while it shows its end; scrolled back, the
  // operator's view stays where it is.
  if (following) {
    SendMessageW(info, WM_VSCROLL, SB_BOTTOM, 0);
  } else {
    ScrollInfoToLine(firstVisible);
  }
  SendMessageW(info, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(info, nullptr, TRUE);
}

// True while the list's last line is in view.
bool VELK_Logging::InfoShowsItsEnd() const {
  const HWND info = Control(table::Info);
  const auto lines = static_cast<int>(SendMessageW(info, EM_GETLINECOUNT, 0, 0));
  const auto firstVisible = static_cast<int>(SendMessageW(info, EM_GETFIRSTVISIBLELINE, 0, 0));
  RECT text{};
  SendMessageW(info, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
  const HDC dc = GetDC(info);
  const HGDIOBJ previous = SelectObject(dc, formFont_);
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, previous);
  ReleaseDC(info, dc);
  const int lineHeight = std::max(1, static_cast<int>(metrics.tmHeight));
  const int linesInView = std::max(1, static_cast<int>(text.bottom - text.top) / lineHeight);
  return firstVisible + linesInView >= lines;
}

void VELK_Logging::ScrollInfoToLine(int firstVisible) {
  const HWND info = Control(table::Info);
  const auto now = static_cast<int>(SendMessageW(info, EM_GETFIRSTVISIBLELINE, 0, 0));
  if (now != firstVisible) SendMessageW(info, EM_LINESCROLL, 0, firstVisible - now);
}

void VELK_Logging::AppendLogRecord(const velk::LogRecord& record) {
  // Red comes when the log book tells the timer a record is in the file; a
  // record that cannot be written is kept and the colour stays as it was.
  logBook_.Append(settings_.Fi2, record);
}

bool VELK_Logging::Yield() {
  ShowPendingInfo();
  if (!DispatchPending()) return false;
  // While a large growth is worked through, the next slice follows as soon
  // as the pending messages are handled.
  if (watcher_.Busy()) return true;
  WaitForMessageOrChange();
  return DispatchPending();
}

bool VELK_Logging::DispatchPending() {
  MSG message;
  while (!closing_ && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // For the message loop that runs once the watch loop has ended.
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    if (IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return !closing_;
}

// Sleeps until a message arrives or a watched folder changes; never a spin:
// the clock's timer wakes it many times a second in any case.
void VELK_Logging::WaitForMessageOrChange() {
  WatchFolders();
  std::array<HANDLE, 2> changes{};
  DWORD count = 0;
  for (const FolderWatch& watch : folderWatches_) {
    if (watch.change != INVALID_HANDLE_VALUE) changes[count++] = watch.change;
  }
  const DWORD woke = MsgWaitForMultipleObjectsEx(count, changes.data(), INFINITE, QS_ALLINPUT,
                                                 MWMO_INPUTAVAILABLE);
  if (woke >= WAIT_OBJECT_0 + count) return;
  // Asks for the next change in that folder.
  for (FolderWatch& watch : folderWatches_) {
    if (watch.change != changes[woke - WAIT_OBJECT_0]) continue;
    if (!FindNextChangeNotification(watch.change)) {
      FindCloseChangeNotification(watch.change);
      watch.change = INVALID_HANDLE_VALUE;
    }
  }
}

namespace {

// Watches `folder` from now on, unless it is already watched. A folder that
// cannot be watched (it does not exist) is not tried again: the clock's
// ticks still bring the next poll.
void Watch(const std::string& folder, HANDLE& change, std::string& watched) {
  if (watched == folder) return;
  if (change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(change);
  watched = folder;
  change = folder.empty()
               ? INVALID_HANDLE_VALUE
               : FindFirstChangeNotificationW(FromUtf8(folder).c_str(), FALSE, kFolderChanges);
}

}  // namespace

void VELK_Logging::WatchFolders() {
  FolderWatch& working = folderWatches_[0];
  FolderWatch& followed = folderWatches_[1];
  Watch(workingDirectory_, working.change, working.folder);
  const std::string decodeFolder = FolderOf(watcher_.DecodePath());
  Watch(decodeFolder != workingDirectory_ ? decodeFolder : std::string(), followed.change,
        followed.folder);
}

void VELK_Logging::StopWatchingFolders() {
  for (FolderWatch& watch : folderWatches_) {
    if (watch.change != INVALID_HANDLE_VALUE) FindCloseChangeNotification(watch.change);
    watch = FolderWatch{};
  }
}

// Hands the keyboard focus on before a control that holds it is hidden or
// disabled, so that the keyboard keeps working.
void VELK_Logging::MoveFocusFrom(HWND control) {
  if (GetFocus() != control) return;
  const HWND next = GetNextDlgTabItem(window_, control, FALSE);
  SetFocus(next != control ? next : window_);
}

// --- arming the log ---

void VELK_Logging::ShowLogFile() {
  ShowWindow(Control(table::LogFile), SW_SHOWNA);
}

void VELK_Logging::SetLogLabelCaption(std::string_view caption) {
  SetWindowTextW(Control(table::LogLabel), FromUtf8(caption).c_str());
}

std::string VELK_Logging::LogFileText() const {
  return ToUtf8(WindowText(Control(table::LogFile)));
}

void VELK_Logging::SetLogFileText(const std::string& text) {
  // The box tells the change (EN_CHANGE, and so LogFile_Change) before
  // SetWindowText returns, as typing does; only a different text is a change.
  const std::wstring wide = FromUtf8(text);
  if (WindowText(Control(table::LogFile)) != wide) {
    SetWindowTextW(Control(table::LogFile), wide.c_str());
  }
}

void VELK_Logging::DisableLogLabel() {
  MoveFocusFrom(Control(table::LogLabel));
  EnableWindow(Control(table::LogLabel), FALSE);
}

std::string VELK_Logging::UpperCase(const std::string& text) const {
  // The system's own rules, for every script the name may be typed in.
  std::wstring wide = FromUtf8(text);
  CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return ToUtf8(wide);
}
