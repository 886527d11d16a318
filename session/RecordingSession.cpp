#include "RecordingSession.h"

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
