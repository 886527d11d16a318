#pragma once

#include "Credentials.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;
class RecordingSession;
class StepStore;
class frmProblem;
class frmUpload;
class frmfileUpload;

// The service windows of the main window: the sign-in window, the upload window
// and the problem report window, opened on demand. A window that is "loaded"
// exists (shown or hidden); closing one unloads it, and its next use loads a
// fresh one. Hiding keeps it loaded with everything it holds.
class ServiceWindows : public QObject
{
    Q_OBJECT
public:
    ServiceWindows(RecordingSession& session, QWidget* mainWindow); // mainWindow: parent of boxes/windows
    ~ServiceWindows() override;

    // The main window's Upload command: "Nothing to upload" when the store is empty, else the sign-in window.
    void lblUpload_Click();
    // The Help menu's "Report a problem": shows the problem report window.
    void openProblemReport();
    // The account as the sign-in window's fields hold it; when that window is not loaded, as its load
    // would fill them, from recorder.ini. Used by Save as for the transaction file's user name and key.
    AccountCredentials currentAccount();

    // Windows for tests (nullptr when not loaded).
    ::frmUpload* frmUpload() const;
    ::frmfileUpload* frmfileUpload() const;
    ::frmProblem* frmProblem() const;

    // Used by the windows.
    const StepStore& store() const;
    RecordingSession& session() { return m_session; }
    QWidget* mainWindow() const { return m_mainWindow; }
    // The sign-in window, loaded (hidden) when it is not.
    ::frmUpload& loadedSignIn();
    // Writes the store with this account to recorder.xml.
    bool writeTransactionFile(const AccountCredentials& account, QString* error);
    // The bytes the last writeTransactionFile wrote: what the upload and the
    // report send. Kept here rather than read back from the file, which another
    // running recorder sharing the program's folder may have replaced since.
    const QByteArray& transactionBytes() const { return m_transactionBytes; }
    // The sign-in window's hand-over: closes it and shows the upload window for
    // this account, whose first load fetches the list.
    void signedIn(const AccountCredentials& account);
    // The list request was refused: show the answer, close the upload and
    // sign-in windows and bring the sign-in window back.
    void transactionListRefused(const QString& answer);
    // Set while a refused list keeps the upload window from being used.
    bool uploadCancelled() const { return m_cancel; }
    // Activates the main window (the windows' Cancel buttons).
    void activateMainWindow();

private:
    ::frmUpload& showSignIn();
    template <typename Window> void track(QPointer<Window>& slot, Window* window);

    RecordingSession& m_session;
    QByteArray m_transactionBytes;
    QString m_signInLoadError; // told when the sign-in window next shows
    QPointer<QWidget> m_mainWindow;
    QPointer<::frmUpload> m_frmUpload;
    QPointer<::frmfileUpload> m_frmfileUpload;
    QPointer<::frmProblem> m_frmProblem;
    // Every window made, closed ones waiting for deletion included.
    QList<QPointer<QWidget>> m_made;
    bool m_cancel = false;
};
