#include "Pictures.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace pictures {
namespace {

const QColor deepBlue(23, 63, 122);
const QColor lightBlue(120, 170, 225);

// The white tick of the program's mark, through three points.
void drawTick(QPainter& p, QPointF start, QPointF corner, QPointF end)
{
    p.setPen(QPen(Qt::white, 3));
    QPainterPath tick;
    tick.moveTo(start);
    tick.lineTo(corner);
    tick.lineTo(end);
    p.drawPath(tick);
}

} // namespace

ButtonFace buttonFace(const QString& word, QSize size, const QFont& base)
{
    ButtonFace face;
    face.symbolFont = base;
    face.symbolFont.setBold(true);
    face.symbolFont.setPixelSize(qMax(8, size.height() / 2));
    face.wordFont = face.symbolFont;
    int pixels = qMax(7, size.height() / 3);
    face.wordFont.setPixelSize(pixels);
    const auto advance = [&] { return QFontMetrics(face.wordFont).horizontalAdvance(word); };
    // The word gets the room it needs: the symbol gives up width first (down to
    // two thirds of the height), then the word's type gets smaller.
    int symbolWidth = std::clamp(size.width() - 5 - advance(), size.height() * 2 / 3, size.height());
    while (pixels > 6 && advance() > size.width() - symbolWidth - 3) {
        face.wordFont.setPixelSize(--pixels);
        symbolWidth = std::clamp(size.width() - 5 - advance(), size.height() * 2 / 3, size.height());
    }
    face.symbolRect = QRect(2, 0, symbolWidth, size.height());
    face.wordRect = QRect(symbolWidth, 0, size.width() - symbolWidth - 3, size.height());
    return face;
}

QPixmap button(const QString& symbol, const QString& word, QSize size, bool focused)
{
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient plate(0, 0, 0, size.height());
    plate.setColorAt(0, QColor(250, 252, 255));
    plate.setColorAt(1, QColor(206, 222, 242));
    p.setBrush(plate);
    p.setPen(QPen(deepBlue, 1));
    p.drawRoundedRect(QRectF(0.5, 0.5, size.width() - 1, size.height() - 1), 5, 5);

    const ButtonFace face = buttonFace(word, size, p.font());
    p.setPen(deepBlue);
    p.setFont(face.symbolFont);
    p.drawText(face.symbolRect, Qt::AlignCenter, symbol);
    p.setFont(face.wordFont);
    p.drawText(face.wordRect, Qt::AlignCenter, word);
    if (focused) {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(deepBlue, 1, Qt::DotLine));
        p.drawRoundedRect(QRectF(2.5, 2.5, size.width() - 5, size.height() - 5), 3, 3);
    }
    return pixmap;
}

QPixmap banner(QSize size)
{
    QPixmap pixmap(size.expandedTo(QSize(1, 1)));
    QPainter p(&pixmap);
    QLinearGradient g(0, 0, pixmap.width(), 0);
    g.setColorAt(0, deepBlue);
    g.setColorAt(1, lightBlue);
    p.fillRect(pixmap.rect(), g);
    return pixmap;
}

QPixmap logo()
{
    QPixmap pixmap(217, 41);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(255, 255, 255, 40));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(6, 6, 29, 29));
    drawTick(p, QPointF(13, 21), QPointF(19, 27), QPointF(29, 13));
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(20);
    p.setFont(font);
    p.drawText(QRect(42, 0, 175, 41), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("TallyroNet"));
    return pixmap;
}

QPixmap icon()
{
    return icon(32);
}

QPixmap icon(int size)
{
    size = qMax(1, size);
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 32 x 32 grid; scaling the painter rather than the finished
    // pixmap keeps the edges sharp at every size.
    p.scale(size / 32.0, size / 32.0);
    p.setBrush(deepBlue);
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRectF(1, 1, 30, 30));
    drawTick(p, QPointF(9, 16), QPointF(14, 22), QPointF(23, 10));
    return pixmap;
}

QIcon appIcon()
{
    QIcon result;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        result.addPixmap(icon(size));
    return result;
}

} // namespace pictures
