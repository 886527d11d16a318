#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class StepStore;

// Replays the recorded steps in order, one request per tick of a fixed
// interval, without waiting for pages to load: the pace is the monitoring
// service's, not the page's. The windows follow the run through the signals.
class PlaybackEngine : public QObject
{
    Q_OBJECT
public:
    static constexpr int defaultInterval = 5000;
    static QString formHeader()
    {
        return QStringLiteral("Content-Type: application/x-www-form-urlencoded\r\n");
    }
    // A page is asked of the site, not taken from the browser's cache, as a
    // forced reload asks: a replay shows the site as it answers now, as the
    // monitoring service sees it.
    static QString freshHeader() { return QStringLiteral("Cache-Control: no-cache\r\nPragma: no-cache\r\n"); }
    // The headers a step is requested with: a form's type for a body, else freshHeader.
    static QString headersFor(const QByteArray& body)
    {
        return body.isEmpty() ? freshHeader() : formHeader();
    }

    explicit PlaybackEngine(const StepStore& store, QObject* parent = nullptr);

    // Tests may shorten the pace.
    void setInterval(int ms) { m_interval = ms; }

    // Starts a run from the first step.
    void PlayTracks();
    // One tick: requests the next step, or ends the run after the last one.
    void Timer1_Timer();
    // Stops requesting steps.
    void stop() { Timer1.stop(); }

    bool isActive() const { return Timer1.isActive(); }

signals:
    // Before the first request: the step editor goes, the main window comes up,
    // recording stops.
    void runStarting();
    // Requests a step in the main window's browser: a GET (with freshHeader) when
    // postData is empty.
    void stepRequested(const QString& url, const QByteArray& postData, const QString& headers);
    // The last step is requested: Play shows again (one more tick ends the run).
    void lastStepRequested();
    void statusTextChanged(const QString& text);
    void busyChanged(bool busy);

private:
    const StepStore& m_store;
    int playIndex = 0;
    int playCount = 0;
    int m_interval = defaultInterval;
    QTimer Timer1;
};
