// The start-up and memory floor: the same toolkit showing a window of the main
// window's size with a month calendar in it, and doing nothing else.
// With the argument "zh" the calendar speaks Chinese as the program's does,
// which brings in a CJK font: that separates the cost of the language from
// the cost of the program.
#include <QApplication>
#include <QCalendarWidget>
#include <QLocale>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc > 1 && std::strcmp(argv[1], "zh") == 0)
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  QWidget window;
  window.setWindowTitle(QStringLiteral("Floor calendar"));
  // The main window's client area and its calendar's place in it.
  window.setFixedSize(300, 182);
  auto* calendar = new QCalendarWidget(&window);
  calendar->setGeometry(-1, -1, 302, 182);
  window.show();
  return app.exec();
}
