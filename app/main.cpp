#include "frmControlPanel.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tallyronet-recorder"));
    QApplication::setOrganizationName(QStringLiteral("TallyroNet"));

    frmControlPanel editor;
    editor.setProgramEnding(true); // the only window: closing it ends the program
    editor.show();
    return QApplication::exec();
}
