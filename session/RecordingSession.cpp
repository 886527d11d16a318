#include "RecordingSession.h"

#include "BrowserLayout.h"
#include "CodePage.h"
#include "OneTime.h"

#include <QUrl>

#include <utility>

namespace {

// Two addresses of one page: the same but for a fragment.
bool samePage(const QString& a, const QString& b)
{
    return QUrl(a).adjusted(QUrl::RemoveFragment) == QUrl(b).adjusted(QUrl::RemoveFragment);
}

QList<onetime::Entry> entries(const QString& encoded, onetime::Origin origin)
{
    QList<onetime::Entry> list;
    for (const auto& [name, value] : onetime::formPairs(encoded))
        list.append({name, value, origin});
    return list;
}

} // namespace

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
        start.storeFull =
            m_store.add({.url = url,
                         .postdata = postData,
                         .keywords = {},
                         .errors = {},
                         .cookies = {},
                         .httpuser = {},
                         .httppass = {},
                         .timeout = {},
                         .ping = {},
                         .label = {},
                         .oneTime = oneTimeOf(url, postData)}) == StepStore::AddResult::StoreFull;
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
    for (int i = m_store.count() - 1; i >= 0; --i) {
        if (samePage(m_store.at(i).url, pageUrl))
            return i;
    }
    return m_store.count() - 1;
}

RecordingSession::SignInOffer RecordingSession::signInOffer(const QString& url, bool recording) const
{
    SignInOffer offer;
    const int pos = pageStep(url);
    if (pos < 0)
        return offer;
    offer.user = m_store.at(pos).httpuser;
    offer.password = m_store.at(pos).httppass;
    offer.keep = recording && samePage(m_store.at(m_store.count() - 1).url, url);
    return offer;
}

std::optional<RecordingSession::SiteSignIn> RecordingSession::takeSiteSignIn(int pos)
{
    if (!m_siteSignIn || pos < 0 || pos >= m_store.count() ||
        !samePage(m_store.at(pos).url, m_siteSignIn->url))
        return std::nullopt;
    return std::exchange(m_siteSignIn, std::nullopt);
}

void RecordingSession::setLastCheck(const QList<RecordedStep>& steps, const QList<stepcheck::Result>& results)
{
    m_checkedSteps = steps;
    m_checkResults = results;
}

const stepcheck::Result* RecordingSession::lastCheckOf(int pos) const
{
    if (pos < 0 || pos >= m_store.count() || pos >= m_checkedSteps.size() || pos >= m_checkResults.size())
        return nullptr;
    const RecordedStep& now = m_store.at(pos);
    const RecordedStep& checked = m_checkedSteps.at(pos);
    if (now.url != checked.url || now.postdata != checked.postdata)
        return nullptr;
    return &m_checkResults.at(pos);
}

QStringList RecordingSession::oneTimeOf(const QString& url, const QString& postData) const
{
    // A form's body: as its page reported the entries' origins.
    if (!postData.isEmpty()) {
        if (auto flags = m_captures.oneTimeOf(QStringLiteral("post"), codepage::toAnsi(postData)))
            return *flags;
        return onetime::flagged(entries(postData, onetime::Origin::Unknown));
    }
    const QUrl address(url);
    const QString query = address.query(QUrl::FullyEncoded);
    if (query.isEmpty())
        return {};
    if (auto flags = m_captures.oneTimeOf(QStringLiteral("get"), query.toLatin1()))
        return *flags;
    // A link or script of the page gave the whole address; a typed one is the user's.
    return onetime::flagged(
        entries(query, m_captures.wasAnnounced(address) ? onetime::Origin::Site : onetime::Origin::User));
}
