#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class StepStore;

// What a replay needs of the program's windows.
class PlaybackHost
{
public:
    virtual ~PlaybackHost() = default;
    // Requests a step in the main window's browser: a GET when postData is empty.
    virtual void navigateStep(const QString& url, const QByteArray& postData, const QString& headers) = 0;
    // Before the first request: hide the step editor, bring up the main window,
    // switch recording off.
    virtual void prepareRun() = 0;
    // Play shown / Stop shown.
    virtual void setRunningControls(bool running) = 0;
    virtual void setStatusText(const QString& text) = 0;
    virtual void setHourglass(bool on) = 0;
};

// Replays the recorded steps in order, one request per tick of a fixed
// interval, without waiting for pages to load: the pace is the monitoring
// service's, not the page's.
class PlaybackEngine : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultInterval = 5000;
    static QString formHeader()
    {
        return QStringLiteral("Content-Type: application/x-www-form-urlencoded\r\n");
    }

    explicit PlaybackEngine(const StepStore& store, QObject* parent = nullptr);

    void setHost(PlaybackHost* host) { m_host = host; }
    // Tests may shorten the pace.
    void setInterval(int ms) { m_interval = ms; }

    // Starts a run from the first step.
    void PlayTracks();
    // One tick: requests the next step, or ends the run after the last one.
    void Timer1_Timer();
    // Stops requesting steps.
    void stop() { Timer1.stop(); }

    bool isActive() const { return Timer1.isActive(); }
    int playIndex = 0;
    int playCount = 0;

private:
    const StepStore& m_store;
    PlaybackHost* m_host = nullptr;
    int m_interval = defaultInterval;
    QTimer Timer1;
};
