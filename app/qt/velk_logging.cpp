// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/velk_logging.h"

#include <xcb/xcb.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <iostream>

#include "common/path.h"

// The icons are compiled into the window's static library; its resources
// must be registered by hand.
static void RegisterWindowResources() {
  Q_INIT_RESOURCE(resources);
}

namespace {

namespace table = velk::window;

constexpr int kPointsPerInch = 72;

QColor ToQColor(velk::Colour colour) {
  return QColor(colour.red, colour.green, colour.blue);
}

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The Qt property that holds a control's text.
const char* TextProperty(table::Id control) {
  return table::kControls[control].kind == table::Kind::kMultiLineTextBox ? "plainText" : "text";
}

// "MS Sans Serif" is a Windows font. Where it is missing, the fonts closest
// to it in metrics stand in, rather than the desktop's default font.
void SubstituteFormFonts() {
  QFont::insertSubstitutions("MS Sans Serif", {"Liberation Sans", "DejaVu Sans Condensed"});
}

// The layout is drawn in pixels at 96 dots per inch, so its fonts are sized
// in the same pixels (8 points are 11 pixels there) and scale with the
// screen together with the controls, whatever the desktop's font settings.
// Whole-pixel glyph advances, as the bitmap font the layout was drawn for
// has, keep the widths the same on every desktop too.
QFont ToQFont(const table::Font& form) {
  QFont font(FromUtf8(form.family));
  font.setPixelSize((form.points * table::kDesignDotsPerInch + kPointsPerInch / 2) /
                    kPointsPerInch);
  font.setBold(form.bold);
  font.setHintingPreference(QFont::PreferFullHinting);
  return font;
}

}  // namespace

VELK_Logging::VELK_Logging(QWidget* parent)
    : QWidget(parent), session_(*this, velk::CurrentDirectory(), std::cerr) {
  CreateControls();
  ConnectEvents();
  session_.Form_Load();
}

VELK_Logging::~VELK_Logging() {
  QCoreApplication::instance()->removeNativeEventFilter(this);
}

void VELK_Logging::CreateControls() {
  RegisterWindowResources();
  setObjectName("VELK_Logging");
  setWindowTitle(FromUtf8(table::kTitle));
  // Opens at the table's size, and may be enlarged to read long decodes.
  resize(table::kClientWidth, table::kClientHeight);
  setMinimumSize(table::kClientWidth, table::kClientHeight);
  SubstituteFormFonts();
  setFont(ToQFont(table::kFormFont));
  QIcon icon;
  icon.addFile(":/icons/velk_32.png", QSize(32, 32));
  icon.addFile(":/icons/velk_16.png", QSize(16, 16));
  setWindowIcon(icon);

  // Created in tab order, from the window's table.
  QWidget* previous = nullptr;
  for (std::size_t place = 0; place < table::kControlCount; ++place) {
    const table::Control& control = table::kControls[place];
    QWidget* widget = CreateControl(control);
    widget->setObjectName(FromUtf8(control.name));
    widget->setGeometry(control.box.left, control.box.top, control.box.width, control.box.height);
    if (control.font != nullptr) widget->setFont(ToQFont(*control.font));
    if (!control.accessibleName.empty()) {
      widget->setAccessibleName(FromUtf8(control.accessibleName));
    }
    widget->setVisible(control.visible);
    if (previous != nullptr) setTabOrder(previous, widget);
    previous = widget;
    controls_[place] = widget;
  }

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setTimerType(Qt::PreciseTimer);
  changeNotifier_ = new FolderWatch(this);
}

// A control of the table's kind, with its first text.
QWidget* VELK_Logging::CreateControl(const table::Control& control) {
  const QString text = FromUtf8(control.text);
  switch (control.kind) {
    case table::Kind::kPushButton:
      return new QPushButton(text, this);
    case table::Kind::kLabel:
      return new QLabel(text, this);
    case table::Kind::kMultiLineTextBox: {
      auto* box = new QPlainTextEdit(text, this);
      box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
      box->setMaximumBlockCount(table::kListLines);
      // The list only grows; an undo history of every appended line would
      // grow beside it for nothing.
      box->setUndoRedoEnabled(false);
      return box;
    }
    case table::Kind::kTextBox:
      break;
  }
  auto* box = new QLineEdit(text, this);
  if (control.centred) box->setAlignment(Qt::AlignCenter);
  return box;
}

void VELK_Logging::ConnectEvents() {
  auto* go = static_cast<QPushButton*>(Control(table::Go));
  auto* logLabel = static_cast<QPushButton*>(Control(table::LogLabel));
  auto* logFile = static_cast<QLineEdit*>(Control(table::LogFile));
  connect(go, &QPushButton::clicked, this, [this] { session_.Go_Click(); });
  connect(logLabel, &QPushButton::clicked, this, [this] { session_.LogLabel_Click(); });
  connect(logFile, &QLineEdit::textChanged, this, [this] { session_.LogFile_Change(); });
  connect(Timer1, &QTimer::timeout, this, [this] { session_.Timer1_Timer(); });
  connect(changeNotifier_, &FolderWatch::Changed, this, [this] { session_.DecodeFileChanged(); });
  logFile->installEventFilter(this);
  QCoreApplication::instance()->installNativeEventFilter(this);
}

void VELK_Logging::resizeEvent(QResizeEvent* /*event*/) {
  PlaceControls();
}

