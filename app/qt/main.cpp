#include <QApplication>

#include "app/qt/velk_logging.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  VELK_Logging window;
  window.show();
  return application.exec();
}
