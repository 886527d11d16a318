#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where the step editor pops up so that the page being recorded stays visible
// and clickable: to the right of the browser window where the screen has room,
// else to its left, else where it covers the least of the page, and never over
// the address strip. Rectangles are global pixels; window rectangles are frames.
QPoint editorPosition(const QRect& browserFrame, const QRect& page, int addressBottom, QSize editorFrame,
                      const QRect& screen);
