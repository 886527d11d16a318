#include "RecordingSession.h"

#include "CodePage.h"

RecordingSession::RecordingSession(QObject* parent) : QObject(parent)
{
    connect(&m_playback, &PlaybackEngine::statusTextChanged, this, &RecordingSession::setStatusText);
}

RecordingSession::Start RecordingSession::navigationStarting(const QString& url, const QByteArray& postData,
                                                             bool recording)
{
    Start start;
    if (!recording)
        return start;
    if (url == u"about:blank")
        start.cancel = m_store.count() >= 1;
    else
        start.storeFull =
            m_store.addURL(url, codepage::fromAnsi(postData)) == StepStore::AddResult::StoreFull;
    return start;
}
