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
    if (!m_host)
        return;
    m_host->setHourglass(true);
    playIndex = 0;
    m_host->prepareRun();
    playCount = m_store.count();
    Timer1.setInterval(m_interval);
    Timer1.start();
    Timer1_Timer();
}

void PlaybackEngine::Timer1_Timer()
{
    if (!m_host)
        return;
    if (Timer1.isActive() && playIndex < playCount) {
        m_host->setStatusText(playIndex == playCount - 1 ? QStringLiteral("Done.")
                                                         : QStringLiteral("Playback...."));
        // Steps removed during the run are skipped; the run goes on.
        if (playIndex < m_store.count()) {
            const RecordedStep& step = m_store.at(playIndex);
            if (!step.postdata.isEmpty())
                m_host->navigateStep(step.url, codepage::toAnsi(step.postdata), formHeader());
            else
                m_host->navigateStep(step.url, {}, {});
        }
        ++playIndex;
        if (playIndex == playCount)
            m_host->setRunningControls(false); // one more tick ends the run
        return;
    }
    Timer1.stop();
    m_host->setStatusText(QStringLiteral("Done."));
    m_host->setHourglass(false);
}
