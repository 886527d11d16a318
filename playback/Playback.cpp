#include "Playback.h"

#include "CodePage.h"
#include "StepStore.h"

PlaybackEngine::PlaybackEngine(const StepStore& store, QObject* parent) : QObject(parent), m_store(store)
{
    // A coarse timer may be off by 5 % of the interval: a quarter of a second per step.
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &PlaybackEngine::Timer1_Timer);
}

void PlaybackEngine::PlayTracks()
{
    emit busyChanged(true);
    playIndex = 0;
    emit runStarting();
    playCount = m_store.count();
    Timer1.setInterval(m_interval);
    Timer1.start();
    Timer1_Timer();
}

void PlaybackEngine::Timer1_Timer()
{
    if (Timer1.isActive() && playIndex < playCount) {
        emit statusTextChanged(playIndex == playCount - 1 ? QStringLiteral("Done.")
                                                          : QStringLiteral("Playback...."));
        // Steps removed during the run are skipped; the run goes on.
        if (playIndex < m_store.count()) {
            const RecordedStep& step = m_store.at(playIndex);
            const QByteArray body = codepage::toAnsi(step.postdata);
            emit stepRequested(step.url, body, headersFor(body));
        }
        ++playIndex;
        if (playIndex == playCount)
            emit lastStepRequested(); // one more tick ends the run
        return;
    }
    Timer1.stop();
    emit statusTextChanged(QStringLiteral("Done."));
    emit busyChanged(false);
}
