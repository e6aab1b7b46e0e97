// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt window on the offscreen platform: its controls built from the
// window's table, the routing of its events to the session, its colours,
// the list's scrolling and caret, and its yield, which runs the watch loop
// inside the toolkit's own event handling.

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/qt/velk_logging.h"
#include "session/window_table.h"

namespace {

constexpr char kWorkedExample[] = "0712    3  -23  0.3   -5    3 *    ABC DEF GH";
constexpr char kWorkedDisplay[] = " 0712z   Sync= 3  dB=-23  DT= .3  DF=-5  W= 3     ABC DEF GH";
// A decode as wide as half of the decoder's are.
constexpr char kTypicalDecode[] = "1032    7  -10 -2.3  218    4 *    EW5U S8IUD -22";
constexpr char kTypicalDisplay[] =
    " 1032z   Sync= 7  dB=-10  DT=-2.3  DF= 218  W= 4     EW5U S8IUD -22";

void Append(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
  QCOMPARE(file.write(bytes), bytes.size());
}

QString Today() {
  return QDate::currentDate().toString("yyyy/MM/dd");
}

// A step of a scenario run inside the watch loop. It must not block: the
// loop is waiting under it. A step returns true when it is done; one that
// returns false is tried again a moment later, until it holds or the
// scenario gives up.
using Step = std::function<bool()>;

// Clicks Go and runs `steps` one after another from inside the watch loop,
// then closes the window, which must end the loop and the application's
// event loop. Returns the number of steps that completed; the exit code of
// the event loop goes to `exitCode`.
qsizetype WhileWatching(VELK_Logging& window, const QList<Step>& steps, int* exitCode = nullptr) {
  constexpr qint64 kPatienceMs = 5000;
  QEventLoop application;
  qsizetype next = 0;
  QElapsedTimer sinceLastStep;
  QTimer ticker;
  ticker.setInterval(2);
  QObject::connect(&ticker, &QTimer::timeout, &window, [&] {
    if (next == steps.size() || sinceLastStep.elapsed() > kPatienceMs) {
      ticker.stop();
      window.close();
      return;
    }
    if (steps[next]()) {
      ++next;
      sinceLastStep.restart();
    }
  });
  QTimer::singleShot(0, &window, [&] {
    sinceLastStep.start();
    ticker.start();
    window.findChild<QPushButton*>("Go")->click();
  });
  const int code = application.exec();
  if (exitCode) *exitCode = code;
  return next;
}

// A step that lets `ms` milliseconds pass.
Step Pause(int ms) {
  auto started = std::make_shared<QElapsedTimer>();
  return [started, ms] {
    if (!started->isValid()) started->start();
    return started->elapsed() >= ms;
  };
}

// The rectangle a control draws its caption or text in, as its style lays
// it out.
QRect TextArea(QWidget* control) {
  QStyle* style = control->style();
  if (auto* button = qobject_cast<QPushButton*>(control)) {
    QStyleOptionButton option;
    option.initFrom(button);
    return style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
  }
  if (auto* box = qobject_cast<QLineEdit*>(control)) {
    QStyleOptionFrame option;
    option.initFrom(box);
    option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, box);
    return style->subElementRect(QStyle::SE_LineEditContents, &option, box);
  }
  if (auto* list = qobject_cast<QPlainTextEdit*>(control)) {
    const int margin = qCeil(list->document()->documentMargin());
    return list->viewport()->contentsRect().adjusted(margin, margin, -margin, -margin);
  }
  return control->contentsRect();
}

// The working directory of one test: a fresh temporary directory.
class WorkingDirectory {
 public:
  WorkingDirectory() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
  ~WorkingDirectory() { QDir::setCurrent(previous_); }
  QString File(const QString& name) const { return dir_.filePath(name); }
  QString Path() const { return QDir::currentPath(); }

