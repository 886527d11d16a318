#include "StepStore.h"

#include <QMap>
#include <QSignalSpy>
#include <QTest>

namespace {

RecordedStep stepWithFields(int i)
{
    const QString n = QString::number(i);
    RecordedStep s;
    s.url = QStringLiteral("http://site.test/page") + n;
    s.postdata = i % 2 ? QStringLiteral("a=") + n : QString();
    s.keywords = QStringLiteral("kw") + n;
    s.errors = QStringLiteral("err") + n;
    s.cookies = QStringLiteral("c=") + n;
    s.httpuser = QStringLiteral("user") + n;
    s.httppass = QStringLiteral("pass") + n;
    s.timeout = QString::number(10 + i);
    s.ping = i % 2 ? QStringLiteral("Y") : QStringLiteral("N");
    s.label = QStringLiteral("Label ") + n;
    return s;
}

void fill(StepStore& store, int count)
{
    for (int i = 0; i < count; ++i) {
        const RecordedStep s = stepWithFields(i);
        QCOMPARE(store.addURL(s.url, s.postdata, s.keywords, s.errors, s.cookies, s.httpuser, s.httppass,
                              s.timeout, s.ping, s.label),
                 StepStore::AddResult::Added);
    }
}

} // namespace

class TestSteps : public QObject
{
    Q_OBJECT
private slots:
    void schemeTest_data();
    void schemeTest();
    void addSetsCurrentStepAndKeepsEmptyFieldsEmpty();
    void limitOf150();
    void duplicates_data();
    void duplicates();
    void haveDuplicateURLs_data();
    void haveDuplicateURLs();
    void deleteItem_data();
    void deleteItem();
    void deleteFromFullStoreMakesRoom();
    void clearLeavesNothingBehind();
    void settingsOutsideTheStoreAreIgnored();
    void changedFollowsEveryChange_data();
    void changedFollowsEveryChange();
};

void TestSteps::schemeTest_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("http") << "http://a.test/" << true;
    QTest::newRow("HTTP upper") << "HTTP://A.TEST/" << true;
    QTest::newRow("mixed case https") << "hTtPs://a.test/" << true;
    QTest::newRow("ftp") << "ftp://files.test/x" << true;
    QTest::newRow("FTP upper") << "FTP://files.test/x" << true;
    QTest::newRow("ftps") << "ftps://files.test/x" << false;
    QTest::newRow("file") << "file:///etc/hosts" << false;
    QTest::newRow("about:blank") << "about:blank" << false;
    QTest::newRow("javascript") << "javascript:alert(1)" << false;
    QTest::newRow("data") << "data:text/html,x" << false;
    QTest::newRow("three chars") << "htt" << false;
    QTest::newRow("exactly HTTP") << "http" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("leading blank") << " http://a.test/" << false;
}

void TestSteps::schemeTest()
{
    QFETCH(QString, url);
    QFETCH(bool, accepted);
    StepStore store;
    QSignalSpy added(&store, &StepStore::stepAdded);
    const auto result = store.addURL(url, QString());
    QCOMPARE(result == StepStore::AddResult::Added, accepted);
    QCOMPARE(store.count(), accepted ? 1 : 0);
    QCOMPARE(added.count(), accepted ? 1 : 0);
    if (!accepted)
        QCOMPARE(result, StepStore::AddResult::NotWebAddress);
}

void TestSteps::addSetsCurrentStepAndKeepsEmptyFieldsEmpty()
{
    StepStore store;
    fill(store, 3);
    QCOMPARE(store.currentStep(), 2);
    QCOMPARE(store.addURL(QStringLiteral("http://x.test/"), QString()), StepStore::AddResult::Added);
    QCOMPARE(store.currentStep(), 3);
    const RecordedStep& s = store.at(3);
    QVERIFY(s.timeout.isEmpty());
    QVERIFY(s.ping.isEmpty());
    QCOMPARE(s.timeoutOrDefault(), QStringLiteral("30"));
    QCOMPARE(s.pingOrDefault(), QStringLiteral("N"));
    QCOMPARE(s.method(), QStringLiteral("G"));
    QCOMPARE(store.at(1).method(), QStringLiteral("P"));
}

