#include "NavigationTracker.h"

#include <algorithm>

namespace {

constexpr qint64 captureLifetime = 10000;
constexpr qint64 announcementLifetime = 5000;
constexpr qint64 requestLifetime = 30000;

} // namespace

QString NavigationTracker::key(const QUrl& url)
{
    return url.adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
}

void CaptureStore::add(const FormCapture& capture, const QStringList& oneTime)
{
    expire(capture.time);
    m_recent.append({capture, oneTime});
    if (m_recent.size() > 20)
        m_recent.removeFirst();
    // A later report of the same event (after the page's listeners) replaces the earlier one.
    for (FormCapture& c : m_captures) {
        if (c.frame == capture.frame && c.event == capture.event) {
            c.body = capture.body;
            c.method = capture.method;
            c.action = capture.action;
            return;
        }
    }
    m_captures.append(capture);
}

void CaptureStore::announced(const QUrl& url, qint64 now)
{
    m_announced.removeIf([now](const auto& a) { return now - a.second > captureLifetime; });
    m_announced.append({NavigationTracker::key(url), now});
}

bool CaptureStore::wasAnnounced(const QUrl& url) const
{
    const QString k = NavigationTracker::key(url);
    return std::any_of(m_announced.cbegin(), m_announced.cend(),
                       [&k](const auto& a) { return a.first == k; });
}

std::optional<QStringList> CaptureStore::oneTimeOf(const QString& method, const QByteArray& body) const
{
    for (qsizetype i = m_recent.size() - 1; i >= 0; --i) {
        const FormCapture& c = m_recent.at(i).first;
        if (c.method == method && c.body == body)
            return m_recent.at(i).second;
    }
    return std::nullopt;
}

std::optional<QByteArray> CaptureStore::takePost(const QUrl& url, qint64 now)
{
    expire(now);
    const QString wanted = NavigationTracker::key(url);
    for (qsizetype i = m_captures.size() - 1; i >= 0; --i) {
        const FormCapture& c = m_captures.at(i);
        if (c.method != u"post" || NavigationTracker::key(QUrl(c.action)) != wanted)
            continue;
        const QString frame = c.frame;
        const int group = c.group;
        // The first event of the group is the submission as sent (the engine
        // reports it again without the submitter).
        // A page's own form data built in the same task (for a fetch) comes before
        // the submit event and is passed over.
        qsizetype first = -1;
        qsizetype firstSubmitted = -1;
        for (qsizetype j = 0; j <= i; ++j) {
            const FormCapture& o = m_captures.at(j);
            if (o.frame != frame || o.group != group || o.method != u"post" ||
                NavigationTracker::key(QUrl(o.action)) != wanted)
                continue;
            if (first < 0)
                first = j;
            if (o.submitted && firstSubmitted < 0)
                firstSubmitted = j;
        }
        if (firstSubmitted >= 0)
            first = firstSubmitted;
        const QByteArray body = m_captures.at(first).body;
        m_captures.removeIf([&](const FormCapture& o) { return o.frame == frame && o.group == group; });
        return body;
    }
    return std::nullopt;
}

void CaptureStore::expire(qint64 now)
{
    m_captures.removeIf([now](const FormCapture& c) { return now - c.time > captureLifetime; });
}

std::optional<QByteArray> NavigationTracker::navigationRequested(const QUrl& url, Type type, bool mainFrame,
                                                                 qint64 now)
{
    expire(now);
    if (type != Type::Redirect)
        takeAnnouncement(key(url)); // announced and arrived as itself
    switch (type) {
    case Type::Redirect:
        m_redirects.append({url, mainFrame, now});
        return std::nullopt;
    case Type::Form:
        if (auto body = m_captures.takePost(url, now))
            return body;
        m_forms.append({url, mainFrame, now + formWait});
        return std::nullopt;
    case Type::Other:
        // A sub-frame's navigation may be a form posted into it: its request tells.
        if (!mainFrame) {
            if (auto body = m_captures.takePost(url, now))
                return body;
            m_forms.append({url, mainFrame, now + formWait});
            return std::nullopt;
        }
        [[fallthrough]];
    default:
        return QByteArray();
    }
}

