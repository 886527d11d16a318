#pragma once

#include "Credentials.h"
#include "ServiceRules.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class ServiceWindows;

// The upload window ("Upload transaction"): how to save the upload (new
// performance transaction, new full-page transaction, or the new steps of one
// of the account's transactions, listed from the service), and "Upload !".
// After an upload it hides and keeps its list and mode.
class frmfileUpload : public QWidget
{
    Q_OBJECT
public:
    frmfileUpload(ServiceWindows& owner, QWidget* parent);

    // The account the list and the upload are for, set at sign-in.
    const AccountCredentials& account() const { return m_account; }
    void setAccount(const AccountCredentials& account) { m_account = account; }

    // The load step: fetches the list, then selects the first mode. Does nothing
    // while a refused list keeps the window from being used.
    void Form_Load();
    // Fetches the account's transactions into Trans.
    void loadTransactionList();
    // Adapts the window to the chosen mode.
    void Option1_Click(int Index);
    // An edit of the list's text chooses mode 2.
    void Trans_Change();
    // The upload.
    void Command1_Click();
    void btnCancel_Click();
    void cRefresh_Click() { loadTransactionList(); }

    UploadMode uploadMode() const;
    // The chosen list entry's id; false when no entry is chosen (the text was
    // edited away from it, or nothing was picked).
    bool chosenTransaction(qint32* id) const;

    QRadioButton* Option1(int index) const { return m_Option1[index]; }
    QComboBox* Trans() const { return m_Trans; }
    QPushButton* Command1() const { return m_Command1; }
    QPushButton* btnCancel() const { return m_btnCancel; }
    QPushButton* cRefresh() const { return m_cRefresh; }

signals:
    // The window was closed (unloaded).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    AccountCredentials m_account;
    void showListUnreachable(const QString& reason);

    ServiceWindows& m_owner;
    QRadioButton* m_Option1[3] = {};
    QComboBox* m_Trans = nullptr;
    QPushButton* m_Command1 = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QPushButton* m_cRefresh = nullptr;
};
