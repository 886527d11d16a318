#include "frmCheck.h"

#include "ButtonKeys.h"
#include "FileChooser.h"
#include "FileReplace.h"
#include "MessageBox.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QWebEngineView>

namespace {

enum Column
{
    StepColumn,
    LabelColumn,
    MethodColumn,
    AddressColumn,
    TimeColumn,
    ResultColumn,
    FailedColumn,
    ColumnCount
};

} // namespace

frmCheck::frmCheck(const QList<RecordedStep>& steps, QWidget* parent)
    : QWidget(parent, Qt::Window), m_run(new CheckRun(steps, this))
{
    setObjectName(QStringLiteral("frmCheck"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title());

    m_lblCheckStatus = new QLabel(this);
    m_lblCheckStatus->setObjectName(QStringLiteral("lblCheckStatus"));

    auto* splitter = new QSplitter(Qt::Vertical, this);
    m_view = new QWebEngineView(m_run->page(), splitter);
    m_grdCheck = new QTableWidget(int(steps.size()), ColumnCount, splitter);
    m_grdCheck->setObjectName(QStringLiteral("grdCheck"));
    m_grdCheck->setHorizontalHeaderLabels(
        {QStringLiteral("Step"), QStringLiteral("Label"), QStringLiteral("Method"), QStringLiteral("Address"),
         QStringLiteral("Load time"), QStringLiteral("Result"), QStringLiteral("What failed")});
    m_grdCheck->verticalHeader()->hide();
    m_grdCheck->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grdCheck->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grdCheck->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grdCheck->setTabKeyNavigation(false); // Tab goes on to the buttons; the arrows move in the grid
    m_grdCheck->horizontalHeader()->setStretchLastSection(true);
    m_view->setMinimumHeight(120);
    splitter->setChildrenCollapsible(false);
    splitter->setSizes({400, 260});
    for (int i = 0; i < steps.size(); ++i)
        showResult(i);
    m_grdCheck->resizeColumnsToContents();
    m_grdCheck->setColumnWidth(AddressColumn, std::min(m_grdCheck->columnWidth(AddressColumn), 320));

    m_lblNotices = new QLabel(this);
    m_lblNotices->setObjectName(QStringLiteral("lblCheckNotices"));
    m_lblNotices->setWordWrap(true);
    m_lblNotices->hide();

    m_cmdCheckStop = new QPushButton(QStringLiteral("S&top"), this);
    m_cmdCheckStop->setObjectName(QStringLiteral("cmdCheckStop"));
    m_cmdSaveReport = new QPushButton(QStringLiteral("&Save report..."), this);
    m_cmdSaveReport->setObjectName(QStringLiteral("cmdSaveReport"));
    m_cmdSaveReport->setEnabled(false);
    m_cmdCheckClose = new QPushButton(QStringLiteral("&Close"), this);
    m_cmdCheckClose->setObjectName(QStringLiteral("cmdCheckClose"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdCheckStop);
    buttons->addWidget(m_cmdSaveReport);
    buttons->addWidget(m_cmdCheckClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblCheckStatus);
    layout->addWidget(splitter, 1);
    layout->addWidget(m_lblNotices);
    layout->addLayout(buttons);
    resize(960, 720);

    // The window follows the run a few times a second, not at every step: laying
    // it out again at every page would slow the run down by a fifth.
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(250);
    connect(&m_refresh, &QTimer::timeout, this, &frmCheck::refresh);
    connect(m_run, &CheckRun::stepStarted, this, [this](int index) {
        m_current = index;
        if (!m_refresh.isActive())
            m_refresh.start();
    });
    connect(m_run, &CheckRun::stepFinished, this, [this](int index) {
        m_finished.append(index);
        if (!m_refresh.isActive())
            m_refresh.start();
    });
    connect(m_run, &CheckRun::finished, this, &frmCheck::runFinished);
    connect(m_cmdCheckStop, &QPushButton::clicked, m_run, &CheckRun::stop);
    connect(m_cmdSaveReport, &QPushButton::clicked, this, &frmCheck::cmdSaveReport_Click);
    connect(m_cmdCheckClose, &QPushButton::clicked, this, &QWidget::close);
    enterPressesFocusedButton(this);
    connect(m_grdCheck, &QTableWidget::itemSelectionChanged, this, [this] {
        const auto rows = m_grdCheck->selectionModel()->selectedRows();
        if (!rows.isEmpty())
            emit stepChosen(rows.first().row());
    });
}

frmCheck::~frmCheck()
{
    // The view goes before the run's page.
    delete m_view;
    m_view = nullptr;
}

void frmCheck::setNotices(const QStringList& notices)
{
    m_notices = notices;
    m_lblNotices->setText(notices.isEmpty() ? QString()
                                            : QStringLiteral("One-time values the site may refuse when the "
                                                             "service sends them again:\n") +
                                                  notices.join(u'\n'));
    m_lblNotices->setVisible(!notices.isEmpty());
}

void frmCheck::showResult(int index)
{
    const stepcheck::Result& r = m_run->results().at(index);
    const QStringList texts = {QString::number(r.number),
                               r.label,
                               r.method,
                               r.url,
                               stepcheck::loadTimeText(r.ms),
                               stepcheck::outcomeText(r.outcome),
                               r.outcome == stepcheck::Outcome::NotRun && m_run->isRunning()
                                   ? QString()
                                   : r.failures.join(QStringLiteral("; "))};
    for (int column = 0; column < ColumnCount; ++column) {
        auto* item = new QTableWidgetItem(texts.at(column));
        item->setToolTip(texts.at(column));
        if (column == ResultColumn && r.outcome == stepcheck::Outcome::Failed)
            item->setForeground(QColor(0xb0, 0x10, 0x10));
        m_grdCheck->setItem(index, column, item);
    }
}

void frmCheck::refresh()
{
    for (const int index : std::as_const(m_finished))
        showResult(index);
    m_finished.clear();
    if (m_run->isRunning())
        m_lblCheckStatus->setText(
            QStringLiteral("Checking step %1 of %2...").arg(m_current + 1).arg(m_run->steps().size()));
}

void frmCheck::runFinished()
{
    m_refresh.stop();
    refresh();
    for (int i = 0; i < m_run->results().size(); ++i) {
        if (m_run->results().at(i).outcome == stepcheck::Outcome::NotRun)
            showResult(i);
    }
    m_lblCheckStatus->setText(stepcheck::summary(m_run->results()));
    m_cmdCheckStop->setEnabled(false);
    m_cmdSaveReport->setEnabled(true);
}

void frmCheck::cmdSaveReport_Click()
{
    QString path =
        filechooser::saveName(this, QStringLiteral("Save report"), QStringLiteral("check-report.html"),
                              QStringLiteral("HTML files (*.html *.htm)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".html");
    saveReport(path);
}

bool frmCheck::saveReport(const QString& path)
{
    QString reason;
    if (replaceFile(path, stepcheck::htmlReport(m_run->results(), QDateTime::currentDateTime(), m_notices),
                    FileKind::UserFile, &reason))
        return true;
    messagebox::show(this, QMessageBox::Warning, title(), fileErrorMessage(path, reason));
    return false;
}

void frmCheck::closeEvent(QCloseEvent* event)
{
    m_run->stop();
    QWidget::closeEvent(event);
}
