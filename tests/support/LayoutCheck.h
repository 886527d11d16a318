#pragma once

#include <QtWidgets>

// The captions of a window that do not show whole: every visible label, check
// box, radio button and push button whose text, measured with the widget's own
// font, is wider (or, wrapped, taller) than the room the widget gives it.
namespace layoutcheck {

inline QStringList cutCaptions(const QWidget* window)
{
    QStringList problems;
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        const auto* label = qobject_cast<const QLabel*>(w);
        const auto* button = qobject_cast<const QPushButton*>(w) || qobject_cast<const QCheckBox*>(w) ||
                                     qobject_cast<const QRadioButton*>(w)
                                 ? qobject_cast<const QAbstractButton*>(w)
                                 : nullptr;
        QString text = label ? label->text() : button ? button->text() : QString();
        if (!w->isVisible() || text.isEmpty())
            continue;
        QRect room;
        if (label && Qt::mightBeRichText(text)) {
            QTextDocument doc;
            doc.setHtml(text);
            text = doc.toPlainText();
        }
        if (label) {
            room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                  -label->margin());
        } else {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = text;
            room = button->style()->subElementRect(
                qobject_cast<const QCheckBox*>(w)      ? QStyle::SE_CheckBoxContents
                : qobject_cast<const QRadioButton*>(w) ? QStyle::SE_RadioButtonContents
                                                       : QStyle::SE_PushButtonContents,
                &option, button);
        }
        // A single & marks the mnemonic and is not drawn.
        if (button || label->buddy())
            text.replace(QLatin1String("&&"), QStringLiteral("\x01")).remove(u'&').replace(u'\x01', u'&');
        const QRect needed = w->fontMetrics().boundingRect(
            QRect(0, 0, room.width(), 100000), label && label->wordWrap() ? Qt::TextWordWrap : 0, text);
        if (needed.width() > room.width() || needed.height() > room.height())
            problems << QStringLiteral("%1 \"%2\": needs %3x%4 px, has %5x%6")
                            .arg(w->objectName(), text)
                            .arg(needed.width())
                            .arg(needed.height())
                            .arg(room.width())
                            .arg(room.height());
    }
    return problems;
}

} // namespace layoutcheck
