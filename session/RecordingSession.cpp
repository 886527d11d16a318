#include "RecordingSession.h"

#include "BrowserLayout.h"

#include <QUrl>

RecordingSession::RecordingSession(QObject* parent) : QObject(parent)
{
    connect(&m_playback, &PlaybackEngine::statusTextChanged, this, &RecordingSession::setStatusText);
}

RecordingSession::Start RecordingSession::navigationStarting(const QString& url, const QString& postData,
                                                             bool recording)
{
    Start start;
    if (!recording)
        return start;
    if (url == u"about:blank")
        start.cancel = m_store.count() >= 1;
    else
        start.storeFull = m_store.addURL(url, postData) == StepStore::AddResult::StoreFull;
    return start;
}

RecordingSession::Completion RecordingSession::documentCompleted(const QString& url, const QString& title,
                                                                 bool recording, bool stepBack,
                                                                 bool loaded) const
{
    Completion done;
    if (!recording || url == u"about:blank")
        return done;
    done.step = m_store.count() - 1;
    done.showEditor = !stepBack;
    if (!(stepBack && !loaded))
        done.label = browserlayout::labelForTitle(title);
    return done;
}

int RecordingSession::pageStep(const QString& pageUrl) const
{
    const auto withoutFragment = [](const QString& url) { return QUrl(url).adjusted(QUrl::RemoveFragment); };
    const QUrl page = withoutFragment(pageUrl);
    for (int i = m_store.count() - 1; i >= 0; --i) {
        if (withoutFragment(m_store.at(i).url) == page)
            return i;
    }
    return m_store.count() - 1;
}
