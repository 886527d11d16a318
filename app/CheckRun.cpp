#include "CheckRun.h"

#include "CodePage.h"
#include "Playback.h"
#include "WebBrowser.h"

#include <QAuthenticator>
#include <QPointer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace {

// A page that opens no windows and shows no dialogs: a check runs unattended.
class CheckPage : public QWebEnginePage
{
public:
    using QWebEnginePage::QWebEnginePage;

protected:
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
};

} // namespace

CheckRun::CheckRun(const QList<RecordedStep>& steps, QObject* parent) : QObject(parent), m_steps(steps)
{
    for (int i = 0; i < m_steps.size(); ++i)
        m_results.append(stepcheck::notRun(i + 1, m_steps.at(i)));
    m_profile = new QWebEngineProfile(this); // off the record: starts with no cookies
    m_page = new CheckPage(m_profile, this);

    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, &CheckRun::timedOut);
    m_settle.setSingleShot(true);
    m_settle.setInterval(1000);
    connect(&m_settle, &QTimer::timeout, this, [this] {
        if (m_waiting)
            loadEnded(false, 0,
                      QStringLiteral("the answer had no page (such as 204 No Content), or the load "
                                     "was stopped"));
    });
    connect(m_page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (!m_waiting)
            return;
        switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            m_settle.stop();
            m_stoppedMs = -1;
            return;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            // A later navigation taking over starts at once and reports on its own;
            // an answer without a page (204, a file) starts none.
            m_stoppedMs = m_clock.elapsed();
            m_settle.start();
            return;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            loadEnded(true, 0, {});
            return;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            loadEnded(false,
                      info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain ? info.errorCode()
                                                                                        : 0,
                      info.errorString());
            return;
        }
    });
    connect(m_page, &QWebEnginePage::authenticationRequired, this, [this](const QUrl&, QAuthenticator* auth) {
        // Answered once per step: a refused answer is the step's failure, not a loop.
        const RecordedStep& step = m_steps.value(m_index);
        if (!m_waiting || m_authAnswered || (step.httpuser.isEmpty() && step.httppass.isEmpty())) {
            *auth = QAuthenticator(); // no answer: the request is cancelled
            return;
        }
        m_authAnswered = true;
        auth->setUser(step.httpuser);
        auth->setPassword(step.httppass);
    });
    connect(m_profile, &QWebEngineProfile::downloadRequested, this, [this](QWebEngineDownloadRequest* file) {
        file->cancel(); // nothing is saved
        if (!m_waiting || file->page() != m_page)
            return;
        m_load.file = file->downloadFileName();
        loadEnded(true, 0, {});
    });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status, int) {
                if (status != QWebEnginePage::NormalTerminationStatus && m_waiting)
                    rendererEnded();
            });
}

CheckRun::~CheckRun()
{
    // The page goes before its profile.
    delete m_page;
    m_page = nullptr;
}

void CheckRun::start()
{
    if (m_running)
        return;
    m_running = true;
    runStep(0);
}

void CheckRun::stop()
{
    if (!m_running)
        return;
    ++m_generation;
    endWait();
    m_page->triggerAction(QWebEnginePage::Stop);
    m_running = false;
    emit finished();
}

void CheckRun::runStep(int index)
{
    if (index >= m_steps.size()) {
        m_running = false;
        emit finished();
        return;
    }
    m_index = index;
    ++m_generation;
    m_load = {};
    m_stoppedMs = -1;
    m_authAnswered = false;
    m_waiting = true;
    const RecordedStep& step = m_steps.at(index);
    emit stepStarted(index);
    m_timeout.start(stepcheck::timeoutSeconds(step) * 1000);
    m_clock.start();
    // The same request the replay makes.
    const QByteArray body = codepage::toAnsi(step.postdata);
    m_page->load(WebBrowser::request(QUrl::fromUserInput(step.url), body, PlaybackEngine::headersFor(body)));
}

void CheckRun::endWait()
{
    m_waiting = false;
    m_timeout.stop();
    m_settle.stop();
}

void CheckRun::loadEnded(bool succeeded, int httpStatus, const QString& error)
{
    endWait();
    m_load.ms = m_stoppedMs >= 0 ? m_stoppedMs : m_clock.elapsed();
    m_load.succeeded = succeeded;
    m_load.httpStatus = httpStatus;
    m_load.error = error;
    // The page's text is read only when there is a phrase to look for.
    const RecordedStep& step = m_steps.at(m_index);
    if (!succeeded || !m_load.file.isEmpty() ||
        (stepcheck::phrases(step.keywords).isEmpty() && stepcheck::phrases(step.errors).isEmpty())) {
        finishStep();
        return;
    }
    const quint64 generation = m_generation;
    QPointer<CheckRun> self(this);
    m_page->toPlainText([self, generation](const QString& text) {
        if (!self || self->m_generation != generation || !self->m_running)
            return;
        self->m_load.text = text;
        self->finishStep();
    });
}

void CheckRun::timedOut()
{
    if (!m_waiting)
        return;
    endWait();
    m_load.ms = m_clock.elapsed();
    m_load.timedOut = true;
    m_page->triggerAction(QWebEnginePage::Stop);
    finishStep();
}

void CheckRun::rendererEnded()
{
    endWait();
    m_load.ms = m_clock.elapsed();
    m_load.crashed = true;
    finishStep();
}

void CheckRun::finishStep()
{
    const int index = m_index;
    m_results[index] = stepcheck::judge(index + 1, m_steps.at(index), m_load);
    emit stepFinished(index);
    // The next load starts outside the engine's callbacks.
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation, index] {
        if (m_running && generation == m_generation)
            runStep(index + 1);
    });
}