void TestSteps::limitOf150()
{
    StepStore store;
    fill(store, 150);
    QCOMPARE(store.count(), StepStore::capacity);
    QCOMPARE(store.addURL(QStringLiteral("http://new.test/"), QString()), StepStore::AddResult::StoreFull);
    // The limit comes before the duplicate test: a duplicate is reported as full too.
    QCOMPARE(store.addURL(store.at(0).url, store.at(0).postdata), StepStore::AddResult::StoreFull);
    // A non-web address is still refused silently.
    QCOMPARE(store.addURL(QStringLiteral("about:blank"), QString()), StepStore::AddResult::NotWebAddress);
    QCOMPARE(store.count(), 150);
}

void TestSteps::duplicates_data()
{
    QTest::addColumn<bool>("allow");
    QTest::addColumn<QString>("url2");
    QTest::addColumn<QString>("post2");
    QTest::addColumn<int>("expectedCount");
    const QString url = QStringLiteral("http://a.test/Path");
    QTest::newRow("same GET refused") << false << url << QString() << 1;
    QTest::newRow("same GET allowed") << true << url << QString() << 2;
    QTest::newRow("GET then POST") << false << url << QStringLiteral("a=1") << 2;
    QTest::newRow("path case differs") << false << QStringLiteral("http://a.test/path") << QString() << 2;
    QTest::newRow("trailing slash differs") << false << url + QLatin1Char('/') << QString() << 2;
}

void TestSteps::duplicates()
{
    QFETCH(bool, allow);
    QFETCH(QString, url2);
    QFETCH(QString, post2);
    QFETCH(int, expectedCount);
    StepStore store;
    store.setAllowDuplicates(allow);
    QCOMPARE(store.addURL(QStringLiteral("http://a.test/Path"), QString()), StepStore::AddResult::Added);
    const auto result = store.addURL(url2, post2);
    QCOMPARE(store.count(), expectedCount);
    if (expectedCount == 1) {
        QCOMPARE(result, StepStore::AddResult::Duplicate);
        QCOMPARE(store.currentStep(), 0);
    }
    // Same post data on both sides of a pair
    QCOMPARE(store.notExistURL(QStringLiteral("http://a.test/Path"), QString()), allow);
}

void TestSteps::haveDuplicateURLs_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QStringList>("posts");
    QTest::addColumn<bool>("expected");
    QTest::newRow("empty") << QStringList{} << QStringList{} << false;
    QTest::newRow("one") << QStringList{"http://a/"} << QStringList{""} << false;
    QTest::newRow("distinct") << QStringList{"http://a/", "http://b/", "http://a/"}
                              << QStringList{"", "", "x=1"} << false;
    QTest::newRow("first and last") << QStringList{"http://a/", "http://b/", "http://a/"}
                                    << QStringList{"", "", ""} << true;
    QTest::newRow("adjacent posts") << QStringList{"http://a/", "http://b/", "http://b/"}
                                    << QStringList{"", "p=1", "p=1"} << true;
}

void TestSteps::haveDuplicateURLs()
{
    QFETCH(QStringList, urls);
    QFETCH(QStringList, posts);
    QFETCH(bool, expected);
    StepStore store;
    store.setAllowDuplicates(true);
    for (qsizetype i = 0; i < urls.size(); ++i)
        store.addURL(urls[i], posts[i]);
    QCOMPARE(store.count(), urls.size());
    QCOMPARE(store.haveDuplicateURLs(), expected);
}

void TestSteps::deleteItem_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("position");
    QTest::newRow("first of three") << 3 << 0;
    QTest::newRow("middle of three") << 3 << 1;
    QTest::newRow("last of three") << 3 << 2;
    QTest::newRow("first of two") << 2 << 0;
    QTest::newRow("last of full store") << 150 << 149;
    QTest::newRow("middle of full store") << 150 << 77;
    QTest::newRow("only step") << 1 << 0;
}

void TestSteps::deleteItem()
{
    QFETCH(int, count);
    QFETCH(int, position);
    StepStore store;
    fill(store, count);
    QSignalSpy selection(&store, &StepStore::selectionRequested);
    bool lockedDuringSelection = false;
    connect(&store, &StepStore::selectionRequested, this,
            [&] { lockedDuringSelection = store.commitLock(); });

    const int selected = store.deleteItem(position);

    QCOMPARE(store.count(), count - 1);
    QVERIFY(!store.commitLock());
    // Every remaining step keeps all of its own fields, in order.
    int expected = 0;
    for (int i = 0; i < store.count(); ++i, ++expected) {
        if (expected == position)
            ++expected;
        QCOMPARE(store.at(i), stepWithFields(expected));
    }
    if (count < 2) {
        QCOMPARE(selected, -1);
        QCOMPARE(selection.count(), 0);
    } else {
        QCOMPARE(selected, 0);
        QCOMPARE(store.currentStep(), 0);
        QCOMPARE(selection.count(), 1);
        QVERIFY(lockedDuringSelection);
    }
}

