#include "StepStore.h"
#include "Steps.h"

#include <QtTest>

namespace {

RecordedStep stepWithFields(int i)
{
    const QString n = QString::number(i);
    return step(u"http://site.test/page"_qs + n, i % 2 ? u"a="_qs + n : QString(), u"kw"_qs + n,
                u"err"_qs + n, u"c="_qs + n, u"user"_qs + n, u"pass"_qs + n, QString::number(10 + i),
                i % 2 ? u"Y"_qs : u"N"_qs, u"Label "_qs + n);
}

void fill(StepStore& store, int count)
{
    for (int i = 0; i < count; ++i)
        QCOMPARE(store.add(stepWithFields(i)), StepStore::AddResult::Added);
}

} // namespace

class TestSteps : public QObject
{
    Q_OBJECT
private slots:
    void schemeTest_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("accepted");
        for (const char* url : {"http://a.test/", "HTTP://A.TEST/", "hTtPs://a.test/", "ftp://files.test/x",
                                "FTP://files.test/x", "http"})
            QTest::addRow("'%s'", url) << QString::fromLatin1(url) << true;
        for (const char* url : {"ftps://files.test/x", "file:///etc/hosts", "about:blank",
                                "javascript:alert(1)", "data:text/html,x", "htt", "", " http://a.test/"})
            QTest::addRow("'%s'", url) << QString::fromLatin1(url) << false;
    }

    void schemeTest()
    {
        QFETCH(QString, url);
        QFETCH(bool, accepted);
        StepStore store;
        QCOMPARE(store.addURL(url, QString()),
                 accepted ? StepStore::AddResult::Added : StepStore::AddResult::NotWebAddress);
    }

    // The limit, and room again after a deletion (after clearing: tst_commands' resetClearsAndRecordsAgain).
    void limitOf150AndDeletion()
    {
        StepStore store;
        fill(store, StepStore::capacity);
        QCOMPARE(store.addURL(u"http://new.test/"_qs, QString()), StepStore::AddResult::StoreFull);
        // The limit comes before the duplicate test: a duplicate is reported as full too.
        QCOMPARE(store.addURL(store.at(0).url, store.at(0).postdata), StepStore::AddResult::StoreFull);
        // A non-web address is still refused silently.
        QCOMPARE(store.addURL(u"about:blank"_qs, QString()), StepStore::AddResult::NotWebAddress);
        store.deleteItem(10);
        QCOMPARE(store.addURL(u"http://new.test/"_qs, QString()), StepStore::AddResult::Added);
        QCOMPARE(store.at(149).url, u"http://new.test/"_qs);
    }

    // Steps added one after the other ("address|post data"), duplicates allowed
    // or not: the steps kept, and whether any two of them have the same address and post data.
    void duplicates_data()
    {
        QTest::addColumn<bool>("allow");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<int>("kept");
        QTest::addColumn<bool>("duplicates");
        const QString a = u"http://a.test/Path"_qs;
        QTest::newRow("same GET refused") << false << QStringList{a, a} << 1 << false;
        QTest::newRow("same GET allowed") << true << QStringList{a, a} << 2 << true;
        QTest::newRow("GET then POST") << false << QStringList{a, a + u"|a=1"_qs} << 2 << false;
        QTest::newRow("path case differs") << false << QStringList{a, u"http://a.test/path"_qs} << 2 << false;
        QTest::newRow("trailing slash differs") << false << QStringList{a, a + u'/'} << 2 << false;
        QTest::newRow("same address, other post data")
            << true << QStringList{u"http://a/"_qs, u"http://b/"_qs, u"http://a/|x=1"_qs} << 3 << false;
        QTest::newRow("first and last")
            << true << QStringList{u"http://a/"_qs, u"http://b/"_qs, u"http://a/"_qs} << 3 << true;
    }

    void duplicates()
    {
        QFETCH(bool, allow);
        QFETCH(QStringList, added);
        QFETCH(int, kept);
        QFETCH(bool, duplicates);
        StepStore store;
        store.setAllowDuplicates(allow);
        StepStore::AddResult result = StepStore::AddResult::Added;
        for (const QString& step : added)
            result = store.addURL(step.section(u'|', 0, 0), step.section(u'|', 1));
        QCOMPARE(store.count(), kept);
        QCOMPARE(store.haveDuplicateURLs(), duplicates);
        if (kept < added.size()) { // refused, the step before stays current
            QCOMPARE(result, StepStore::AddResult::Duplicate);
            QCOMPARE(store.currentStep(), 0);
        }
    }

    // The recovery copy is written on `changed`: every change of the steps emits it
    // once, and an operation that changes nothing does not.
    void changedFollowsEveryChange_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("changes");
        QTest::newRow("a step added") << "add" << true;
        QTest::newRow("a duplicate refused") << "add duplicate" << false;
        QTest::newRow("a step deleted") << "delete" << true;
        QTest::newRow("the only step deleted") << "delete only" << true;
        QTest::newRow("a position outside deleted") << "delete outside" << false;
        QTest::newRow("cleared") << "clear" << true;
        for (const char* field :
             {"keywords", "errors", "cookies", "timeout", "ping", "httpuser", "httppass", "label"})
            QTest::addRow("%s edited", field) << QString::fromLatin1(field) << true;
        QTest::newRow("settings written unchanged") << "same settings" << false;
        QTest::newRow("settings outside the store") << "settings outside" << false;
    }

    void changedFollowsEveryChange()
    {
        QFETCH(QString, operation);
        QFETCH(bool, changes);
        StepStore store;
        fill(store, operation == u"delete only" ? 1 : 3);
        const QList<RecordedStep> before = store.steps();
        QSignalSpy changed(&store, &StepStore::changed);
        StepSettings settings = store.count() > 1 ? store.settings(1) : StepSettings();
        if (operation == u"add")
            store.addURL(u"http://site.test/new"_qs, QString());
        else if (operation == u"add duplicate")
            store.addURL(before.at(0).url, before.at(0).postdata);
        else if (operation.startsWith(u"delete"))
            store.deleteItem(operation == u"delete outside" ? 3 : 0);
        else if (operation == u"clear")
            store.clearitems();
        else if (operation.startsWith(u"settings")) {
            // Before the first step and after the last: no step is written.
            settings.keywords = u"x"_qs;
            store.setSettings(-1, settings);
            store.setSettings(store.count(), settings);
        } else {
            // One field of the editor's settings changed, or none.
            const QMap<QString, QString StepSettings::*> fields{
                {u"keywords"_qs, &StepSettings::keywords}, {u"errors"_qs, &StepSettings::errors},
                {u"cookies"_qs, &StepSettings::cookies},   {u"timeout"_qs, &StepSettings::timeout},
                {u"ping"_qs, &StepSettings::ping},         {u"httpuser"_qs, &StepSettings::httpuser},
                {u"httppass"_qs, &StepSettings::httppass}, {u"label"_qs, &StepSettings::label}};
            if (const auto field = fields.value(operation))
                settings.*field += u" edited"_qs;
            store.setSettings(1, settings);
        }
        QCOMPARE(store.steps() != before, changes);
        QCOMPARE(changed.count(), changes ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(TestSteps)
#include "tst_steps.moc"
