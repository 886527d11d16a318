#pragma once

#include <QRect>

class QWidget;

// Window geometry is designed in twips (1/1440 inch); the screen's DPI turns it
// into pixels (15 twips a pixel at 96 dpi).
namespace twips {

int toPixels(int twips, qreal dpi);
int fromPixels(int pixels, qreal dpi);
QRect toPixels(const QRect& twipsRect, qreal dpi);

// Places a widget at a rectangle given in twips of its parent's client area.
void place(QWidget* widget, const QRect& twipsRect);
// The widget's width / height in twips.
int width(const QWidget* widget);
int height(const QWidget* widget);
void setWidth(QWidget* widget, int twipsWidth);
void setHeight(QWidget* widget, int twipsHeight);

// Grows a control that shows a caption (label, check box, button) until its
// whole text shows in the widget's own font; the design size is a minimum.
// A word-wrapping label grows in height only.
void growToText(QWidget* widget);

} // namespace twips

// Widths the step editor gives its URL list and post data box for a window of the
// given outer width: both frames 800 twips narrower than the window, the boxes
// inside them 250 narrower than their frames; never negative.
struct EditorWidths
{
    int listFrame = 0;
    int list = 0;
    int postDataFrame = 0;
    int postData = 0;

    friend bool operator==(const EditorWidths&, const EditorWidths&) = default;
};
EditorWidths editorWidthsForWindow(int outerWidthTwips);