void TestSteps::deleteFromFullStoreMakesRoom()
{
    StepStore store;
    fill(store, 150);
    store.deleteItem(10);
    QCOMPARE(store.count(), 149);
    QCOMPARE(store.addURL(QStringLiteral("http://new.test/"), QString()), StepStore::AddResult::Added);
    QCOMPARE(store.at(149).url, QStringLiteral("http://new.test/"));
}

void TestSteps::clearLeavesNothingBehind()
{
    StepStore store;
    fill(store, 3);
    QSignalSpy cleared(&store, &StepStore::cleared);
    store.clearitems();
    QCOMPARE(cleared.count(), 1);
    QCOMPARE(store.count(), 0);
    store.addURL(QStringLiteral("http://fresh.test/"), QString());
    RecordedStep fresh;
    fresh.url = QStringLiteral("http://fresh.test/");
    QCOMPARE(store.at(0), fresh);
}

void TestSteps::settingsOutsideTheStoreAreIgnored()
{
    StepStore store;
    StepSettings s;
    s.keywords = QStringLiteral("x");
    store.setSettings(0, s); // empty store: no step changes, no crash
    store.setSettings(-1, s);
    fill(store, 1);
    store.setSettings(1, s);
    QCOMPARE(store.at(0), stepWithFields(0));
    store.setSettings(0, s);
    QCOMPARE(store.at(0).keywords, QStringLiteral("x"));
    QCOMPARE(store.at(0).url, stepWithFields(0).url); // address and body are never written
    QCOMPARE(store.at(0).postdata, stepWithFields(0).postdata);
}

// The recovery copy is written on `changed`: every change of the steps emits it
// once, and an operation that changes nothing does not.
void TestSteps::changedFollowsEveryChange_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("changes");
    QTest::newRow("a step added") << "add" << true;
    QTest::newRow("a duplicate refused") << "add duplicate" << false;
    QTest::newRow("a step deleted") << "delete" << true;
    QTest::newRow("the only step deleted") << "delete only" << true;
    QTest::newRow("a position outside deleted") << "delete outside" << false;
    QTest::newRow("cleared") << "clear" << true;
    for (const char* field : {"keywords", "errors", "cookies", "timeout", "ping", "httpuser", "httppass", "label"})
        QTest::addRow("%s edited", field) << QString::fromLatin1(field) << true;
    QTest::newRow("settings written unchanged") << "same settings" << false;
}

void TestSteps::changedFollowsEveryChange()
{
    QFETCH(QString, operation);
    QFETCH(bool, changes);
    StepStore store;
    fill(store, operation == u"delete only" ? 1 : 3);
    const QList<RecordedStep> before = store.steps();
    QSignalSpy changed(&store, &StepStore::changed);

    StepSettings settings = store.settings(1 % store.count());
    if (operation == u"add")
        store.addURL(QStringLiteral("http://site.test/new"), QString());
    else if (operation == u"add duplicate")
        store.addURL(before.at(0).url, before.at(0).postdata);
    else if (operation.startsWith(u"delete"))
        store.deleteItem(operation == u"delete outside" ? 3 : 0);
    else if (operation == u"clear")
        store.clearitems();
    else {
        // One field of the editor's settings changed, or none.
        const QMap<QString, QString StepSettings::*> fields{
            {QStringLiteral("keywords"), &StepSettings::keywords},
            {QStringLiteral("errors"), &StepSettings::errors},
            {QStringLiteral("cookies"), &StepSettings::cookies},
            {QStringLiteral("timeout"), &StepSettings::timeout},
            {QStringLiteral("ping"), &StepSettings::ping},
            {QStringLiteral("httpuser"), &StepSettings::httpuser},
            {QStringLiteral("httppass"), &StepSettings::httppass},
            {QStringLiteral("label"), &StepSettings::label}};
        if (const auto field = fields.value(operation))
            settings.*field += QStringLiteral(" edited");
        store.setSettings(1, settings);
    }
    QCOMPARE(store.steps() != before, changes);
    QCOMPARE(changed.count(), changes ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestSteps)
#include "tst_steps.moc"