std::optional<NavigationTracker::Started> NavigationTracker::intercepted(const QUrl& url,
                                                                         const QByteArray& method,
                                                                         Type chainType, bool mainFrame,
                                                                         qint64 now)
{
    expire(now);
    const QString k = key(url);
    m_requests.append({k, chainType, mainFrame, now, true, m_nextRequestId++});
    for (qsizetype i = 0; i < m_forms.size(); ++i) {
        PendingForm& form = m_forms[i];
        if (form.mainFrame != mainFrame || key(form.url) != k)
            continue;
        if (method != "POST") {
            const Started started{form.url, {}, form.mainFrame};
            m_forms.removeAt(i);
            return started;
        }
        if (auto body = m_captures.takePost(form.url, now)) {
            const Started started{form.url, *body, form.mainFrame};
            m_forms.removeAt(i);
            return started;
        }
        // The body report may still be on its way.
        form.requestSeen = true;
        form.deadline = now + formWait;
        return std::nullopt;
    }
    return std::nullopt;
}

void NavigationTracker::announced(const QUrl& url, qint64 now)
{
    expire(now);
    m_announced.append({key(url), now});
}

QList<NavigationTracker::Started> NavigationTracker::committed(const QUrl& url, bool mainFrame, qint64 now)
{
    // Everything the engine knew before the commit is known now.
    QList<Started> started = poll(now, true);
    const QString k = key(url);
    QList<int> committedChains;
    for (Request& r : m_requests) {
        if (r.mainFrame != mainFrame || !r.open)
            continue;
        if (r.key == k)
            committedChains.append(r.id);
        r.open = false;
    }
    // A navigation judged a hop of a chain that now commits itself was not a hop.
    for (qsizetype i = m_suspects.size() - 1; i >= 0; --i) {
        if (committedChains.contains(m_suspects.at(i).chainId)) {
            started.append({m_suspects.at(i).url, {}, m_suspects.at(i).mainFrame});
            m_suspects.removeAt(i);
        }
    }
    return started;
}

QList<NavigationTracker::Started> NavigationTracker::poll(qint64 now, bool force)
{
    QList<Started> started;
    for (qsizetype i = 0; i < m_forms.size();) {
        PendingForm& form = m_forms[i];
        if (auto body = m_captures.takePost(form.url, now)) {
            started.append({form.url, *body, form.mainFrame});
            m_forms.removeAt(i);
        } else if (force || now >= form.deadline) {
            // No body reported: record the address alone rather than lose the step.
            started.append({form.url, {}, form.mainFrame});
            m_forms.removeAt(i);
        } else {
            ++i;
        }
    }
    for (qsizetype i = 0; i < m_redirects.size();) {
        const PendingRedirect p = m_redirects.at(i);
        if (!force && now < p.requested + redirectDelay) {
            ++i;
            continue;
        }
        m_redirects.removeAt(i);
        const QString k = key(p.url);
        if (takeAnnouncement(k)) {
            started.append({p.url, {}, p.mainFrame});
            continue;
        }
        const auto recent = [&](const Request& r) { return r.time >= p.requested - 2000; };
        const bool requestedAsHop =
            std::any_of(m_requests.cbegin(), m_requests.cend(), [&](const Request& r) {
                return r.key == k && r.mainFrame == p.mainFrame && r.chainType != Type::Redirect && recent(r);
            });
        if (requestedAsHop)
            continue;
        const auto chain = std::find_if(m_requests.crbegin(), m_requests.crend(), [&](const Request& r) {
            return r.key != k && r.mainFrame == p.mainFrame && r.chainType == Type::Redirect && r.open &&
                   r.time <= p.requested;
        });
        if (chain != m_requests.crend()) {
            m_suspects.append({p.url, chain->id, p.mainFrame});
            continue;
        }
        started.append({p.url, {}, p.mainFrame});
    }
    return started;
}

bool NavigationTracker::takeAnnouncement(const QString& k)
{
    for (qsizetype i = 0; i < m_announced.size(); ++i) {
        if (m_announced.at(i).first == k) {
            m_announced.removeAt(i);
            return true;
        }
    }
    return false;
}

void NavigationTracker::expire(qint64 now)
{
    m_announced.removeIf([now](const auto& a) { return now - a.second > announcementLifetime; });
    m_requests.removeIf([now](const Request& r) { return now - r.time > requestLifetime; });
}
