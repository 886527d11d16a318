#include "frmProblem.h"

#include "BusyWait.h"
#include "ButtonKeys.h"
#include "Credentials.h"
#include "MessageBox.h"
#include "ProgramFolder.h"
#include "ServiceRules.h"
#include "ServiceWindows.h"
#include "TransactionFile.h"
#include "frmUpload.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString reportTitle = QStringLiteral("Report Status");

// Lines of the description end with CR LF, as the service has always received
// them from a multi-line text box.
QString descriptionText(const QPlainTextEdit* edit)
{
    return edit->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
}

QLabel* label(const char* name, const QString& text)
{
    auto* l = new QLabel(text);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

} // namespace

frmProblem::frmProblem(ServiceWindows& owner, QWidget* parent) : QWidget(parent, Qt::Window), m_owner(owner)
{
    setObjectName(QStringLiteral("frmProblem"));
    setWindowTitle(QStringLiteral("Report a problem"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_fName = new QLineEdit;
    m_fName->setObjectName(QStringLiteral("fName"));
    m_fEmail = new QLineEdit;
    m_fEmail->setObjectName(QStringLiteral("fEmail"));
    m_description = new QPlainTextEdit;
    m_description->setObjectName(QStringLiteral("description"));
    m_description->setTabChangesFocus(true);
    m_description->setMinimumHeight(140);
    auto* Warning =
        label("Warning", QStringLiteral("If there is a recorded transaction in your Recorder, it will "
                                        "be automatically attached to the message."));
    Warning->setWordWrap(true);
    m_SubmitProblem = new QPushButton(QStringLiteral("Submit"));
    m_SubmitProblem->setObjectName(QStringLiteral("SubmitProblem"));
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"));
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // Filled by the report itself, never typed.
    m_txtUsername = new QLineEdit(this);
    m_txtUsername->setObjectName(QStringLiteral("txtUsername"));
    m_txtUsername->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label("Label2", QStringLiteral("Your name:")));
    layout->addWidget(m_fName);
    layout->addWidget(label("Label3", QStringLiteral("Your E-mail address:")));
    layout->addWidget(m_fEmail);
    layout->addWidget(label("Label1", QStringLiteral("Describe your problem here:")));
    layout->addWidget(m_description, 1);
    layout->addWidget(Warning);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_SubmitProblem);
    buttons->addWidget(m_btnCancel);
    layout->addLayout(buttons);
    setMinimumWidth(400);

    setTabOrder(m_fName, m_fEmail);
    setTabOrder(m_fEmail, m_description);
    setTabOrder(m_description, m_SubmitProblem);
    setTabOrder(m_SubmitProblem, m_btnCancel);
    m_fName->setFocus();
    enterPressesFocusedButton(this);

    connect(m_SubmitProblem, &QPushButton::clicked, this, &frmProblem::SubmitProblem_Click);
    connect(m_btnCancel, &QPushButton::clicked, this, &frmProblem::btnCancel_Click);
}

bool frmProblem::loadSavedUsername(QString* error)
{
    CredentialsFile file = CredentialsFile::recorderIni();
    QString name = m_txtUsername->text();
    if (!file.loadSavedUsername(name)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    m_txtUsername->setText(name);
    return true;
}

void frmProblem::SubmitProblem_Click()
{
    if (m_fEmail->text().isEmpty() || m_fName->text().isEmpty() || m_description->toPlainText().isEmpty()) {
        messagebox::show(this, QMessageBox::Warning, QStringLiteral("Missing information"),
                         QStringLiteral("Please fill in all the fields"));
        return;
    }
    m_SubmitProblem->setEnabled(false);
    BusyCursor busy;

    // The attached file carries the saved account, whatever the sign-in window
    // showed before.
    QString error;
    frmUpload& signIn = m_owner.loadedSignIn();
    if (!signIn.LoadINIVariables(&error))
        return failPreparation(error);
    if (!m_owner.writeTransactionFile(signIn.account(), &error))
        return failPreparation(error);
    const QString path = defaultTransactionFile();
    const QByteArray& bytes = m_owner.transactionBytes();
    if (!loadSavedUsername(&error))
        return failPreparation(error);

    const QList<FormPart> parts = reportParts(path, bytes, m_fName->text(), m_fEmail->text(),
                                              m_txtUsername->text(), descriptionText(m_description));
    if (const auto part = partHoldingDelimiter(parts))
        return failPreparation(delimiterInPartText(*part));
    const QByteArray body = buildFormBody(parts);
    QString response;
    const bool reached = exchangeWhileBusy(QStringLiteral("POST"), reportObjectPath(), multipartHeader(),
                                           body, &response, &error);
    if (reached && isSuccessAnswer(response))
        messagebox::show(this, QMessageBox::Information, reportTitle, reportSuccessText());
    else
        messagebox::show(this, QMessageBox::Critical, reportTitle,
                         reportFailureText(reached ? response : error));
    hide();
}

void frmProblem::failPreparation(const QString& error)
{
    messagebox::show(this, QMessageBox::Critical, reportTitle, error);
    // Nothing was sent, so the same report may be tried again.
    m_SubmitProblem->setEnabled(true);
}

void frmProblem::btnCancel_Click()
{
    m_owner.activateMainWindow();
    close();
}

void frmProblem::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit closed();
}
