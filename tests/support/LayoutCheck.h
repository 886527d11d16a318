#pragma once

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTextDocument>

// The captions of a window that do not show whole: every visible label, check
// box, radio button and push button whose text, measured with the widget's own
// font, is wider (or, wrapped, taller) than the room the widget gives it.
namespace layoutcheck {

// The text as shown: a single & marks the mnemonic and is not drawn.
inline QString shown(QString text)
{
    text.replace(QLatin1String("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    return text.replace(QChar(1), QLatin1Char('&'));
}

inline QString describe(const QWidget* w, const QString& text, int needed, int room)
{
    return QStringLiteral("%1 \"%2\": needs %3 px, has %4")
        .arg(w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName(),
             text)
        .arg(needed)
        .arg(room);
}

inline QStringList cutCaptions(const QWidget* window)
{
    QStringList problems;
    for (const QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible())
            continue;
        const QFontMetrics fm = w->fontMetrics();
        if (const auto* label = qobject_cast<const QLabel*>(w)) {
            if (label->text().isEmpty())
                continue;
            QString text = label->text();
            if (Qt::mightBeRichText(text)) {
                QTextDocument doc;
                doc.setHtml(text);
                text = doc.toPlainText();
            } else if (label->buddy()) {
                text = shown(text);
            }
            const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(),
                                                              -label->margin(), -label->margin());
            if (label->wordWrap()) {
                const int needed =
                    fm.boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, text).height();
                if (needed > room.height())
                    problems << describe(w, text, needed, room.height()) + QStringLiteral(" (height)");
            } else if (fm.horizontalAdvance(text) > room.width()) {
                problems << describe(w, text, fm.horizontalAdvance(text), room.width());
            } else if (fm.height() > room.height()) {
                problems << describe(w, text, fm.height(), room.height()) + QStringLiteral(" (height)");
            }
            continue;
        }
        const auto* button = qobject_cast<const QAbstractButton*>(w);
        if (!button || button->text().isEmpty())
            continue;
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        QStyle::SubElement element = QStyle::SE_PushButtonContents;
        if (qobject_cast<const QCheckBox*>(w))
            element = QStyle::SE_CheckBoxContents;
        else if (qobject_cast<const QRadioButton*>(w))
            element = QStyle::SE_RadioButtonContents;
        else if (!qobject_cast<const QPushButton*>(w))
            continue;
        const QRect room = button->style()->subElementRect(element, &option, button);
        const QString text = shown(button->text());
        if (fm.horizontalAdvance(text) > room.width() || fm.height() > room.height())
            problems << describe(w, text, fm.horizontalAdvance(text), room.width());
    }
    return problems;
}

} // namespace layoutcheck
