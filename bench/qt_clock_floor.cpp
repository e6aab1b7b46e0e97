// SPDX-License-Identifier: GPL-3.0-or-later
// The least a window with a 1 ms clock costs: a Qt window whose only work is
// a 1 ms timer showing the time of day, red in even minutes and green in odd
// ones, touching its label only when the text or colour changes.
// scripts/bench measures its idle CPU in the same run as VELK_LOG's, as the
// floor VELK_LOG's idle figure is set against.

#include <QApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  QLabel clock;
  clock.setWindowTitle("Qt clock floor");
  clock.resize(200, 40);
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, &clock, [&clock] {
    const QTime now = QTime::currentTime();
    const QString text = now.toString("hh:mm:ss");
    const QString style = now.minute() % 2 == 0 ? "color: rgb(255,0,0)" : "color: rgb(0,128,64)";
    if (clock.styleSheet() != style) clock.setStyleSheet(style);
    if (clock.text() != text) clock.setText(text);
  });
  timer.start(1);
  clock.show();
  return application.exec();
}
