#pragma once

#include "RecordedStep.h"
#include "StepCheck.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class QWebEnginePage;
class QWebEngineProfile;

// Loads a transaction's steps once each, in order, as fast as each completes,
// in a browser of its own: its own profile (no cookies of the recording, nothing
// recorded), no new windows, no script dialogs. A step's post data is sent as
// the replay sends it, the site's HTTP authentication is answered with the
// step's user and password, and the step's timeout ends a load that takes longer.
// An answer that is a file to download is not saved: the step loaded, unread.
class CheckRun : public QObject
{
    Q_OBJECT
public:
    explicit CheckRun(const QList<RecordedStep>& steps, QObject* parent = nullptr);
    ~CheckRun() override;

    QWebEnginePage* page() const { return m_page; }
    const QList<RecordedStep>& steps() const { return m_steps; }
    // One result per step; steps not yet run (or never, after stop()) are NotRun.
    const QList<stepcheck::Result>& results() const { return m_results; }
    bool isRunning() const { return m_running; }

    void start();
    // Ends the run: the step under way and those after it are not run.
    void stop();

signals:
    void stepStarted(int index);
    void stepFinished(int index);
    void finished();

private:
    void runStep(int index);
    void endWait(); // the step's load is over: no timer waits for it any more
    void loadEnded(bool succeeded, int httpStatus, const QString& error);
    void timedOut();
    void rendererEnded();
    void finishStep();

    QList<RecordedStep> m_steps;
    QList<stepcheck::Result> m_results;
    QWebEngineProfile* m_profile = nullptr;
    QWebEnginePage* m_page = nullptr;
    int m_index = -1;
    // Counts loads the run started; an event of an earlier load (ended by a
    // time-out or a stop) is ignored.
    quint64 m_generation = 0;
    bool m_running = false;
    bool m_waiting = false; // the step's load has not ended yet
    bool m_authAnswered = false;
    stepcheck::Load m_load;
    QElapsedTimer m_clock;
    QTimer m_timeout;
    // A load that stopped with no later one taking over: the answer had no page.
    QTimer m_settle;
    qint64 m_stoppedMs = -1; // when the step's load stopped, on the step's clock
};
