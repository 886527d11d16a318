#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class ServiceWindows;

// The problem report window ("Report a problem"): the reporter's name, e-mail
// address and description, sent with the saved account user name and the
// current transaction. After a report it hides with its texts and a disabled
// Submit; Cancel (or the close box) unloads it, so the next opening is fresh.
class frmProblem : public QWidget
{
    Q_OBJECT
public:
    frmProblem(ServiceWindows& owner, QWidget* parent);

    // Sends the report.
    void SubmitProblem_Click();
    void btnCancel_Click();
    // Puts the user name saved in recorder.ini into txtUsername.
    bool loadSavedUsername(QString* error = nullptr);

    QLineEdit* fName() const { return m_fName; }
    QLineEdit* fEmail() const { return m_fEmail; }
    QPlainTextEdit* description() const { return m_description; }
    QPushButton* SubmitProblem() const { return m_SubmitProblem; }
    QPushButton* btnCancel() const { return m_btnCancel; }
    QLineEdit* txtUsername() const { return m_txtUsername; }

signals:
    // The window was closed (unloaded).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Ends a report that could not be prepared: shows why, lets it be sent again.
    void failPreparation(const QString& error);

    ServiceWindows& m_owner;
    QLineEdit* m_fName = nullptr;
    QLineEdit* m_fEmail = nullptr;
    QPlainTextEdit* m_description = nullptr;
    QPushButton* m_SubmitProblem = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QLineEdit* m_txtUsername = nullptr;
};
