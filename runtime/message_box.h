// Message boxes in the style of the MB_ flags the program passes: which
// buttons a style shows, which id each button answers, and what Escape or the
// close box answers.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <functional>
#include <string_view>
#include <vector>

struct MessageButton {
  const char* text;
  int id;  // rt::IDOK ...
  QMessageBox::ButtonRole role;
};

// The buttons of an MB_ style (its low four bits), left to right.
std::vector<MessageButton> ButtonsFor(unsigned flags);
// The icon of an MB_ style (bits 4 to 7).
QMessageBox::Icon IconFor(unsigned flags);
// The answer of a box closed without a button (Escape, the close box): the
// cancel-like button where there is one, IDOK for a lone OK.
int AnswerWithoutButton(const std::vector<MessageButton>& buttons);
// The whole box as text, as Ctrl+C copies it: title, message and buttons
// between rules.
QString MessageBoxAsText(const QMessageBox& box);

// Shows a box and returns the pressed button's id. `open` holds the box while
// it is up, so ending the program can close it. `whileOpen` (tests) runs once
// the box is shown.
int ShowMessageBox(QWidget* parent, std::string_view title, std::string_view text, unsigned flags,
                   std::vector<QPointer<QMessageBox>>* open,
                   const std::function<void(QMessageBox&)>& whileOpen = {});
