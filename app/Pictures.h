#pragma once

#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRect>
#include <QSize>
#include <QString>

// The program's own pictures, drawn at run time at the sizes the window lays out.
namespace pictures {

// How a picture button's plate is divided: the symbol on the left, the word in
// the rest, in a type small enough for the whole word to show.
struct ButtonFace
{
    QRect symbolRect;
    QRect wordRect;
    QFont symbolFont;
    QFont wordFont;
};
ButtonFace buttonFace(const QString& word, QSize size, const QFont& base);

// A picture button: a rounded plate with a symbol and a short word; focused,
// with a dotted frame inside its edge (the button the keyboard is on).
QPixmap button(const QString& symbol, const QString& word, QSize size, bool focused = false);
// The banner strip along the window's top edge.
QPixmap banner(QSize size);
// The product logo, 217 x 41 pixels.
QPixmap logo();
// The window icon, 32 x 32 pixels.
QPixmap icon();
// The window icon drawn for a square of size x size pixels (at least 1).
QPixmap icon(int size);
// The window icon at the sizes desktops ask for: 16, 22, 24, 32, 48, 64, 128 and 256.
QIcon appIcon();

} // namespace pictures
