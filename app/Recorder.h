#pragma once

#include "ClickActivation.h"
#include "RecordingSession.h"
#include "RecoveryWriter.h"

#include <QList>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class frmBrowser;
class frmCheck;
class frmControlPanel;
class ServiceWindows;
class RepaintThrottle;
class QWebEngineProfile;
class QWidget;

// What the program's windows share: the recording session, the step editor,
// the service windows, and the browser windows themselves, the first of which is
// the main window.
class Recorder : public QObject
{
    Q_OBJECT
public:
    explicit Recorder(QWebEngineProfile* profile, QObject* parent = nullptr);
    ~Recorder() override;

    // Creates and shows the main window.
    frmBrowser* start();

    QWebEngineProfile* profile() const { return m_profile; }
    RecordingSession& session() { return m_session; }
    frmControlPanel& editor() { return *m_editor; }
    // The step editor's repaints, held while a recorded page loads.
    RepaintThrottle& editorRepaints() { return *m_editorRepaints; }
    // The sign-in, upload and problem report windows (exist once start() ran).
    ServiceWindows& services() { return *m_services; }
    frmBrowser* mainWindow() const;
    QList<frmBrowser*> windows() const;

    // The question's text for the readable steps of a kept copy.
    static QString recoveryQuestion(int readable, bool damaged, const QString& keptAs);

    // The check window while one is open.
    frmCheck* checkWindow() const;
    void setCheckWindow(frmCheck* window);

    // Window bookkeeping, used by the browser windows.
    void windowOpened(frmBrowser* window);
    // Closes every other window, the most recently opened first (program end).
    void closeAllBut(frmBrowser* window);

private:
    void offerRecovery(QWidget* parent);
    void saveRecoveryCopy();
    void recoveryWritten(bool ok, const QString& error);

    QWebEngineProfile* m_profile;
    ClickActivation m_clickActivation;
    bool m_recoveryFailing = false; // the user was told the copy cannot be written
    // Held while this run keeps the recovery copy; another running instance leaves it alone.
    std::unique_ptr<QLockFile> m_recoveryLock;
    std::unique_ptr<RecoveryWriter> m_recoveryWriter;
    RecordingSession m_session;
    std::unique_ptr<frmControlPanel> m_editor;
    std::unique_ptr<RepaintThrottle> m_editorRepaints;
    std::unique_ptr<ServiceWindows> m_services;
    QList<QPointer<frmBrowser>> m_windows;
    QPointer<frmCheck> m_check;
};
