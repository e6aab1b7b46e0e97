#include "app/qt/velk_logging.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileSystemWatcher>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "session/window_table.h"
#include "clock/local_time_of_day.h"
#include "clock/period_clock.h"

// The icons are compiled into the window's static library; its resources
// must be registered by hand.
static void RegisterWindowResources() {
  Q_INIT_RESOURCE(resources);
}

namespace {

namespace table = velk::window;

constexpr int kPointsPerInch = 72;

constexpr table::Box kStartMsgBox = table::kControls[table::StartMsg].box;
// About a second of idle passes between checks that the change notifier
// still watches the decode file (it forgets a file that is replaced).
constexpr int kPassesBetweenRewatch = 1000;

QColor ToQColor(velk::Colour colour) {
  return QColor(colour.red, colour.green, colour.blue);
}

void SetTextColour(QWidget* box, const QColor& colour) {
  QPalette palette = box->palette();
  palette.setColor(QPalette::Text, colour);
  box->setPalette(palette);
}

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
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

VELK_Logging::VELK_Logging(QWidget* parent) : QWidget(parent), watcher_(*this, decodeFiles_) {
  CreateControls();
  Form_Load();
}

VELK_Logging::~VELK_Logging() = default;

void VELK_Logging::CreateControls() {
  RegisterWindowResources();
  setObjectName("VELK_Logging");
  setWindowTitle(FromUtf8(table::kTitle));
  setFixedSize(table::kClientWidth, table::kClientHeight);
  SubstituteFormFonts();
  setFont(ToQFont(table::kFormFont));
  QIcon icon;
  icon.addFile(":/icons/velk_32.png", QSize(32, 32));
  icon.addFile(":/icons/velk_16.png", QSize(16, 16));
  setWindowIcon(icon);

  // Created in tab order, from the window's table.
  QWidget* previous = nullptr;
  for (const table::Control& control : table::kControls) {
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
  }
  TimeNow = findChild<QLineEdit*>("TimeNow");
  Go = findChild<QPushButton*>("Go");
  LogLabel = findChild<QPushButton*>("LogLabel");
  LogFile = findChild<QLineEdit*>("LogFile");
  Info = findChild<QPlainTextEdit*>("Info");
  StartMsg = findChild<QLabel*>("StartMsg");

  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setTimerType(Qt::PreciseTimer);

  changeNotifier_ = new QFileSystemWatcher(this);

  LogFile->installEventFilter(this);

  connect(Go, &QPushButton::clicked, this, &VELK_Logging::Go_Click);
  connect(LogLabel, &QPushButton::clicked, this, &VELK_Logging::LogLabel_Click);
  connect(LogFile, &QLineEdit::textChanged, this, &VELK_Logging::LogFile_Change);
  connect(Timer1, &QTimer::timeout, this, &VELK_Logging::Timer1_Timer);
  connect(changeNotifier_, &QFileSystemWatcher::fileChanged, this,
          [this] { passesUntilRewatch_ = 0; });
  // A decode file created, replaced or deleted in the working directory.
  connect(changeNotifier_, &QFileSystemWatcher::directoryChanged, this,
          [this] { passesUntilRewatch_ = 0; });
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

bool VELK_Logging::eventFilter(QObject* watched, QEvent* event) {
  // Disabling "Log File" or hiding "Go" while it has the focus hands the
  // focus on to the log box, which then selects its whole text; a selection
  // would hide the colour that tells the log's state.
  if (watched == LogFile && event->type() == QEvent::FocusIn) {
    QTimer::singleShot(0, LogFile, [this] { LogFile->deselect(); });
  }
  return QWidget::eventFilter(watched, event);
}

void VELK_Logging::Form_Load() {
  Timer1->setInterval(1);
  Timer1->start();
  settings_.LogFlag = 0;
}

void VELK_Logging::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

void VELK_Logging::Form_Unload() {
  // The decode file and the log file are each opened for a single read or
  // write and closed before any window event is handled, so neither is open
  // here. The watch loop sees closing_ when its yield returns and ends
  // without another pass; the application then leaves its event loop.
  // Records the log has not taken get a last, bounded try; those it still
  // does not take go to a rescue file, named on standard error.
  closing_ = true;
  Timer1->stop();
  const std::string notice = logBook_.Close(settings_.Fi2);
  std::fputs(notice.c_str(), stderr);
  QCoreApplication::exit(0);
}

void VELK_Logging::Go_Click() {
  if (watching_ || closing_) return;
  watching_ = true;
  const std::string directory = velk::CurrentDirectory();
  // Wakes the loop at once for a decode file that appears there after Go.
  changeNotifier_->addPath(QString::fromStdString(directory));
  watcher_.Run(directory);
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
  // A thousand ticks a second: touch the box only when what it shows changes.
  const QColor colour = ToQColor(face.colour);
  if (TimeNow->palette().color(QPalette::Text) != colour) SetTextColour(TimeNow, colour);
  const QString text =
      QString::fromLatin1(face.text.data(), static_cast<qsizetype>(face.text.size()));
  if (TimeNow->text() != text) TimeNow->setText(text);
}

void VELK_Logging::RetryKeptRecords() {
  // The log book writes and retries on a thread of its own; the timer only
  // shows what it did.
  const velk::LogBook::Progress progress = logBook_.TakeProgress();
  if (progress.written > 0) SetLogFileColour(velk::kRed);
  if (progress.written > 0 || progress.waiting > 0) ShowLogNote();
}

void VELK_Logging::ShowLogNote() {
  const QString note = FromUtf8(logBook_.Note(settings_.Fi2));
  LogFile->setToolTip(note);
  LogFile->setAccessibleDescription(note);
}

// --- the watch loop's view of the window ---

bool VELK_Logging::LogArmed() const {
  return settings_.LogFlag == 1;
}

void VELK_Logging::SetLogFileColour(velk::Colour colour) {
  SetTextColour(LogFile, ToQColor(colour));
}

void VELK_Logging::ShowStartMsg() {
  StartMsg->show();
}

void VELK_Logging::HideStartMsg() {
  StartMsg->hide();
}

std::string VELK_Logging::StartMsgCaption() const {
  // The label shows line breaks as LF; the caption's own line end is CR LF.
  return StartMsg->text().replace('\n', "\r\n").toStdString();
}

void VELK_Logging::SetStartMsgCaption(const std::string& caption) {
  StartMsg->setText(FromUtf8(caption).replace("\r\n", "\n"));
  // Tall enough for every line of the caption, so the fallback path and the
  // waiting message both show.
  StartMsg->resize(kStartMsgBox.width,
                   std::max(kStartMsgBox.height, StartMsg->sizeHint().height()));
}

void VELK_Logging::ShowTimeNow() {
  TimeNow->show();
}

void VELK_Logging::HideGo() {
  Go->hide();
}

void VELK_Logging::ShowInfo() {
  Info->show();
}

void VELK_Logging::AppendInfo(std::string_view displayLine) {
  // Shown at the yield that ends this pass: laying out the list then no
  // longer delays the decode's log record, written next in the same pass.
  // Nothing is painted before the yield, so the operator sees no difference.
  pendingInfo_ += displayLine;
}

void VELK_Logging::ShowPendingInfo() {
  if (pendingInfo_.empty()) return;
  // The decode file's bytes are 8-bit text in the system's encoding.
  QString text =
      QString::fromLocal8Bit(pendingInfo_.data(), static_cast<qsizetype>(pendingInfo_.size()));
  pendingInfo_.clear();
  text.replace("\r\n", "\n");
  // The view follows new decodes while it shows the end of the list; an
  // operator reading further up keeps the view, and the caret of someone
  // typing in the list stays where it is.
  QScrollBar* scroll = Info->verticalScrollBar();
  const bool following = scroll->value() == scroll->maximum();
  const int viewed = scroll->value();
  const QTextCursor caret = Info->textCursor();
  const int caretAnchor = caret.anchor();
  const int caretPosition = caret.position();
  // Appended at the very end, after whatever the list holds (also text the
  // operator typed), without rebuilding the list's text.
  QTextCursor end(Info->document());
  end.movePosition(QTextCursor::End);
  end.insertText(text);
  if (caret.anchor() != caretAnchor || caret.position() != caretPosition) {
    // A caret at the end was pushed along by the new text.
    QTextCursor kept(Info->document());
    kept.setPosition(caretAnchor);
    kept.setPosition(caretPosition, QTextCursor::KeepAnchor);
    Info->setTextCursor(kept);
  }
  scroll->setValue(following ? scroll->maximum() : viewed);
}

void VELK_Logging::AppendLogRecord(const velk::LogRecord& record) {
  // Red comes when the log book tells the timer a record is in the file; a
  // record that cannot be written is kept and the colour stays as it was.
  logBook_.Append(settings_.Fi2, record);
}

bool VELK_Logging::Yield() {
  ShowPendingInfo();
  if (--passesUntilRewatch_ <= 0 || notifiedPath_ != watcher_.DecodePath()) {
    WatchDecodeFileForChanges();
  }
  // While a large growth is worked through, the next slice follows as soon
  // as the pending events are handled.
  QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
  if (!watcher_.Busy()) flags |= QEventLoop::WaitForMoreEvents;
  QCoreApplication::processEvents(flags);
  return !closing_;
}

void VELK_Logging::WatchDecodeFileForChanges() {
  passesUntilRewatch_ = kPassesBetweenRewatch;
  notifiedPath_ = watcher_.DecodePath();
  const QString path = QString::fromStdString(notifiedPath_);
  const QStringList watched = changeNotifier_->files();
  if (watched.contains(path)) return;
  if (!watched.isEmpty()) changeNotifier_->removePaths(watched);
  // Fails quietly while the file does not exist; tried again later.
  changeNotifier_->addPath(path);
}

// --- arming the log ---

void VELK_Logging::ShowLogFile() {
  LogFile->show();
}

void VELK_Logging::SetLogLabelCaption(std::string_view caption) {
  LogLabel->setText(FromUtf8(caption));
}

std::string VELK_Logging::LogFileText() const {
  return LogFile->text().toStdString();
}

void VELK_Logging::SetLogFileText(const std::string& text) {
  LogFile->setText(QString::fromStdString(text));
}

void VELK_Logging::DisableLogLabel() {
  LogLabel->setEnabled(false);
}

std::string VELK_Logging::UpperCase(const std::string& text) const {
  return QString::fromStdString(text).toUpper().toStdString();
}
