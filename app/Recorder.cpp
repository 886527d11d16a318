#include "Recorder.h"

#include "ProgramFolder.h"
#include "RecoveryFile.h"
#include "ServiceWindows.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>

namespace {

std::function<bool(QWidget*, int)>& restoreQuestion()
{
    static std::function<bool(QWidget*, int)> question = [](QWidget* parent, int steps) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("TallyroNet Transaction Recorder"),
                        QStringLiteral("The recorder did not end normally last time. Restore the %1 recorded "
                                       "step(s) it kept?")
                            .arg(steps),
                        QMessageBox::NoButton, parent);
        QPushButton* restore = box.addButton(QStringLiteral("Restore"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("Discard"), QMessageBox::RejectRole);
        box.setDefaultButton(restore);
        box.exec();
        return box.clickedButton() == restore;
    };
    return question;
}

} // namespace

void Recorder::setRestoreQuestion(std::function<bool(QWidget*, int)> question)
{
    restoreQuestion() = std::move(question);
}

Recorder::Recorder(QWebEngineProfile* profile, QObject* parent)
    : QObject(parent), m_profile(profile), m_editor(std::make_unique<frmControlPanel>())
{
    qApp->installEventFilter(&m_clickActivation);
}

Recorder::~Recorder()
{
    // Windows closing may still commit into the store: that is no longer work to keep.
    disconnect(&m_editor->store(), nullptr, this, nullptr);
    m_services.reset();
    for (const QPointer<frmBrowser>& w : std::as_const(m_windows))
        delete w.data();
    // A normal end: nothing to recover next time.
    if (m_recoveryLock)
        QFile::remove(recoveryFile());
}

frmBrowser* Recorder::start()
{
    auto* main = new frmBrowser(*this, WebBrowser::Origin::OwnWindow);
    m_editor->setCommands(main);
    m_editor->playback().setHost(main);
    m_services = std::make_unique<ServiceWindows>(m_editor->store(), main);
    offerRecovery(main);
    return main;
}

frmBrowser* Recorder::mainWindow() const
{
    for (const QPointer<frmBrowser>& w : m_windows) {
        if (w)
            return w;
    }
    return nullptr;
}

QList<frmBrowser*> Recorder::windows() const
{
    QList<frmBrowser*> list;
    for (const QPointer<frmBrowser>& w : m_windows) {
        if (w)
            list.append(w);
    }
    return list;
}

void Recorder::windowOpened(frmBrowser* window)
{
    m_windows.removeAll(nullptr);
    m_windows.append(window);
}

void Recorder::closeAllBut(frmBrowser* window)
{
    for (qsizetype i = m_windows.size() - 1; i >= 0; --i) {
        frmBrowser* w = m_windows.at(i);
        if (w && w != window)
            w->close();
    }
    m_editor->setProgramEnding(true);
    m_editor->close();
    // Dialogs and message boxes of the program go too.
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top != window && top != m_editor.get() && top->isVisible() && !qobject_cast<frmBrowser*>(top))
            top->close();
    }
}

void Recorder::offerRecovery(QWidget* parent)
{
    auto lock = std::make_unique<QLockFile>(programFile(QStringLiteral("recovery.lock")));
    if (!lock->tryLock(0))
        return; // another running recorder keeps its own copy
    m_recoveryLock = std::move(lock);
    const auto kept = loadRecovery(recoveryFile());
    if (kept && !kept->isEmpty() && restoreQuestion()(parent, int(kept->size()))) {
        StepStore& store = m_editor->store();
        // The steps were accepted when recorded, duplicates included.
        const bool allowed = store.allowDuplicates();
        store.setAllowDuplicates(true);
        for (const RecordedStep& s : *kept)
            store.addURL(s.url, s.postdata, s.keywords, s.errors, s.cookies, s.httpuser, s.httppass,
                         s.timeout, s.ping, s.label);
        store.setAllowDuplicates(allowed);
        m_editor->setFieldsFrom(store.at(store.count() - 1), store.at(store.count() - 1).ping);
        m_editor->selectLine(store.count() - 1);
    }
    saveRecoveryCopy();
    // Written at once: the engine may take the process down right after a change.
    connect(&m_editor->store(), &StepStore::changed, this, &Recorder::saveRecoveryCopy);
}

void Recorder::saveRecoveryCopy()
{
    const QList<RecordedStep>& steps = m_editor->store().steps();
    if (steps.isEmpty()) {
        QFile::remove(recoveryFile());
        return;
    }
    QString error;
    if (!saveRecovery(recoveryFile(), steps, &error))
        qWarning("%s", qPrintable(error));
}