 private:
  QTemporaryDir dir_;
  QString previous_;
};

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initialLayout() {
    WorkingDirectory work;  // one VELK_LOG per folder: each test has its own
    VELK_Logging window;
    // Looked at before any event is processed: the clock's first tick, a
    // millisecond after load, fills TimeNow.
    window.show();
    QCOMPARE(window.windowTitle(), QString("VELK Logger  TANDO"));
    QCOMPARE(window.size(), QSize(480, 248));
    QVERIFY(!window.windowIcon().isNull());
    QVERIFY(window.windowIcon().availableSizes().contains(QSize(32, 32)));
    QVERIFY(window.windowIcon().availableSizes().contains(QSize(16, 16)));

    for (const velk::window::Control& control : velk::window::kControls) {
      const QString name = QString::fromUtf8(control.name.data(), control.name.size());
      auto* widget = window.findChild<QWidget*>(name);
      QVERIFY2(widget, qPrintable(name));
      QCOMPARE(widget->geometry(),
               QRect(control.box.left, control.box.top, control.box.width, control.box.height));
      QCOMPARE(widget->isVisible(), control.visible);
      QString text;
      if (auto* button = qobject_cast<QPushButton*>(widget)) text = button->text();
      if (auto* line = qobject_cast<QLineEdit*>(widget)) text = line->text();
      if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
      if (auto* list = qobject_cast<QPlainTextEdit*>(widget)) text = list->toPlainText();
      QCOMPARE(text, QString::fromUtf8(control.text.data(), control.text.size()));
    }
    auto* timeNow = window.findChild<QLineEdit*>("TimeNow");
    QCOMPARE(timeNow->font().family(), QString("MS Sans Serif"));
    QCOMPARE(timeNow->font().pixelSize(), 16);  // 12 points at 96 dots per inch
    QVERIFY(timeNow->font().bold());
    QCOMPARE(timeNow->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(window.findChild<QPlainTextEdit*>("Info")->verticalScrollBarPolicy(),
             Qt::ScrollBarAlwaysOn);
    QVERIFY(window.findChild<QPushButton*>("LogLabel")->isEnabled());
    QCOMPARE(window.session().LogFlag(), 0);
    QVERIFY(window.session().Fi2().empty());
  }

  void tabOrderAndAccessibleNames() {
    WorkingDirectory work;  // one VELK_LOG per folder: each test has its own
    VELK_Logging window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Reveal every control so the focus chain can be walked.
    for (QWidget* child : window.findChildren<QWidget*>()) child->show();
    const QStringList order = {"TimeNow", "Go", "LogLabel", "LogFile", "Info"};
    for (int i = 0; i + 1 < order.size(); ++i) {
      QCOMPARE(window.findChild<QWidget*>(order[i])->nextInFocusChain(),
               window.findChild<QWidget*>(order[i + 1]));
    }
    QCOMPARE(window.findChild<QWidget*>("TimeNow")->accessibleName(), QString("Clock"));
    QCOMPARE(window.findChild<QWidget*>("LogFile")->accessibleName(), QString("Log file path"));
    QCOMPARE(window.findChild<QWidget*>("Info")->accessibleName(), QString("Decodes"));
    // A control's tooltip is also its accessible description.
    auto* go = window.findChild<QWidget*>("Go");
    QVERIFY(go->toolTip().startsWith("Follows " + work.Path() + "/ALL.TXT"));
    QCOMPARE(go->accessibleDescription(), go->toolTip());
  }

  void programTextChangeRaisesChangeEvent() {
    WorkingDirectory work;  // one VELK_LOG per folder: each test has its own
    VELK_Logging window;
    auto* logFile = window.findChild<QLineEdit*>("LogFile");
    auto* logLabel = window.findChild<QPushButton*>("LogLabel");
    logFile->setText("abc");
    QCOMPARE(logLabel->text(), QString("Set It"));
  }

  void closeBeforeGoEndsProgram() {
    WorkingDirectory work;  // one VELK_LOG per folder: each test has its own
    VELK_Logging window;
    window.show();
    QEventLoop application;
    QTimer::singleShot(0, &window, [&] { window.close(); });
    QCOMPARE(application.exec(), 0);
    QVERIFY(!window.isVisible());
  }

  void armingExchange() {
    WorkingDirectory work;
    VELK_Logging window;
    window.show();
    auto* logFile = window.findChild<QLineEdit*>("LogFile");
    auto* logLabel = window.findChild<QPushButton*>("LogLabel");

    QTest::mouseClick(logLabel, Qt::LeftButton);
    QVERIFY(logFile->isVisible());
    QCOMPARE(logLabel->text(), QString("Set Log File"));
    QCOMPARE(window.session().LogFlag(), 0);

    QTest::keyClicks(logFile, "mylog");
    QCOMPARE(logLabel->text(), QString("Set It"));
    QTest::mouseClick(logLabel, Qt::LeftButton);
    const QString expected = work.Path() + "/MYLOG.TXT";
    QCOMPARE(logFile->text(), expected);
    QCOMPARE(QString::fromStdString(window.session().Fi2()), expected);
    QCOMPARE(window.session().LogFlag(), 1);
    QCOMPARE(logLabel->text(), QString("Log File"));
    QVERIFY(!logLabel->isEnabled());

    // Typing after arming only changes the caption.
    QTest::keyClicks(logFile, "x");
    QCOMPARE(logLabel->text(), QString("Set It"));
    QCOMPARE(QString::fromStdString(window.session().Fi2()), expected);
  }

  void clockRunsFromLoad() {
    WorkingDirectory work;  // one VELK_LOG per folder: each test has its own
    VELK_Logging window;
    window.show();
    auto* timeNow = window.findChild<QLineEdit*>("TimeNow");
    QTRY_VERIFY(!timeNow->text().isEmpty());
    QVERIFY(!timeNow->isVisible());
    const QTime shown = QTime::fromString(timeNow->text(), "HH:mm:ss");
    QVERIFY(shown.isValid());
    QVERIFY(qAbs(shown.secsTo(QTime::currentTime())) <= 2);
    const QColor colour = timeNow->palette().color(QPalette::Text);
    QVERIFY(colour == QColor(255, 0, 0) || colour == QColor(0, 128, 64));
  }

  void goWatchesDecodeFile() {
    WorkingDirectory work;
    const QString decodePath = work.File("ALL.TXT");
    Append(decodePath, "");
    VELK_Logging window;
    window.show();
    auto* info = window.findChild<QPlainTextEdit*>("Info");
    auto* startMsg = window.findChild<QLabel*>("StartMsg");
    auto* go = window.findChild<QPushButton*>("Go");
    auto* timeNow = window.findChild<QLineEdit*>("TimeNow");

    const QString first = Today() + kWorkedDisplay + "\n";
    const QString second =
        "note " + Today() + " 0713z   Sync= 12  dB=-7  DT= 1.5  DF= 1200  W= 1     CQ K1ABC FN42\n";
    bool startState = false;
    QString beforeUnmarked;
    int exitCode = -1;
    const QList<Step> steps = {
        [&] {
          startState = window.session().Watching() && !go->isVisible() && startMsg->isVisible() &&
                       timeNow->isVisible() && !info->isVisible();
          Append(decodePath, QByteArray(kWorkedExample) + "\r\n");
          return true;
        },
        [&] { return info->isVisible() && info->toPlainText() == first; },
        [&] {
          // Text typed at the end of the list stays; the next line follows it
          // and the caret stays after the typed text.
          info->moveCursor(QTextCursor::End);
          QTest::keyClicks(info, "note ");
          Append(decodePath, "0713   12   -7  1.5 1200    1 *    CQ K1ABC FN42\n");
          return true;
        },
        [&] { return info->toPlainText() == first + second; },
        [&] {
          beforeUnmarked = info->toPlainText();
          Append(decodePath, "0714 no marker here\n");
          return true;
        },
        Pause(50),
    };
    QCOMPARE(WhileWatching(window, steps, &exitCode), steps.size());
    QVERIFY(startState);
    QVERIFY(startMsg->isHidden());
    QVERIFY(!info->isHidden());
    QCOMPARE(info->toPlainText(), first + second);
    QCOMPARE(info->textCursor().position(), first.size() + 5);
    QCOMPARE(exitCode, 0);
    QVERIFY(!window.session().Watching());
  }

  void readableOnADesktopWithBigFonts() {
    const QFont desktopFont = QApplication::font();
    const auto restoreFont = qScopeGuard([&] { QApplication::setFont(desktopFont); });
    QApplication::setFont(QFont(desktopFont.family(), 14));
    WorkingDirectory work;
    const QString decodePath = work.File("ALL.TXT");
    Append(decodePath, "");
    VELK_Logging window;
    window.show();
    auto* info = window.findChild<QPlainTextEdit*>("Info");
    QScrollBar* scroll = info->verticalScrollBar();

    int appended = 0;
    const Step appendDecode = [&] {
      Append(decodePath, QByteArray(kTypicalDecode) + "\r\n");
      ++appended;
      return true;
    };
    const Step decodeShown = [&] { return info->toPlainText().count('\n') == appended; };
    QList<Step> steps;
    for (int i = 0; i < 20; ++i) steps << appendDecode << decodeShown;
    int readingAt = -1;
    int valueAfterDecode = -1;
    int maximumBefore = -1;
    steps <<
        [&] {
          // Scrolled up to read an earlier decode.
          readingAt = scroll->maximum() / 2;
          scroll->setValue(readingAt);
          return true;
        } << appendDecode
          << decodeShown;
    steps <<
        [&] {
          valueAfterDecode = scroll->value();
          maximumBefore = scroll->maximum();
          scroll->setValue(scroll->maximum());
          return true;
        } << appendDecode
          << decodeShown;
    steps << [&] { return scroll->maximum() > maximumBefore; };
    QCOMPARE(WhileWatching(window, steps), steps.size());
    QVERIFY(readingAt > 0);
    QCOMPARE(valueAfterDecode, readingAt);
    QCOMPARE(scroll->value(), scroll->maximum());

    const struct {
      const char* control;
      QString text;
    } texts[] = {
        {"Go", "Go"},
        {"LogLabel", "Set Log File"},
        {"StartMsg", "Waiting for first file update...."},
        {"TimeNow", "00:00:00"},
        {"Info", Today() + kWorkedDisplay},
        {"Info", Today() + kTypicalDisplay},
    };
    for (const auto& [name, text] : texts) {
      auto* control = window.findChild<QWidget*>(name);
      const QRect area = TextArea(control);
      const QFontMetrics metrics(control->font());
      QVERIFY2(metrics.horizontalAdvance(text) <= area.width() && metrics.height() <= area.height(),
               qPrintable(QString("%1: \"%2\" is %3 x %4 px, its area %5 x %6 px")
                              .arg(name, text)
                              .arg(metrics.horizontalAdvance(text))
                              .arg(metrics.height())
                              .arg(area.width())
                              .arg(area.height())));
    }
  }

  // With no decode file yet. The caption's line break is LF in Qt and CR LF
  // to the program: the fallback path goes above the waiting message once.
  void closeWhileWatchingEndsLoop() {
    WorkingDirectory work;
    VELK_Logging window;
    window.show();
    int exitCode = -1;
    WhileWatching(window, {Pause(20)}, &exitCode);
    QCOMPARE(window.findChild<QLabel*>("StartMsg")->text(),
             "C:\\Program Files\\VELK\\ALL.TXT\nWaiting for first file update....");
    QCOMPARE(exitCode, 0);
    QVERIFY(!window.session().Watching());
    QVERIFY(!window.isVisible());
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
