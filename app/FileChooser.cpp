#include "FileChooser.h"

#include <QFileDialog>

#include <optional>

namespace filechooser {

namespace {

std::optional<QString>& nextAnswer()
{
    static std::optional<QString> name;
    return name;
}

std::optional<QString> takeAnswer()
{
    std::optional<QString> name;
    name.swap(nextAnswer());
    return name;
}

} // namespace

void setNextAnswer(const QString& name)
{
    nextAnswer() = name;
}

QString openName(QWidget* parent, const QString& title, const QString& initial, const QString& filter)
{
    if (auto name = takeAnswer())
        return *name;
    return QFileDialog::getOpenFileName(parent, title, initial, filter);
}

QString saveName(QWidget* parent, const QString& title, const QString& initial, const QString& filter)
{
    if (auto name = takeAnswer())
        return *name;
    return QFileDialog::getSaveFileName(parent, title, initial, filter);
}

} // namespace filechooser
