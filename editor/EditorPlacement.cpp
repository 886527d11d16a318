#include "EditorPlacement.h"

#include <algorithm>
#include <array>

namespace {

// Top edge for a window of height h beside the browser: level with it, moved up
// or down only as far as the screen needs.
int besideTop(const QRect& browserFrame, int h, const QRect& screen)
{
    return std::max(screen.top(), std::min(browserFrame.top(), screen.bottom() + 1 - h));
}

qint64 area(const QRect& r)
{
    return r.isEmpty() ? 0 : qint64(r.width()) * r.height();
}

} // namespace

QPoint editorPosition(const QRect& browserFrame, const QRect& page, int addressBottom, QSize editorFrame,
                      const QRect& screen)
{
    const int w = editorFrame.width();
    const int h = editorFrame.height();
    const int top = besideTop(browserFrame, h, screen);
    if (browserFrame.right() + w <= screen.right())
        return {browserFrame.right() + 1, top};
    if (browserFrame.left() - w >= screen.left())
        return {browserFrame.left() - w, top};

    // No room beside it: below the address strip, at the side and height that
    // cover the least of the page.
    const int highest = std::max(screen.top(), addressBottom + 1);
    const int lowest = std::max(highest, screen.bottom() + 1 - h);
    const int rightmost = std::max(screen.left(), screen.right() + 1 - w);
    const std::array<QPoint, 4> candidates{QPoint(rightmost, highest), QPoint(rightmost, lowest),
                                           QPoint(screen.left(), highest), QPoint(screen.left(), lowest)};
    QPoint best = candidates.front();
    qint64 bestCover = area(QRect(best, editorFrame) & page);
    for (const QPoint& at : candidates) {
        const qint64 cover = area(QRect(at, editorFrame) & page);
        if (cover < bestCover) {
            best = at;
            bestCover = cover;
        }
    }
    return best;
}
