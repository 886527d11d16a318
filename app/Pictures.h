#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

// The program's own pictures, drawn at run time at the sizes the window lays out.
namespace pictures {

// A picture button: a rounded plate with a symbol and a short word.
QPixmap button(const QString& symbol, const QString& word, QSize size);
// The banner strip along the window's top edge.
QPixmap banner(QSize size);
// The product logo, 217 x 41 pixels.
QPixmap logo();
// The window icon.
QPixmap icon();

} // namespace pictures
