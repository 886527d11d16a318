#include "Recorder.h"

#include "MessageBox.h"
#include "ProgramFolder.h"
#include "RecoveryFile.h"
#include "RepaintThrottle.h"
#include "ServiceWindows.h"
#include "frmBrowser.h"
#include "frmCheck.h"
#include "frmControlPanel.h"

#include <QApplication>
#include <QDir>
#include <QFile>

namespace {

// Asks whether to restore the readable steps of a kept copy; with none it only tells.
bool askRestore(QWidget* parent, const QString& text, int steps)
{
    const QString title = QStringLiteral("TallyroNet Transaction Recorder");
    if (steps == 0) {
        messagebox::show(parent, QMessageBox::Warning, title, text);
        return false;
    }
    return messagebox::ask(parent, QMessageBox::Question, title, text,
                           {QStringLiteral("Restore"), QStringLiteral("Discard")}) == 0;
}

} // namespace

QString Recorder::recoveryQuestion(int readable, bool damaged, const QString& keptAs)
{
    QString text = QStringLiteral("The recorder did not end normally last time.");
    if (damaged) {
        text +=
            keptAs.isEmpty()
                ? QStringLiteral(" The copy of the steps it kept is damaged.")
                : QStringLiteral(" The copy of the steps it kept is damaged; it was moved aside to \"%1\".")
                      .arg(QDir::toNativeSeparators(keptAs));
        if (readable == 0)
            return text + QStringLiteral(" None of its steps could be read.");
        return text + QStringLiteral(" Restore the %1 step(s) that could be read?").arg(readable);
    }
    return text + QStringLiteral(" Restore the %1 recorded step(s) it kept?").arg(readable);
}

Recorder::Recorder(QWebEngineProfile* profile, QObject* parent)
    : QObject(parent), m_profile(profile), m_editor(std::make_unique<frmControlPanel>(m_session)),
      // A recorded step changes the editor as its page starts and completes. Painting
      // it meanwhile takes the program's thread from the engine, which then serves
      // the page later; so the editor shows the step once the page is complete, or
      // at most a quarter second after it started.
      m_editorRepaints(std::make_unique<RepaintThrottle>(QList<QWidget*>{m_editor.get()}, 250))
{
    qApp->installEventFilter(&m_clickActivation);
}

Recorder::~Recorder()
{
    // Windows closing may still commit into the store: that is no longer work to keep.
    disconnect(&m_session.store(), nullptr, this, nullptr);
    delete m_check.data();
    m_services.reset();
    for (const QPointer<frmBrowser>& w : std::as_const(m_windows))
        delete w.data();
    // A normal end: nothing to recover next time (after the last write).
    m_recoveryWriter.reset();
    if (m_recoveryLock)
        QFile::remove(recoveryFile());
}

frmBrowser* Recorder::start()
{
    auto* main = new frmBrowser(*this, WebBrowser::Origin::OwnWindow);
    m_editor->setCommands(main);
    main->followPlayback(m_session.playback());
    m_services = std::make_unique<ServiceWindows>(m_session, main);
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

frmCheck* Recorder::checkWindow() const
{
    return m_check;
}

void Recorder::setCheckWindow(frmCheck* window)
{
    m_check = window;
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
    // A damaged copy is moved aside, not deleted: what cannot be read now may
    // still be worth a look.
    const QString keptAs = kept && kept->damaged ? keepDamagedCopy(recoveryFile()) : QString();
    const int readable = kept ? int(kept->steps.size()) : 0;
    const bool ask = kept && (readable > 0 || kept->damaged);
    if (ask && askRestore(parent, recoveryQuestion(readable, kept->damaged, keptAs), readable) &&
        readable > 0) {
        StepStore& store = m_session.store();
        // The steps were accepted when recorded, duplicates included.
        const bool allowed = store.allowDuplicates();
        store.setAllowDuplicates(true);
        for (const RecordedStep& s : kept->steps)
            store.add(s);
        store.setAllowDuplicates(allowed);
        m_editor->selectLastStep();
    }
    m_recoveryWriter = std::make_unique<RecoveryWriter>(recoveryFile());
    connect(m_recoveryWriter.get(), &RecoveryWriter::written, this, &Recorder::recoveryWritten);
    saveRecoveryCopy();
    // Handed over at once: the engine may take the process down right after a change.
    connect(&m_session.store(), &StepStore::changed, this, &Recorder::saveRecoveryCopy);
}

void Recorder::saveRecoveryCopy()
{
    m_recoveryWriter->keep(m_session.store().steps());
}

void Recorder::recoveryWritten(bool ok, const QString& error)
{
    if (ok) {
        m_recoveryFailing = false;
        return;
    }
    // Told once, not at every recorded step; a later successful write ends it.
    if (m_recoveryFailing)
        return;
    m_recoveryFailing = true;
    // Not modal: it may come during a page load.
    messagebox::notify(mainWindow(), QMessageBox::Warning, QStringLiteral("TallyroNet Transaction Recorder"),
                       error + QStringLiteral(" Recording goes on, but if the program ended abnormally "
                                              "now, the steps recorded from here on could not be "
                                              "restored."),
                       QStringLiteral("recoveryWriteFailure"));
}
