#pragma once

#include <QString>

class QWidget;

// The program's file dialogs. Tests set the next answer instead of typing into a dialog.
namespace filechooser {

// The next dialog answers with this name at once, without showing (once).
void setNextAnswer(const QString& name);
// A file name to open or to save to; empty when the user cancelled.
QString openName(QWidget* parent, const QString& title, const QString& initial, const QString& filter);
QString saveName(QWidget* parent, const QString& title, const QString& initial, const QString& filter);

} // namespace filechooser
