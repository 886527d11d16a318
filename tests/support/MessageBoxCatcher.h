#pragma once

#include <QtWidgets>

// Answers modal message boxes while it lives: records each one's title, text,
// icon and buttons, then presses the given button (OK by default).
class MessageBoxCatcher : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
    };

    explicit MessageBoxCatcher(QMessageBox::StandardButton answer = QMessageBox::Ok) : m_answer(answer)
    {
        m_timer.setInterval(5);
        connect(&m_timer, &QTimer::timeout, this, &MessageBoxCatcher::poll);
        m_timer.start();
    }

    QList<Seen> seen;

    int count() const { return seen.size(); }
    Seen last() const { return seen.isEmpty() ? Seen{} : seen.last(); }

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box == m_answered)
            return;
        m_answered = box;
        seen.append({box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
        if (QAbstractButton* button = box->button(m_answer))
            button->click();
        else
            box->reject();
    }

    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
    QPointer<QMessageBox> m_answered;
};
