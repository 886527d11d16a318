#include "Recorder.h"

#include "ServiceWindows.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"

#include <QApplication>

Recorder::Recorder(QWebEngineProfile* profile, QObject* parent)
    : QObject(parent), m_profile(profile), m_editor(std::make_unique<frmControlPanel>())
{}

Recorder::~Recorder()
{
    m_services.reset();
    for (const QPointer<frmBrowser>& w : std::as_const(m_windows))
        delete w.data();
}

frmBrowser* Recorder::start()
{
    auto* main = new frmBrowser(*this, WebBrowser::Origin::OwnWindow);
    m_editor->setCommands(main);
    m_editor->playback().setHost(main);
    m_services = std::make_unique<ServiceWindows>(m_editor->store(), main);
    return main;
}

frmBrowser* Recorder::mainWindow() const
{
    for (const QPointer<frmBrowser>& w : m_windows) {
        if (w)
            return w;
    }
    return nullptr;
}

QList<frmBrowser*> Recorder::windows() const
{
    QList<frmBrowser*> list;
    for (const QPointer<frmBrowser>& w : m_windows) {
        if (w)
            list.append(w);
    }
    return list;
}

void Recorder::windowOpened(frmBrowser* window)
{
    m_windows.removeAll(nullptr);
    m_windows.append(window);
}

void Recorder::closeAllBut(frmBrowser* window)
{
    for (qsizetype i = m_windows.size() - 1; i >= 0; --i) {
        frmBrowser* w = m_windows.at(i);
        if (w && w != window)
            w->close();
    }
    m_editor->setProgramEnding(true);
    m_editor->close();
    // Dialogs and message boxes of the program go too.
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top != window && top != m_editor.get() && top->isVisible() && !qobject_cast<frmBrowser*>(top))
            top->close();
    }
}
