#pragma once

#include "CheckRun.h"

#include <QStringList>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPushButton;
class QTableWidget;
class QWebEngineView;

// The check of a transaction: its browser loads the steps one after another,
// the table fills in with each step's result, and at the end the summary
// shows and the report can be saved. Selecting a row asks for that step in
// the step editor. The window deletes itself when closed; closing it stops the run.
class frmCheck : public QWidget
{
    Q_OBJECT
public:
    explicit frmCheck(const QList<RecordedStep>& steps, QWidget* parent = nullptr);
    ~frmCheck() override;

    CheckRun& run() { return *m_run; }
    // Lines about steps that need attention beyond their checks, listed under the table.
    void setNotices(const QStringList& notices);
    // Writes the report; false (after telling the user) when it could not be written.
    bool saveReport(const QString& path);

    static QString title() { return QStringLiteral("Check transaction"); }

signals:
    void stepChosen(int index);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showResult(int index);
    void runFinished();
    void refresh();
    void cmdSaveReport_Click();

    CheckRun* m_run = nullptr;
    QStringList m_notices;
    QTimer m_refresh;
    int m_current = 0;
    QList<int> m_finished; // rows to show
    QLabel* m_lblCheckStatus = nullptr;
    QWebEngineView* m_view = nullptr;
    QTableWidget* m_grdCheck = nullptr;
    QLabel* m_lblNotices = nullptr;
    QPushButton* m_cmdCheckStop = nullptr;
    QPushButton* m_cmdSaveReport = nullptr;
    QPushButton* m_cmdCheckClose = nullptr;
};
