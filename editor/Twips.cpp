#include "Twips.h"

#include <QLabel>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace twips {

int toPixels(int twips, qreal dpi)
{
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

int fromPixels(int pixels, qreal dpi)
{
    return static_cast<int>(std::lround(pixels * 1440.0 / dpi));
}

QRect toPixels(const QRect& r, qreal dpi)
{
    return {toPixels(r.x(), dpi), toPixels(r.y(), dpi), toPixels(r.width(), dpi), toPixels(r.height(), dpi)};
}

static qreal dpiOf(const QWidget* widget)
{
    return widget->logicalDpiX();
}

void place(QWidget* widget, const QRect& twipsRect)
{
    widget->setGeometry(toPixels(twipsRect, dpiOf(widget)));
}

int width(const QWidget* widget)
{
    return fromPixels(widget->width(), dpiOf(widget));
}

int height(const QWidget* widget)
{
    return fromPixels(widget->height(), dpiOf(widget));
}

void setWidth(QWidget* widget, int twipsWidth)
{
    widget->resize(toPixels(twipsWidth, dpiOf(widget)), widget->height());
}

void setHeight(QWidget* widget, int twipsHeight)
{
    widget->resize(widget->width(), toPixels(twipsHeight, dpiOf(widget)));
}

void growToText(QWidget* widget)
{
    QSize needed = widget->sizeHint();
    if (const auto* label = qobject_cast<const QLabel*>(widget); label && label->wordWrap())
        needed = QSize(widget->width(), label->heightForWidth(widget->width()));
    widget->resize(widget->size().expandedTo(needed));
}

} // namespace twips

EditorWidths editorWidthsForWindow(int outerWidthTwips)
{
    EditorWidths w;
    w.listFrame = std::max(0, outerWidthTwips - 800);
    w.list = std::max(0, w.listFrame - 250);
    w.postDataFrame = w.listFrame;
    w.postData = w.list;
    return w;
}
