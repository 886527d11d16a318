#include "frmUpload.h"

#include "ButtonKeys.h"
#include "MessageBox.h"
#include "RecordingSession.h"

#include "BusyWait.h"
#include "ProgramFolder.h"
#include "ServiceRules.h"
#include "ServiceWindows.h"
#include "StepStore.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QGroupBox* frame(const char* name, const QString& caption, QWidget* content, QWidget* parent)
{
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(content);
    return box;
}

bool report(CredentialsFile& file, bool ok, QString* error)
{
    if (!ok && error)
        *error = file.errorString();
    return ok;
}

} // namespace

frmUpload::frmUpload(ServiceWindows& owner, QWidget* parent) : QWidget(parent, Qt::Window), m_owner(owner)
{
    setObjectName(QStringLiteral("frmUpload"));
    setWindowTitle(QStringLiteral("Upload Form"));
    setAttribute(Qt::WA_DeleteOnClose);

    m_txtUsername = new QLineEdit;
    m_txtUsername->setObjectName(QStringLiteral("txtUsername"));
    m_txtUsername->setMaxLength(usernameLimit);
    m_txtKey = new QLineEdit;
    m_txtKey->setObjectName(QStringLiteral("txtKey"));
    m_txtKey->setMaxLength(keyLimit);
    // The frame's caption labels the check box, which has no text of its own.
    m_cSave = new QCheckBox;
    m_cSave->setObjectName(QStringLiteral("cSave"));
    m_cSave->setAccessibleName(QStringLiteral("Save username and key"));
    m_Command2 = new QPushButton(QStringLiteral("Upload"));
    m_Command2->setObjectName(QStringLiteral("Command2"));
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(11.25);
    font.setBold(true);
    m_Command2->setFont(font);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame("Frame1", QStringLiteral("Username"), m_txtUsername, this));
    layout->addWidget(frame("Frame2", QStringLiteral("key"), m_txtKey, this));
    layout->addWidget(frame("Frame3", QStringLiteral("Save username and key"), m_cSave, this));
    layout->addWidget(m_Command2);
    setMinimumWidth(300);

    setTabOrder(m_txtUsername, m_txtKey);
    setTabOrder(m_txtKey, m_Command2);
    setTabOrder(m_Command2, m_cSave);
    m_txtUsername->setFocus();
    enterPressesFocusedButton(this);

    connect(m_Command2, &QPushButton::clicked, this, &frmUpload::Command2_Click);
    // The session's account is what the fields show; Enter in either signs in,
    // as in any sign-in form.
    for (QLineEdit* field : {m_txtUsername, m_txtKey}) {
        connect(field, &QLineEdit::textChanged, this, [this] { m_owner.session().setAccount(account()); });
        connect(field, &QLineEdit::returnPressed, m_Command2, &QPushButton::click);
    }
}

QString frmUpload::Form_Load()
{
    // A credentials file that cannot be read leaves the fields empty; the
    // reason goes to whoever shows the window.
    QString error;
    LoadINIVariables(&error);
    return error;
}

bool frmUpload::LoadINIVariables(QString* error)
{
    AccountCredentials fields = account();
    bool save = m_cSave->isChecked();
    CredentialsFile file = CredentialsFile::recorderIni();
    if (!report(file, file.LoadINIVariables(fields, save), error))
        return false;
    // Saved values longer than the typing limits are kept whole.
    m_txtUsername->setMaxLength(std::max<int>(usernameLimit, fields.username.size()));
    m_txtKey->setMaxLength(std::max<int>(keyLimit, fields.key.size()));
    m_txtUsername->setText(fields.username);
    m_txtKey->setText(fields.key);
    m_cSave->setChecked(save);
    return true;
}

bool frmUpload::SaveINIVariables(QString* error)
{
    CredentialsFile file = CredentialsFile::recorderIni();
    return report(file, file.SaveINIVariables(account()), error);
}

bool frmUpload::ClearINIVariables(QString* error)
{
    CredentialsFile file = CredentialsFile::recorderIni();
    return report(file, file.ClearINIVariables(), error);
}

AccountCredentials frmUpload::account() const
{
    return {m_txtUsername->text(), m_txtKey->text()};
}

void frmUpload::Command2_Click()
{
    if (m_txtUsername->text().isEmpty() || m_txtKey->text().isEmpty()) {
        messagebox::show(this, QMessageBox::Warning, QStringLiteral("Inavlid username or key"),
                         QStringLiteral("Please enter your username and key!"));
        return;
    }
    if (m_owner.store().isEmpty()) {
        messagebox::show(this, QMessageBox::Critical, QStringLiteral("No steps"),
                         QStringLiteral("No steps recorded"));
        return;
    }

    BusyCursor busy;
    QString error;
    // The upload sends this file later; without it the service would get
    // whatever an earlier sign-in left there.
    if (!m_owner.writeTransactionFile(account(), &error)) {
        messagebox::show(this, QMessageBox::Critical, applicationTitle(), error);
        return;
    }
    const bool remembered = m_cSave->isChecked() ? SaveINIVariables(&error) : ClearINIVariables(&error);
    if (!remembered)
        messagebox::show(this, QMessageBox::Warning, applicationTitle(), error);
    m_owner.signedIn(account());
}

void frmUpload::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit closed();
}
