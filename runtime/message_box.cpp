#include "runtime/message_box.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <map>

#include "base/runtime.h"

std::vector<MessageButton> ButtonsFor(unsigned flags) {
  using R = QMessageBox::ButtonRole;
  switch (flags & 0xF) {
    case rt::MB_OKCANCEL:
      return {{"确定", rt::IDOK, R::AcceptRole}, {"取消", rt::IDCANCEL, R::RejectRole}};
    case rt::MB_ABORTRETRYIGNORE:
      return {{"中止", rt::IDABORT, R::RejectRole},
              {"重试", rt::IDRETRY, R::AcceptRole},
              {"忽略", rt::IDIGNORE, R::AcceptRole}};
    case rt::MB_YESNOCANCEL:
      return {{"是", rt::IDYES, R::YesRole},
              {"否", rt::IDNO, R::NoRole},
              {"取消", rt::IDCANCEL, R::RejectRole}};
    case rt::MB_YESNO:
      return {{"是", rt::IDYES, R::YesRole}, {"否", rt::IDNO, R::NoRole}};
    case rt::MB_YESNONEVER:
      return {{"是", rt::IDYES, R::YesRole},
              {"否", rt::IDNO, R::NoRole},
              {"不再询问", rt::IDNEVER, R::RejectRole}};
    case rt::MB_RETRYCANCEL:
      return {{"重试", rt::IDRETRY, R::AcceptRole}, {"取消", rt::IDCANCEL, R::RejectRole}};
    default:
      return {{"确定", rt::IDOK, R::AcceptRole}};
  }
}

QMessageBox::Icon IconFor(unsigned flags) {
  switch (flags & 0xF0) {
    case rt::MB_ICONERROR:
      return QMessageBox::Critical;
    case rt::MB_ICONQUESTION:
      return QMessageBox::Question;
    case rt::MB_ICONWARNING:
      return QMessageBox::Warning;
    case rt::MB_ICONINFORMATION:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

int AnswerWithoutButton(const std::vector<MessageButton>& buttons) {
  // Cancel wins over No: leaving a yes/no/cancel question unanswered must
  // not count as the "no" that may throw something away.
  for (const int id : {rt::IDCANCEL, rt::IDNO}) {
    for (const MessageButton& b : buttons) {
      if (b.id == id) return id;
    }
  }
  // Abort/Retry/Ignore has no cancel; a lone OK is what closing means.
  return buttons.size() == 1 ? rt::IDOK : 0;
}

QString MessageBoxAsText(const QMessageBox& box) {
  const QString rule = QStringLiteral("---------------------------\n");
  QString buttonTexts;
  for (QAbstractButton* b : box.buttons()) buttonTexts += b->text() + QStringLiteral("   ");
  return rule + box.windowTitle() + "\n" + rule + box.text() + "\n" + rule + buttonTexts + "\n" +
         rule;
}

int ShowMessageBox(QWidget* parent, std::string_view title, std::string_view text, unsigned flags,
                   std::vector<QPointer<QMessageBox>>* open,
                   const std::function<void(QMessageBox&)>& whileOpen) {
  QMessageBox box(parent);
  box.setWindowTitle(QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
  box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
                  .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  box.setIcon(IconFor(flags));
  const std::vector<MessageButton> buttons = ButtonsFor(flags);
  std::map<QAbstractButton*, int> ids;
  for (const MessageButton& b : buttons) {
    ids[box.addButton(QString::fromUtf8(b.text), b.role)] = b.id;
  }
  // Ctrl+C copies the whole box as text, so what it said can be pasted
  // elsewhere.
  QShortcut copy(QKeySequence::Copy, &box);
  QObject::connect(&copy, &QShortcut::activated, &box,
                   [&box] { QGuiApplication::clipboard()->setText(MessageBoxAsText(box)); });
  if (whileOpen) QTimer::singleShot(0, &box, [&box, &whileOpen] { whileOpen(box); });
  if (open) open->push_back(&box);
  box.exec();
  if (open) open->pop_back();
  const auto it = ids.find(box.clickedButton());
  return it != ids.end() ? it->second : AnswerWithoutButton(buttons);
}
