#include "ServiceWindows.h"

#include "BusyWait.h"
#include "ServiceRules.h"
#include "StepStore.h"
#include "TransactionFile.h"
#include "frmProblem.h"
#include "frmUpload.h"
#include "frmfileUpload.h"

namespace {

void bringUp(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

ServiceWindows::ServiceWindows(const StepStore& store, QWidget* mainWindow)
    : m_store(store), m_mainWindow(mainWindow)
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
    connect(window, &Window::closed, this, [&slot, window] {
        if (slot == window)
            slot.clear();
    });
}

void ServiceWindows::lblUpload_Click()
{
    if (m_store.isEmpty()) {
        showMessageBox(m_mainWindow, QMessageBox::Information, QStringLiteral("Nothing to upload"),
                       QStringLiteral("No steps recorded yet."));
        return;
    }
    showSignIn();
}

void ServiceWindows::openProblemReport()
{
    if (!m_frmProblem)
        track(m_frmProblem, new ::frmProblem(*this, m_mainWindow));
    bringUp(m_frmProblem);
}

AccountCredentials ServiceWindows::currentAccount()
{
    return loadedSignIn().account();
}

::frmUpload& ServiceWindows::loadedSignIn()
{
    if (!m_frmUpload) {
        track(m_frmUpload, new ::frmUpload(*this, m_mainWindow));
        m_frmUpload->Form_Load();
    }
    return *m_frmUpload;
}

::frmUpload& ServiceWindows::showSignIn()
{
    ::frmUpload& window = loadedSignIn();
    bringUp(&window);
    return window;
}

bool ServiceWindows::writeTransactionFile(const AccountCredentials& account, QString* error)
{
    return saveTransactionFile(defaultTransactionFile(), transactionFileBytes(m_store.steps(), account),
                               error);
}

void ServiceWindows::signedIn(const AccountCredentials& account)
{
    const bool loaded = m_frmfileUpload;
    if (!loaded)
        track(m_frmfileUpload, new ::frmfileUpload(*this, m_mainWindow));
    m_frmfileUpload->sUsername = account.username;
    m_frmfileUpload->sKey = account.key;
    m_cancel = false;

    if (m_frmUpload)
        m_frmUpload->close();

    // A window that stayed loaded after an upload shows its previous list and
    // mode; only a new one asks for the list.
    if (!loaded)
        m_frmfileUpload->Form_Load();
    if (m_frmfileUpload && !m_cancel)
        bringUp(m_frmfileUpload);
    if (m_cancel && m_frmfileUpload)
        m_frmfileUpload->close();
}

void ServiceWindows::transactionListRefused(const QString& answer)
{
    showMessageBox(m_mainWindow, QMessageBox::NoIcon, applicationTitle(), answer);
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
