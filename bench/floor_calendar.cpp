// The start-up and memory floor: the same toolkit showing a window of the main
// window's size with a month calendar in it and, beside it, a window with a
// QScintilla edit box showing a line of text, and doing nothing else.
// With the argument "zh" the calendar speaks Chinese as the program's does,
// which brings in a CJK font: that separates the cost of the language from
// the cost of the program. With "plain" there is no edit box window.
#include <Qsci/qsciscintilla.h>

#include <QApplication>
#include <QCalendarWidget>
#include <QLocale>
#include <QWidget>
#include <cstring>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  bool chinese = false, editBox = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "zh") == 0) chinese = true;
    if (std::strcmp(argv[i], "plain") == 0) editBox = false;
  }
  if (chinese) QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
  QWidget window;
  window.setWindowTitle(QStringLiteral("Floor calendar"));
  // The main window's client area and its calendar's place in it.
  window.setFixedSize(300, 182);
  auto* calendar = new QCalendarWidget(&window);
  calendar->setGeometry(-1, -1, 302, 182);
  QWidget side;
  if (editBox) {
    side.setWindowTitle(QStringLiteral("Floor edit box"));
    side.setFixedSize(300, 182);
    auto* edit = new QsciScintilla(&side);
    edit->setUtf8(true);
    edit->setGeometry(0, 0, 300, 182);
    edit->setText(QString::fromUtf8(chinese ? "今天没有备忘的事情" : "Nothing noted for today"));
    side.move(420, 100);
    side.show();
  }
  window.move(100, 100);
  window.show();
  return app.exec();
}
