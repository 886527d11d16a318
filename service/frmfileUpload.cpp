#include "frmfileUpload.h"

#include "BusyWait.h"
#include "ButtonKeys.h"
#include "MessageBox.h"
#include "ServiceWindows.h"
#include "TransactionFile.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString listPrompt = QStringLiteral("Please select transaction");
const QString disabledListPrompt = QStringLiteral("Please select a transaction");
const QString uploadTitle = QStringLiteral("Upload Status");

} // namespace

frmfileUpload::frmfileUpload(ServiceWindows& owner, QWidget* parent)
    : QWidget(parent, Qt::Window), m_owner(owner)
{
    setObjectName(QStringLiteral("frmfileUpload"));
    setWindowTitle(QStringLiteral("Upload transaction"));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* Label2 = new QLabel(QStringLiteral("Please select how the new transaction should be saved."));
    Label2->setObjectName(QStringLiteral("Label2"));

    const QString captions[3] = {QStringLiteral("Create a new performance transaction"),
                                 QStringLiteral("Create a new fullpage transaction"),
                                 QStringLiteral("Replace the steps in an existing transaction")};
    auto* modes = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        m_Option1[i] = new QRadioButton(captions[i]);
        m_Option1[i]->setObjectName(QStringLiteral("Option1(%1)").arg(i));
        modes->addButton(m_Option1[i], i);
    }

    m_Trans = new QComboBox;
    m_Trans->setObjectName(QStringLiteral("Trans"));
    m_Trans->setEditable(true);
    m_Trans->setInsertPolicy(QComboBox::NoInsert); // typed text is not a transaction
    m_Trans->setEditText(listPrompt);
    m_cRefresh = new QPushButton(QStringLiteral("Refresh"));
    m_cRefresh->setObjectName(QStringLiteral("cRefresh"));
    m_Command1 = new QPushButton(QStringLiteral("Upload !"));
    m_Command1->setObjectName(QStringLiteral("Command1"));
    m_btnCancel = new QPushButton(QStringLiteral("Cancel"));
    m_btnCancel->setObjectName(QStringLiteral("btnCancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label2);
    for (QRadioButton* option : m_Option1)
        layout->addWidget(option);
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_Trans, 1);
    listRow->addWidget(m_cRefresh);
    layout->addLayout(listRow);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_Command1);
    buttons->addWidget(m_btnCancel);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    setTabOrder(m_Command1, m_Option1[0]);
    setTabOrder(m_Option1[0], m_Option1[1]);
    setTabOrder(m_Option1[1], m_Option1[2]);
    setTabOrder(m_Option1[2], m_Trans);
    setTabOrder(m_Trans, m_cRefresh);
    setTabOrder(m_cRefresh, m_btnCancel);
    m_Command1->setFocus();

    connect(modes, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            Option1_Click(id);
    });
    connect(m_Trans->lineEdit(), &QLineEdit::textEdited, this, &frmfileUpload::Trans_Change);
    connect(m_Command1, &QPushButton::clicked, this, &frmfileUpload::Command1_Click);
    connect(m_btnCancel, &QPushButton::clicked, this, &frmfileUpload::btnCancel_Click);
    connect(m_cRefresh, &QPushButton::clicked, this, &frmfileUpload::cRefresh_Click);
    enterPressesFocusedButton(this);
}

void frmfileUpload::Form_Load()
{
    if (m_owner.uploadCancelled())
        return;
    loadTransactionList();
    // A refused list has closed the window already.
    if (!m_owner.uploadCancelled())
        m_Option1[0]->setChecked(true);
}

void frmfileUpload::loadTransactionList()
{
    QString response;
    QString reason;
    const bool reached =
        exchangeWhileBusy(QStringLiteral("GET"), listObjectPath(m_account.username, m_account.key), QString(),
                          QByteArray(), &response, &reason);
    const TransactionList list = reached ? parseTransactionList(response) : TransactionList{};
    if (list.kind == TransactionList::Kind::Refused) {
        m_owner.transactionListRefused(list.message);
        return;
    }
    m_Trans->clear();
    m_Trans->setEditText(listPrompt);
    if (!reached) {
        messagebox::show(this, QMessageBox::Critical, applicationTitle(), serviceUnreachableText(reason));
        return;
    }
    if (list.kind == TransactionList::Kind::NoTransactions)
        return;
    for (const TransactionEntry& entry : list.entries)
        m_Trans->addItem(entry.name, entry.id);
    // Adding to an empty combo box picks the first entry; none is chosen yet.
    m_Trans->setCurrentIndex(-1);
    m_Trans->setEditText(listPrompt);
}

void frmfileUpload::Option1_Click(int Index)
{
    if (Index == static_cast<int>(UploadMode::Replace)) {
        m_Trans->setEnabled(true);
        m_cRefresh->setVisible(true);
        return;
    }
    m_Trans->setCurrentIndex(-1);
    m_Trans->setEditText(disabledListPrompt);
    m_Trans->setEnabled(false);
    m_cRefresh->setVisible(false);
}

void frmfileUpload::Trans_Change()
{
    m_Option1[static_cast<int>(UploadMode::Replace)]->setChecked(true);
}

UploadMode frmfileUpload::uploadMode() const
{
    if (m_Option1[2]->isChecked())
        return UploadMode::Replace;
    if (m_Option1[1]->isChecked())
        return UploadMode::FullPage;
    return UploadMode::Performance;
}

bool frmfileUpload::chosenTransaction(qint32* id) const
{
    const int index = m_Trans->currentIndex();
    if (index < 0 || m_Trans->currentText() != m_Trans->itemText(index))
        return false;
    *id = m_Trans->itemData(index).toInt();
    return true;
}

void frmfileUpload::Command1_Click()
{
    const UploadMode mode = uploadMode();
    qint32 id = 0;
    if (mode == UploadMode::Replace && !chosenTransaction(&id)) {
        messagebox::show(this, QMessageBox::Warning, QStringLiteral("No transaction selected"), listPrompt);
        return;
    }
    m_Command1->setEnabled(false);

    // The transaction exactly as this window's sign-in wrote it.
    QString error;
    const QList<FormPart> parts = uploadParts(defaultTransactionFile(), m_owner.transactionBytes());
    if (const auto part = partHoldingDelimiter(parts)) {
        messagebox::show(this, QMessageBox::Critical, uploadTitle, delimiterInPartText(*part));
        m_Command1->setEnabled(true);
        return;
    }
    QString response;
    const bool reached = exchangeWhileBusy(QStringLiteral("POST"), uploadObjectPath(mode, id),
                                           multipartHeader(), buildFormBody(parts), &response, &error);
    if (reached && isSuccessAnswer(response))
        messagebox::show(this, QMessageBox::Information, uploadTitle, uploadSuccessText());
    else
        messagebox::show(this, QMessageBox::Critical, uploadTitle,
                         uploadFailureText(reached ? response : error));
    hide();
    m_Command1->setEnabled(true);
}

void frmfileUpload::btnCancel_Click()
{
    m_owner.activateMainWindow();
    close();
}

void frmfileUpload::closeEvent(QCloseEvent* event)
{
    event->accept();
    emit closed();
}
