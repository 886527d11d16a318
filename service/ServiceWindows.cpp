#include "ServiceWindows.h"

#include "MessageBox.h"
#include "ProgramFolder.h"
#include "RecordingSession.h"

#include "BusyWait.h"
#include "ServiceRules.h"
#include "StepStore.h"
#include "TransactionFile.h"
#include "frmProblem.h"
#include "frmUpload.h"
#include "frmfileUpload.h"

#include <QScreen>
#include <QShortcut>

#include <algorithm>
#include <utility>

namespace {

// Shows a window in front; one that was hidden first appears centred over the
// main window (a screen without a window manager would put it in the corner).
void bringUp(QWidget* window, const QWidget* over = nullptr)
{
    if (over && over != window && !window->isVisible()) {
        if (!window->testAttribute(Qt::WA_Resized))
            window->adjustSize();
        QRect frame(QPoint(), window->size());
        frame.moveCenter(over->frameGeometry().center());
        if (const QScreen* screen = over->screen()) {
            const QRect available = screen->availableGeometry();
            frame.moveLeft(std::clamp(frame.left(), available.left(),
                                      std::max(available.left(), available.right() - frame.width())));
            frame.moveTop(std::clamp(frame.top(), available.top(),
                                     std::max(available.top(), available.bottom() - frame.height())));
        }
        window->move(frame.topLeft());
    }
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

ServiceWindows::ServiceWindows(RecordingSession& session, QWidget* mainWindow)
    : m_session(session), m_mainWindow(mainWindow)
{}

ServiceWindows::~ServiceWindows()
{
    // The windows call back into this object; none may outlive it.
    for (const QPointer<QWidget>& window : std::as_const(m_made))
        delete window.data();
}

::frmUpload* ServiceWindows::frmUpload() const
{
    return m_frmUpload;
}

::frmfileUpload* ServiceWindows::frmfileUpload() const
{
    return m_frmfileUpload;
}

::frmProblem* ServiceWindows::frmProblem() const
{
    return m_frmProblem;
}

template <typename Window> void ServiceWindows::track(QPointer<Window>& slot, Window* window)
{
    slot = window;
    m_made.append(window);
    // Esc closes the window, as its close button does.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    connect(escape, &QShortcut::activated, window, &QWidget::close);
    connect(window, &Window::closed, this, [&slot, window] {
        if (slot == window)
            slot.clear();
    });
}

void ServiceWindows::lblUpload_Click()
{
    if (store().isEmpty()) {
        messagebox::show(m_mainWindow, QMessageBox::Information, QStringLiteral("Nothing to upload"),
                         QStringLiteral("No steps recorded yet."));
        return;
    }
    showSignIn();
}

void ServiceWindows::openProblemReport()
{
    if (!m_frmProblem)
        track(m_frmProblem, new ::frmProblem(*this, m_mainWindow));
    bringUp(m_frmProblem, m_mainWindow);
}

const StepStore& ServiceWindows::store() const
{
    return m_session.store();
}

AccountCredentials ServiceWindows::currentAccount()
{
    if (!m_frmUpload) {
        // What the sign-in window's load would put into its fields.
        AccountCredentials fields;
        bool save = false;
        CredentialsFile file = CredentialsFile::recorderIni();
        m_session.setAccount(file.LoadINIVariables(fields, save) ? fields : AccountCredentials());
    }
    return m_session.account();
}

::frmUpload& ServiceWindows::loadedSignIn()
{
    if (!m_frmUpload) {
        track(m_frmUpload, new ::frmUpload(*this, m_mainWindow));
        m_signInLoadError = m_frmUpload->Form_Load();
    }
    return *m_frmUpload;
}

::frmUpload& ServiceWindows::showSignIn()
{
    ::frmUpload& window = loadedSignIn();
    bringUp(&window, m_mainWindow);
    // A credentials file that could not be read or created is told when the window shows.
    if (!m_signInLoadError.isEmpty()) {
        const QString error = std::exchange(m_signInLoadError, QString());
        messagebox::show(&window, QMessageBox::Warning, applicationTitle(), error);
    }
    return window;
}

bool ServiceWindows::writeTransactionFile(const AccountCredentials& account, QString* error)
{
    QByteArray bytes = transactionFileBytes(store().steps(), account);
    if (!saveTransactionFile(defaultTransactionFile(), bytes, error))
        return false;
    m_transactionBytes = std::move(bytes);
    return true;
}

void ServiceWindows::signedIn(const AccountCredentials& account)
{
    // A window that stayed loaded after an upload keeps its list and mode for
    // the same account; another account's list and choice must not show.
    const bool loaded = m_frmfileUpload && m_frmfileUpload->account().username == account.username &&
                        m_frmfileUpload->account().key == account.key;
    if (m_frmfileUpload && !loaded)
        m_frmfileUpload->close();
    if (!m_frmfileUpload)
        track(m_frmfileUpload, new ::frmfileUpload(*this, m_mainWindow));
    m_frmfileUpload->setAccount(account);
    m_cancel = false;

    if (m_frmUpload)
        m_frmUpload->close();

    if (!loaded)
        m_frmfileUpload->Form_Load();
    if (m_frmfileUpload && !m_cancel)
        bringUp(m_frmfileUpload, m_mainWindow);
    if (m_cancel && m_frmfileUpload)
        m_frmfileUpload->close();
}

void ServiceWindows::transactionListRefused(const QString& answer)
{
    messagebox::show(m_mainWindow, QMessageBox::NoIcon, applicationTitle(), answer);
    if (m_frmfileUpload)
        m_frmfileUpload->close();
    if (m_frmUpload)
        m_frmUpload->close();
    m_cancel = true;
    showSignIn();
}

void ServiceWindows::activateMainWindow()
{
    if (m_mainWindow)
        bringUp(m_mainWindow);
}
