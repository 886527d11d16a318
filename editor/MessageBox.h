#pragma once

#include <QMessageBox>
#include <QStringList>

#include <functional>

class QWidget;

// The program's one way of showing a message box: modal, plain text (a
// service's answer is shown as it is, never as markup), the normal cursor over
// it even while a busy cursor is set, and a text longer than the screen can show
// cut, with a note saying how many characters were left out, so the box and its
// buttons stay on the screen.
namespace messagebox {

// A message with an OK button.
void show(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text);
// A question with buttons of these captions; the index of the one pressed, or
// -1 when the box was closed otherwise.
int ask(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
        const QStringList& buttons, int defaultButton = 0);

// A message with an OK button that does not wait: for what comes up in the
// middle of other work (a page load). The box deletes itself when closed.
void notify(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
            const QString& objectName = {});

// The note that ends a cut text, for the number of characters left out.
QString cutTextNote(qsizetype leftOut);

// A box as it would show, for tests.
struct Box
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QStringList buttons;
};
// Tests: the boxes are not shown while an answerer is set; it sees each box
// and returns the index of the button to press. An empty function shows them again.
void setAnswerer(std::function<int(const Box&)> answerer);

} // namespace messagebox