// The amber band around each control in its warning state, drawn on the
// window behind it: the control keeps its own colours.
void VELK_Logging::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  for (std::size_t place = 0; place < table::kControlCount; ++place) {
    if (!warnings_[place] || !controls_[place]->isVisible()) continue;
    const QRect box = controls_[place]->geometry();
    const table::Box band =
        table::WarningBandAround({box.left(), box.top(), box.width(), box.height()});
    painter.fillRect(band.left, band.top, band.width, band.height, ToQColor(velk::kWarningAmber));
  }
}

void VELK_Logging::PlaceControls() {
  for (std::size_t place = 0; place < table::kControlCount; ++place) {
    const table::Box box = table::PlaceIn(table::kControls[place], width(), height());
    // A label is tall enough for every line of its caption.
    const int height = qobject_cast<QLabel*>(controls_[place])
                           ? std::max(box.height, controls_[place]->sizeHint().height())
                           : box.height;
    controls_[place]->setGeometry(box.left, box.top, box.width, height);
  }
}

bool VELK_Logging::eventFilter(QObject* watched, QEvent* event) {
  // Disabling "Log File" or hiding "Go" while it has the focus hands the
  // focus on to the log box, which then selects its whole text; a selection
  // would hide the colour that tells the log's state.
  auto* logFile = static_cast<QLineEdit*>(Control(table::LogFile));
  if (watched == logFile && event->type() == QEvent::FocusIn) {
    QTimer::singleShot(0, logFile, [logFile] { logFile->deselect(); });
  }
  return QWidget::eventFilter(watched, event);
}

void VELK_Logging::closeEvent(QCloseEvent* event) {
  session_.Form_Unload();
  event->accept();
}

// The window destroyed from outside (another X client) ends the program as
// its close button does; Qt would go on without a window.
bool VELK_Logging::nativeEventFilter(const QByteArray& type, void* message, qintptr* /*result*/) {
  if (type != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7f) != XCB_DESTROY_NOTIFY || internalWinId() == 0) return false;
  if (static_cast<const xcb_destroy_notify_event_t*>(message)->window == internalWinId()) {
    session_.Form_Unload();
  }
  return false;
}

// --- what the session does to the window ---

void VELK_Logging::SetVisible(table::Id control, bool visible) {
  Control(control)->setVisible(visible);
  if (warnings_[control]) update();
}

void VELK_Logging::Disable(table::Id control) {
  Control(control)->setEnabled(false);
}

std::string VELK_Logging::Text(table::Id control) const {
  // Qt shows line breaks as LF; the program's texts break with CR LF.
  return Control(control)
      ->property(TextProperty(control))
      .toString()
      .replace('\n', "\r\n")
      .toStdString();
}

void VELK_Logging::SetText(table::Id control, std::string_view text) {
  Control(control)->setProperty(TextProperty(control), FromUtf8(text).replace("\r\n", "\n"));
  if (table::kControls[control].kind == table::Kind::kLabel) PlaceControls();
}

void VELK_Logging::SetTextColour(table::Id control, velk::Colour colour) {
  QWidget* widget = Control(control);
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Text, ToQColor(colour));
  widget->setPalette(palette);
}

void VELK_Logging::SetWarning(table::Id control, bool warning) {
  warnings_[control] = warning;
  update();
}

void VELK_Logging::SetToolTip(table::Id control, std::string_view toolTip) {
  const QString text = FromUtf8(toolTip);
  Control(control)->setToolTip(text);
  Control(control)->setAccessibleDescription(text);
}

void VELK_Logging::AppendToList(std::string_view lines) {
  auto* list = static_cast<QPlainTextEdit*>(Control(table::Info));
  // The view follows new decodes while it shows the list's end; an operator
  // reading further up keeps the view, and the caret of someone typing in
  // the list stays where it is, also at the end.
  QScrollBar* scroll = list->verticalScrollBar();
  const bool following = scroll->value() == scroll->maximum();
  const int viewed = scroll->value();
  const int anchor = list->textCursor().anchor();
  const int position = list->textCursor().position();
  // Appended at the very end, after whatever the list holds, without
  // rebuilding its text. The decode file's bytes are 8-bit text in the
  // system's encoding.
  QTextCursor end(list->document());
  end.movePosition(QTextCursor::End);
  end.insertText(QString::fromLocal8Bit(lines.data(), static_cast<qsizetype>(lines.size()))
                     .replace("\r\n", "\n"));
  QTextCursor caret = list->textCursor();
  if (caret.anchor() != anchor || caret.position() != position) {
    // A caret at the end was pushed along by the new text.
    caret.setPosition(anchor);
    caret.setPosition(position, QTextCursor::KeepAnchor);
    list->setTextCursor(caret);
  }
  scroll->setValue(following ? scroll->maximum() : viewed);
}

std::string VELK_Logging::UpperCase(std::string_view text) const {
  return FromUtf8(text).toUpper().toStdString();
}

void VELK_Logging::StartTimer1(std::chrono::milliseconds interval) {
  Timer1->start(interval);
}

// Watched afresh each time, since a watch on a replaced file can be lost; the
// window never waits on a folder for it.
void VELK_Logging::WakeOnChanges(const velk::WakePaths& paths) {
  changeNotifier_->Renew(paths);
}

void VELK_Logging::ProcessEvents(bool wait) {
  QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
  if (wait) flags |= QEventLoop::WaitForMoreEvents;
  QCoreApplication::processEvents(flags);
}

void VELK_Logging::ShowMessage(std::string_view message) {
  QMessageBox::information(nullptr, FromUtf8(table::kTitle), FromUtf8(message));
}

void VELK_Logging::EndProgram() {
  Timer1->stop();
  hide();
  QCoreApplication::exit(0);
}
