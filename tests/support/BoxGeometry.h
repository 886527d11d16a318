#pragma once

#include <QtWidgets>

// Records each message box as it closes: its text, its frame, the available
// area of its screen and its OK button. (At that moment its geometry is final;
// the box is already hidden, so the button's visibility is taken within the box.)
class BoxGeometry : public QObject
{
public:
    struct Seen
    {
        QString text;
        QRect frame;
        QRect available;
        QRect okButton; // in screen coordinates
        bool okShown = false;
    };

    BoxGeometry() { QCoreApplication::instance()->installEventFilter(this); }
    ~BoxGeometry() override { QCoreApplication::instance()->removeEventFilter(this); }

    QList<Seen> seen;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (box && event->type() == QEvent::Hide) {
            Seen shown{box->text(), box->frameGeometry(), box->screen()->availableGeometry(), {}, false};
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
                shown.okShown = ok->isVisibleTo(box);
                shown.okButton = QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size());
            }
            seen.append(shown);
        }
        return QObject::eventFilter(watched, event);
    }
};
