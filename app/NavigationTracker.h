#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Decides which navigations the engine reports are navigations the browser
// started (each becomes one BeforeNavigate2) and which body each carries.
//
// The engine gives no request bodies and types server redirect hops and some
// page-started navigations alike ("Redirect"). The page script reports form
// submissions with their serialised body, announces the navigations it starts,
// and reports frame documents; the request interceptor reports every request
// with its method and the type of the navigation that started its chain. This
// class combines them. It is plain logic: the caller supplies the clock.

// What a page script saw of a form submission. Shared by every page of the
// program: a form may post into another window.
struct FormCapture
{
    QString frame; // the reporting frame's id
    int group = 0; // submissions reported in one task share a group
    int event = 0; // one form data event, reported once or twice (before and after page listeners)
    QString method;
    QString action; // the address the form posts to
    QByteArray body;
    qint64 time = 0;
    bool submitted = false; // reported after the form's submit event
};

class CaptureStore
{
public:
    // oneTime: the entries holding one-time values the site gave.
    void add(const FormCapture& capture, const QStringList& oneTime = {});
    // The body for a POST to url: the most recent group that posts there, its
    // first event reported after a submit event (else its first event), as last
    // reported. Consumes that group.
    std::optional<QByteArray> takePost(const QUrl& url, qint64 now);

    // A page announced a navigation to url (its link, script or refresh).
    void announced(const QUrl& url, qint64 now);
    bool wasAnnounced(const QUrl& url) const;
    // The one-time entries of the latest reported form whose body (for a GET:
    // the query) is these bytes; nothing when no form reported it.
    std::optional<QStringList> oneTimeOf(const QString& method, const QByteArray& body) const;

private:
    void expire(qint64 now);
    QList<FormCapture> m_captures;
    // Reports kept a while longer for the recording of the navigation they start.
    QList<QPair<FormCapture, QStringList>> m_recent;
    QList<QPair<QString, qint64>> m_announced;
};

class NavigationTracker
{
public:
    enum class Type
    {
        Typed,
        Link,
        Form,
        BackForward,
        Reload,
        Redirect,
        Other
    };
    struct Started
    {
        QUrl url;
        QByteArray body;
        bool mainFrame = true;
    };

    // How long a server-redirect-typed navigation waits for the facts that classify it.
    static constexpr qint64 redirectDelay = 100;
    // How long a form submission waits for its request or its body.
    static constexpr qint64 formWait = 300;

    explicit NavigationTracker(CaptureStore& captures) : m_captures(captures) {}

    // The engine asks whether a navigation may start. Returns the body when it is
    // a new navigation known now; otherwise the decision comes from a later call.
    std::optional<QByteArray> navigationRequested(const QUrl& url, Type type, bool mainFrame, qint64 now);
    // A request of a frame document left for the network.
    std::optional<Started> intercepted(const QUrl& url, const QByteArray& method, Type chainType,
                                       bool mainFrame, qint64 now);
    // The page announced a navigation it starts.
    void announced(const QUrl& url, qint64 now);
    // A frame's document was committed (the main frame's address changed, or a
    // sub-frame's document was created).
    QList<Started> committed(const QUrl& url, bool mainFrame, qint64 now);
    // Decisions that are due at now; force decides every pending one.
    QList<Started> poll(qint64 now, bool force = false);
    bool hasPending() const { return !m_forms.isEmpty() || !m_redirects.isEmpty(); }

    static QString key(const QUrl& url);

private:
    struct PendingForm
    {
        QUrl url;
        bool mainFrame;
        qint64 deadline;
        bool requestSeen = false;
    };
    struct PendingRedirect
    {
        QUrl url;
        bool mainFrame;
        qint64 requested;
    };
    struct Request
    {
        QString key;
        Type chainType;
        bool mainFrame;
        qint64 time;
        bool open = true; // no document of its frame class committed since
        int id;
    };
    struct Suspect
    {
        QUrl url;
        int chainId;
        bool mainFrame;
    };

    void expire(qint64 now);
    bool takeAnnouncement(const QString& key);

    CaptureStore& m_captures;
    QList<PendingForm> m_forms;
    QList<PendingRedirect> m_redirects;
    QList<Request> m_requests;
    QList<QPair<QString, qint64>> m_announced;
    QList<Suspect> m_suspects; // judged server hops of a chain that has not committed yet
    int m_nextRequestId = 1;
};
