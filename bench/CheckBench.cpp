// A check run of a 150-step transaction against the same requests loaded one
// after another in a plain engine view: the check's whole run divided by the
// sum of the plain view's page loads, measured in alternating rounds.

#include "Bench.h"
#include "BenchSupport.h"
#include "CodePage.h"
#include "Playback.h"
#include "TestSite.h"
#include "frmCheck.h"

#include <QEventLoop>
#include <QTimer>
#include <QWebEngineHttpRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace bench {

namespace {

// The bench site's pages in turn, every fifth step a form post; every third step
// looks for a phrase, so the check reads that page's text.
QList<RecordedStep> transaction(const TestSite& site)
{
    const QStringList pages = {
        QStringLiteral("plain"),    QStringLiteral("article"), QStringLiteral("styled"),
        QStringLiteral("table"),    QStringLiteral("links"),   QStringLiteral("resources"),
        QStringLiteral("scripted"), QStringLiteral("nested"),  QStringLiteral("getform")};
    QList<RecordedStep> steps;
    for (int i = 0; i < transactionSteps; ++i) {
        RecordedStep step;
        if (i % 5 == 4) {
            step.url = site.url(QStringLiteral("/order/%1").arg(i));
            step.postdata = QStringLiteral("item=tea&qty=%1&note=caf%E9").arg(i);
            step.keywords = QStringLiteral("/order/");
        } else {
            step.url =
                site.url(QStringLiteral("/pages/%1.html?step=%2").arg(pages.at(i % pages.size())).arg(i));
        }
        if (i % 3 == 0)
            step.errors = QStringLiteral("Internal Server Error");
        steps.append(step);
    }
    return steps;
}

bool waitFor(const std::function<bool()>& done, int ms)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    poll.start(5);
    loop.exec();
    return done();
}

// Loads every step in a plain view, each after the last finished; the sum of the loads in ms.
double plainLoads(const QList<RecordedStep>& steps, QSize size)
{
    QWebEngineProfile profile; // off the record, as the check's
    double sum = 0;
    {
        QWebEngineView view;
        auto* page = new QWebEnginePage(&profile, &view);
        view.setPage(page);
        view.resize(size);
        view.show();
        bool finished = false;
        QObject::connect(page, &QWebEnginePage::loadFinished, &view, [&] { finished = true; });
        for (const RecordedStep& step : steps) {
            finished = false;
            const qint64 t0 = monotonicNs();
            if (step.postdata.isEmpty()) {
                page->load(QUrl(step.url));
            } else {
                QWebEngineHttpRequest request(QUrl(step.url), QWebEngineHttpRequest::Post);
                request.setPostData(codepage::toAnsi(step.postdata));
                request.setHeader("Content-Type", "application/x-www-form-urlencoded");
                page->load(request);
            }
            if (!waitFor([&] { return finished; }, 30000))
                return -1;
            sum += double(monotonicNs() - t0) / 1e6;
        }
    }
    return sum;
}

// The check window's whole run in ms; -1 when it did not end or a step failed.
double checkRun(const QList<RecordedStep>& steps, QSize size)
{
    frmCheck window(steps);
    window.resize(size.width(), size.height() * 2);
    window.show();
    const qint64 t0 = monotonicNs();
    window.run().start();
    if (!waitFor([&] { return !window.run().isRunning(); }, 600000))
        return -1;
    const double ms = double(monotonicNs() - t0) / 1e6;
    for (const stepcheck::Result& r : window.run().results()) {
        if (r.outcome != stepcheck::Outcome::Passed) {
            note(QStringLiteral("check: step %1 %2").arg(r.number).arg(r.failures.join(u' ')));
            return -1;
        }
    }
    return ms;
}

} // namespace

void measureCheck(const Options& options, const TestSite& site)
{
    section(QStringLiteral("check run"));
    const QList<RecordedStep> steps = transaction(site);
    const QSize size(760, 560);
    const int rounds = options.quick ? 1 : 5;
    plainLoads(steps.mid(0, 10), size); // the engine's first pages are slower: not measured
    QList<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        const double plain = plainLoads(steps, size);
        const double check = checkRun(steps, size);
        if (plain <= 0 || check <= 0) {
            note(QStringLiteral("check: a run did not complete"));
            return;
        }
        note(QStringLiteral("round %1: plain loads %2 ms in all, check run %3 ms")
                 .arg(round + 1)
                 .arg(fixed(plain, 0), fixed(check, 0)));
        ratios.append(check / plain);
    }
    figure(QStringLiteral("check run of %1 steps / sum of plain page loads: %2 (median of %3 rounds; %4)")
               .arg(transactionSteps)
               .arg(fixed(median(ratios)))
               .arg(rounds)
               .arg(spread(ratios, 2)));
}

} // namespace bench
