#include "StepStore.h"

namespace {

// The settings the editor shows, from a step to the editor's set or back.
template <typename From, typename To> void copySettings(const From& from, To& to)
{
    to.keywords = from.keywords;
    to.errors = from.errors;
    to.cookies = from.cookies;
    to.httpuser = from.httpuser;
    to.httppass = from.httppass;
    to.timeout = from.timeout;
    to.ping = from.ping;
    to.label = from.label;
}

} // namespace

StepStore::StepStore(QObject* parent) : QObject(parent) {}

bool StepStore::isWebAddress(const QString& url)
{
    const QString scheme = url.left(4).toUpper();
    return scheme == QLatin1String("HTTP") || scheme == QLatin1String("FTP:");
}

StepStore::AddResult StepStore::add(const RecordedStep& step)
{
    if (!isWebAddress(step.url))
        return AddResult::NotWebAddress;
    if (m_steps.size() >= capacity)
        return AddResult::StoreFull;
    if (!notExistURL(step.url, step.postdata))
        return AddResult::Duplicate;
    m_steps.append(step);
    m_currentStep = m_steps.size() - 1;
    emit stepAdded(m_currentStep);
    emit changed();
    return AddResult::Added;
}

StepStore::AddResult StepStore::addURL(const QString& URL, const QString& PD, const QString& sKeywords,
                                       const QString& sErrors, const QString& sCookies,
                                       const QString& sHttpUser, const QString& sHttpPass,
                                       const QString& sTimeout, const QString& sPing, const QString& sLabel)
{
    return add({.url = URL,
                .postdata = PD,
                .keywords = sKeywords,
                .errors = sErrors,
                .cookies = sCookies,
                .httpuser = sHttpUser,
                .httppass = sHttpPass,
                .timeout = sTimeout,
                .ping = sPing,
                .label = sLabel,
                .oneTime = std::nullopt});
}

bool StepStore::notExistURL(const QString& U, const QString& P) const
{
    if (m_allowDuplicates)
        return true;
    for (const RecordedStep& step : m_steps) {
        if (step.url == U && step.postdata == P)
            return false;
    }
    return true;
}

bool StepStore::haveDuplicateURLs() const
{
    for (qsizetype i = 0; i < m_steps.size(); ++i) {
        for (qsizetype j = i + 1; j < m_steps.size(); ++j) {
            if (m_steps[j].url == m_steps[i].url && m_steps[j].postdata == m_steps[i].postdata)
                return true;
        }
    }
    return false;
}

int StepStore::deleteItem(int p)
{
    if (m_steps.size() < 2) {
        clearitems();
        return -1;
    }
    if (p < 0 || p >= m_steps.size())
        return m_currentStep;

    // The step goes whole, so every remaining step keeps its own fields. Afterwards
    // the first line is selected: the old first step, or its successor when the first
    // step was deleted. The lock keeps the view from committing the shown fields
    // into a step while lines move.
    m_commitLock = true;
    m_steps.removeAt(p);
    emit stepRemoved(p);
    m_currentStep = 0;
    emit selectionRequested(0);
    m_commitLock = false;
    emit changed();
    return 0;
}

void StepStore::clearitems()
{
    m_steps.clear();
    emit cleared();
    emit changed();
}

void StepStore::setSettings(int pos, const StepSettings& s)
{
    if (pos < 0 || pos >= m_steps.size())
        return;
    RecordedStep& step = m_steps[pos];
    const RecordedStep before = step;
    copySettings(s, step);
    if (!(before == step))
        emit changed();
}

StepSettings StepStore::settings(int pos) const
{
    const RecordedStep& step = m_steps.at(pos);
    StepSettings s;
    copySettings(step, s);
    return s;
}
