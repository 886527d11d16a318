#pragma once

#include "Credentials.h"

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class ServiceWindows;

// The sign-in window ("Upload Form"): the account's user name and key, whether
// to remember them, and the Upload button that prepares the upload.
class frmUpload : public QWidget
{
    Q_OBJECT
public:
    static constexpr int usernameLimit = 20;
    static constexpr int keyLimit = 32;

    frmUpload(ServiceWindows& owner, QWidget* parent);

    // The load step: fills the fields from recorder.ini; why it could not, or nothing.
    QString Form_Load();

    // recorder.ini and the fields. Each returns false with a sentence naming the
    // file and the reason when the file cannot be used.
    bool LoadINIVariables(QString* error = nullptr);
    bool SaveINIVariables(QString* error = nullptr);
    bool ClearINIVariables(QString* error = nullptr);

    // The sign-in.
    void Command2_Click();

    AccountCredentials account() const;

    QLineEdit* txtUsername() const { return m_txtUsername; }
    QLineEdit* txtKey() const { return m_txtKey; }
    QCheckBox* cSave() const { return m_cSave; }
    QPushButton* Command2() const { return m_Command2; }

signals:
    // The window was closed (unloaded), by the user or by the sign-in.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    ServiceWindows& m_owner;
    QLineEdit* m_txtUsername = nullptr;
    QLineEdit* m_txtKey = nullptr;
    QCheckBox* m_cSave = nullptr;
    QPushButton* m_Command2 = nullptr;
};
