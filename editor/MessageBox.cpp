#include "MessageBox.h"

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <climits>

namespace messagebox {

namespace {

std::function<int(const Box&)>& answerer()
{
    static std::function<int(const Box&)> answer;
    return answer;
}

// How much of a text fits in a number of lines: the length of its longest
// prefix that does and the lines that prefix takes.
struct Fit
{
    qsizetype length = 0;
    int lines = 0;
};

// Lays the text out as the message box's label does: CR LF, LF and a lone CR
// each end a line (an empty one too takes a line), and a line longer than the
// width wraps at a word boundary, or anywhere within a word wider than it.
Fit fitInLines(const QString& text, const QFont& font, int width, int maxLines)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Fit fit;
    qsizetype pos = 0;
    for (;;) {
        qsizetype end = pos;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        if (end == pos) {
            if (fit.lines == maxLines)
                return {pos, fit.lines};
            ++fit.lines;
        } else {
            QTextLayout layout(text.mid(pos, end - pos), font);
            layout.setTextOption(option);
            layout.beginLayout();
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
                line.setLineWidth(width);
                if (fit.lines == maxLines) {
                    layout.endLayout();
                    return {pos + line.textStart(), fit.lines};
                }
                ++fit.lines;
            }
            layout.endLayout();
        }
        if (end == text.size())
            return {text.size(), fit.lines};
        pos = end + (text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n' ? 2 : 1);
    }
}

// Qt's message box widens itself up to the whole width of a small screen for a
// word wider than half of it, so that its frame then stands off the screen. A
// zero-width space inside every such word lets it wrap within the box instead.
QString breakLongWords(const QString& text, const QFontMetrics& metrics, int width)
{
    QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, text);
    QString result;
    result.reserve(text.size());
    int run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        breaks.setPosition(i);
        if (breaks.isAtBoundary())
            run = 0;
        const bool pair = text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const QString character = text.mid(i, pair ? 2 : 1);
        const int advance = metrics.horizontalAdvance(character);
        if (run > 0 && run + advance > width && !text[i].isMark()) {
            result += QChar(0x200B);
            run = 0;
        }
        result += character;
        run += advance;
        i += pair ? 1 : 0;
    }
    return result;
}

// The text as far as it fits on the box's screen, ended by cutTextNote when it
// had to be cut. The box sizes itself to its whole text, so an overlong one
// would push its bottom and the OK button off the screen, and laying out
// megabytes of text would hold the program up for minutes.
QString fitToScreen(QMessageBox& box, const QString& text)
{
    const QScreen* screen = box.screen();
    if (!screen || text.isEmpty())
        return text;
    box.ensurePolished();
    const QRect available = screen->availableGeometry();
    const auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    const QFont font = label ? label->font() : box.font();
    const QFontMetrics metrics(font);

    // A text too wide for one line is wrapped in a box at least half the
    // screen wide (at most 500 pixels); the text gets that width less the icon,
    // the indent beside it and the margins. Counting lines at this narrowest
    // width never counts fewer than the box shows.
    const QStyle* style = box.style();
    const QMargins margins = box.layout() ? box.layout()->contentsMargins() : QMargins(11, 11, 11, 11);
    const int spacing = std::max(box.layout() ? box.layout()->spacing() : 6, 6);
    const int chrome = style->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box) + 15 +
                       margins.left() + margins.right() + 2 * spacing + 2 * metrics.averageCharWidth();
    const int width =
        std::max(std::min(available.width() / 2, 500) - chrome, 10 * metrics.averageCharWidth());
    // The text may take two thirds of the screen's height: the title bar,
    // margins and the OK button's row need far less than the third left.
    const int maxLines = std::max(available.height() * 2 / 3 / std::max(metrics.lineSpacing(), 1), 2);

    // No more characters than the narrowest ones filling every line can show:
    // bounds the layout work however long the text is.
    int narrowest = INT_MAX;
    for (const QChar c : {u' ', u'.', u'i', u'l', u'|'})
        narrowest = std::min(narrowest, metrics.horizontalAdvance(c));
    const qsizetype charBound = qsizetype(maxLines) * (width / std::max(narrowest, 1) + 1);
    const QString head = text.left(charBound);
    if (head.size() == text.size() && fitInLines(text, font, width, maxLines).length == text.size())
        return breakLongWords(text, metrics, width);

    const QString note = cutTextNote(text.size());
    const int noteLines = fitInLines(QStringLiteral("\n\n") + note, font, width, INT_MAX).lines;
    QString kept = head.left(fitInLines(head, font, width, std::max(maxLines - noteLines, 1)).length);
    // Not between the halves of a surrogate pair, nor ending in blank lines.
    if (!kept.isEmpty() && kept.back().isHighSurrogate())
        kept.chop(1);
    while (!kept.isEmpty() && kept.back().isSpace())
        kept.chop(1);
    return breakLongWords(kept, metrics, width) + QStringLiteral("\n\n") +
           cutTextNote(text.size() - kept.size());
}

int run(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
        const QStringList& buttons, int defaultButton)
{
    // No captions: the standard OK button.
    if (answerer())
        return answerer()(
            Box{icon, title, text, buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : buttons});
    QMessageBox box(icon, title, QString(), buttons.isEmpty() ? QMessageBox::Ok : QMessageBox::NoButton,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(fitToScreen(box, text));
    QList<QAbstractButton*> added;
    if (buttons.isEmpty())
        added.append(box.button(QMessageBox::Ok));
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        QPushButton* b =
            box.addButton(buttons.at(i), i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
        added.append(b);
        if (i == defaultButton)
            box.setDefaultButton(b);
    }
    const bool busy = QGuiApplication::overrideCursor() != nullptr;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (busy)
        QGuiApplication::restoreOverrideCursor();
    return int(added.indexOf(box.clickedButton()));
}

} // namespace

void show(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text)
{
    run(parent, icon, title, text, {}, 0);
}

int ask(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
        const QStringList& buttons, int defaultButton)
{
    return run(parent, icon, title, text, buttons, defaultButton);
}

void notify(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
            const QString& objectName)
{
    if (answerer()) {
        answerer()(Box{icon, title, text, {QStringLiteral("OK")}});
        return;
    }
    auto* box = new QMessageBox(icon, title, QString(), QMessageBox::Ok, parent);
    box->setObjectName(objectName);
    box->setTextFormat(Qt::PlainText);
    box->setText(fitToScreen(*box, text));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

QString cutTextNote(qsizetype leftOut)
{
    return QStringLiteral("[\u2026 the rest of this message, %1 more characters, is not shown]").arg(leftOut);
}

void setAnswerer(std::function<int(const Box&)> answer)
{
    answerer() = std::move(answer);
}

} // namespace messagebox
