#include "LayoutCheck.h"
#include "MessageBoxCatcher.h"
#include "RecorderCommands.h"
#include "Steps.h"
#include "UserInput.h"
#include "frmControlPanel.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// Records the commands the keys run.
struct CountingCommands : RecorderCommands
{
    QStringList ran;
    void lblStepBack_Click() override { ran << u"stepBack"_qs; }
    void lblSkip_Click() override { ran << u"skip"_qs; }
    void Label2_Click() override { ran << u"play"_qs; }
    void lblRestart_Click() override { ran << u"reset"_qs; }
    void lblUpload_Click() override { ran << u"upload"_qs; }
    void mCheck_Click() override { ran << u"check"_qs; }
};

template <typename T> T* child(QWidget& w, const char* name)
{
    auto* c = w.findChild<T*>(QString::fromLatin1(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

// Three steps with distinct settings, shown in a visible editor.
struct Fixture
{
    RecordingSession session;
    frmControlPanel editor{session};
    CountingCommands commands;
    Fixture(int steps = 3)
    {
        editor.setCommands(&commands);
        for (int i = 0; i < steps; ++i) {
            const QString n = QString::number(i);
            editor.addURL(u"http://site.test/p"_qs + n, i == 1 ? u"a=1&b=2"_qs : QString(), u"kw"_qs + n,
                          u"err"_qs + n, u"c="_qs + n, u"u"_qs + n, u"pw"_qs + n, QString::number(40 + i),
                          u"Y"_qs, u"Label "_qs + n);
        }
        // As after an import: the fields show the last step, which is selected,
        // so the list's first selection commits nothing foreign.
        if (steps > 0) {
            editor.setFieldsFrom(editor.store().at(steps - 1), editor.store().at(steps - 1).ping);
            editor.selectLine(steps - 1);
        }
        editor.show();
        if (!QTest::qWaitForWindowExposed(&editor))
            qFatal("the editor window was not exposed");
    }
    QLineEdit* edit(const char* name) { return child<QLineEdit>(editor, name); }
    QListWidget* list() { return child<QListWidget>(editor, "recordedItems"); }
    // Clicks a row of the list, as a person does.
    bool clickRow(int row)
    {
        return userinput::click(list()->viewport(), list()->visualItemRect(list()->item(row)).center());
    }
    // Gives a control the focus as a person does: a click, or Tab from a
    // neighbouring text box for the controls a click would operate.
    bool focus(const QString& name)
    {
        if (name == QLatin1String("cmbPing") || name == QLatin1String("Command3")) {
            if (!userinput::click(edit("txtTimeout")))
                return false;
            userinput::key(name == QLatin1String("cmbPing") ? Qt::Key_Backtab : Qt::Key_Tab);
        } else if (name == QLatin1String("recordedItems")) {
            clickRow(list()->currentRow() < 0 ? 0 : list()->currentRow());
        } else {
            userinput::click(editor.findChild<QWidget*>(name));
        }
        return QTest::qWaitFor(
            [&] { return QApplication::focusWidget() == editor.findChild<QWidget*>(name); }, 2000);
    }
};

} // namespace

class TestEditor : public QObject
{
    Q_OBJECT
private slots:
    // What a person types into one control ends up in that control's setting of
    // the step and nowhere else, at the next commit: a click on another row, or on
    // the highlighted row itself. Tab goes on to the next control in order.
    void eachFieldReachesItsOwnSetting_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("next");  // the control Tab goes to
        QTest::addColumn<int>("commitRow"); // the row clicked to commit
        // Tab goes past the post data, which takes no input.
        const char* order[] = {"txtLabel",   "txtHTTPUser", "txtHTTPpass", "txtKeywords", "txtErrors",
                               "txtCookies", "cmbPing",     "txtTimeout",  "Command3"};
        for (int i = 0; i + 1 < 9; ++i)
            QTest::newRow(order[i]) << order[i] << order[i + 1] << 2;
        QTest::newRow("errors, the highlighted row clicked") << "txtErrors"
                                                             << "txtCookies" << 1;
    }

    void eachFieldReachesItsOwnSetting()
    {
        QFETCH(QString, control);
        QFETCH(QString, next);
        QFETCH(int, commitRow);
        const QMap<QString, QString RecordedStep::*> settingOf{
            {u"txtLabel"_qs, &RecordedStep::label},       {u"txtHTTPUser"_qs, &RecordedStep::httpuser},
            {u"txtHTTPpass"_qs, &RecordedStep::httppass}, {u"txtKeywords"_qs, &RecordedStep::keywords},
            {u"txtErrors"_qs, &RecordedStep::errors},     {u"txtCookies"_qs, &RecordedStep::cookies},
            {u"cmbPing"_qs, &RecordedStep::ping},         {u"txtTimeout"_qs, &RecordedStep::timeout}};
        Fixture f;
        const QList<RecordedStep> before = f.editor.store().steps();
        QList<RecordedStep> expected = before;
        QVERIFY(f.clickRow(1));
        QCOMPARE(child<QPlainTextEdit>(f.editor, "txtPostData")->toPlainText(), before[1].postdata);
        QVERIFY(f.focus(control));
        if (control == u"cmbPing") {
            QCOMPARE(expected[1].ping, u"Y"_qs);
            QVERIFY(userinput::key(Qt::Key_Up));
            expected[1].ping = u"N"_qs;
        } else {
            QVERIFY(userinput::key(Qt::Key_A, Qt::ControlModifier));
            QVERIFY(userinput::type(u"typed "_qs + control));
            expected[1].*settingOf.value(control) = u"typed "_qs + control;
            // The password does not show as typed.
            QCOMPARE(f.edit(qPrintable(control))->displayText().contains(QLatin1String("typed")),
                     control != u"txtHTTPpass");
        }
        QVERIFY(userinput::key(Qt::Key_Tab));
        QCOMPARE(QApplication::focusWidget(), f.editor.findChild<QWidget*>(next));
        QCOMPARE(f.editor.store().steps(), before); // nothing before the commit
        QVERIFY(f.clickRow(commitRow));
        QCOMPARE(f.editor.store().steps(), expected);
        QCOMPARE(f.editor.store().currentStep(), commitRow);
    }

    // The close button hides the editor and commits nothing; only the program's
    // end closes it. (A new step taking the shown settings is loadDefaults' and
    // tst_transactionfile's "last element refused".)
    void uncommittedSettings()
    {
        Fixture f;
        f.list()->setCurrentRow(1);
        f.edit("txtCookies")->setText(u"late"_qs);
        QVERIFY(!f.editor.close());
        QVERIFY(!f.editor.isVisible());
        QCOMPARE(f.editor.store().at(1).cookies, u"c=1"_qs);
        f.editor.show();
        f.list()->setCurrentRow(0);
        QCOMPARE(f.editor.store().at(1).cookies, u"late"_qs);
        f.editor.setProgramEnding(true);
        QVERIFY(f.editor.close());
    }

    // A step's timeout and ping show as given, defaults for empty or unknown ones
    // (a lower-case y), and are committed as shown. A label and keywords longer
    // than typing allows stay whole, and show their beginning; typing stays
    // limited to 50 characters in an empty label, 250 in the keywords.
    void loadDefaults()
    {
        Fixture f(0);
        const QString longLabel(80, u'L'), longKeywords(400, u'k');
        f.editor.addURL(u"http://a.test/"_qs, {}, longKeywords, {}, {}, {}, {}, {}, {}, longLabel);
        f.editor.addURL(u"http://b.test/"_qs, {}, {}, {}, {}, {}, {}, u"12"_qs, u"Y"_qs);
        f.editor.addURL(u"http://c.test/"_qs, {}, {}, {}, {}, {}, {}, u"5"_qs, u"y"_qs);
        f.editor.addURL(u"http://d.test/"_qs, {}); // takes the fields shown before any step
        for (int row = 0; row < 4; ++row)
            f.editor.selectLine(row); // commits what is shown
        const QString t = u"30"_qs, n = u"N"_qs;
        QCOMPARE(f.editor.store().steps(),
                 (QList{step(u"http://a.test/"_qs, {}, longKeywords, {}, {}, {}, {}, t, n, longLabel),
                        step(u"http://b.test/"_qs, {}, {}, {}, {}, {}, {}, u"12"_qs, u"Y"_qs),
                        step(u"http://c.test/"_qs, {}, {}, {}, {}, {}, {}, u"5"_qs, n),
                        step(u"http://d.test/"_qs, {}, {}, {}, {}, {}, {}, t, n)}));
        QVERIFY(f.clickRow(0));
        QCOMPARE(f.edit("txtLabel")->cursorPosition(), 0);
        QCOMPARE(f.edit("txtKeywords")->cursorPosition(), 0);
        QVERIFY(f.clickRow(3));
        for (const auto& [name, limit] : {std::pair{"txtLabel", 50}, std::pair{"txtKeywords", 250}}) {
            QVERIFY(userinput::click(f.edit(name)));
            QVERIFY(userinput::key(Qt::Key_A, Qt::ControlModifier));
            QVERIFY(userinput::type(QString(limit + 10, u'x')));
            QCOMPARE(f.edit(name)->text(), QString(limit, u'x'));
        }
    }

    // Deleting the highlighted step: an uncommitted edit goes nowhere, the first
    // line is highlighted and shown, and the next edit lands in its step.
    void deletionKeepsSelectionFieldsAndCurrentStepTogether_data()
    {
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("selected");
        QTest::newRow("the middle of three") << 3 << 1;
        QTest::newRow("the only step") << 1 << 0;
    }

    void deletionKeepsSelectionFieldsAndCurrentStepTogether()
    {
        QFETCH(int, steps);
        QFETCH(int, selected);
        Fixture f(steps);
        f.list()->setCurrentRow(selected);
        f.edit("txtKeywords")->setText(u"uncommitted"_qs);
        QList<RecordedStep> left = f.editor.store().steps();
        left.removeAt(selected);
        f.editor.deleteItem();
        QCOMPARE(f.editor.store().steps(), left);
        QCOMPARE(f.list()->count(), left.size());
        if (left.isEmpty()) { // the fields empty
            for (const char* name : {"txtLabel", "txtKeywords", "txtErrors", "txtCookies", "txtTimeout",
                                     "txtHTTPUser", "txtHTTPpass"})
                QVERIFY2(f.edit(name)->text().isEmpty(), name);
            QCOMPARE(child<QComboBox>(f.editor, "cmbPing")->currentText(), u"N"_qs);
            return;
        }
        QCOMPARE(f.list()->currentRow(), 0);
        QCOMPARE((QStringList{f.list()->item(0)->text(), f.list()->item(1)->text()}),
                 (QStringList{left[0].url, left[1].url}));
        // The fields show the first step: the next edit lands in it, and only that.
        f.edit("txtErrors")->setText(u"next"_qs);
        QVERIFY(f.clickRow(0));
        left[0].errors = u"next"_qs;
        QCOMPARE(f.editor.store().steps(), left);
    }

    // A key pressed in a control: the command it runs (at most once), "save" (Save
    // & Close), "delete" or "copy" (the list's own), or nothing. Every control but
    // the button passes its keys through one filter: each command and each
    // control at least once; the button's keys reach the window's own handler.
    void keyboardDispatch_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("command");
        const auto row = [](const char* keys, const char* control, const char* command) {
            QTest::addRow("%s in %s", keys, control)
                << QString::fromLatin1(control) << QKeySequence(QString::fromLatin1(keys))
                << QString::fromLatin1(command);
        };
        row("Ctrl+Z", "txtKeywords", "stepBack");
        row("Ctrl+Z", "recordedItems", "stepBack");
        row("Ctrl+N", "txtErrors", "skip");
        row("Ctrl+P", "txtHTTPpass", "play");
        row("Ctrl+W", "txtCookies", "reset");
        row("Ctrl+W", "Command3", "reset");
        row("Ctrl+U", "txtKeywords", "upload");
        row("Ctrl+K", "txtLabel", "check");
        row("Return", "txtHTTPUser", "save");
        row("Num+Enter", "txtTimeout", "save");
        row("Return", "Command3", "save");
        row("Esc", "cmbPing", "save");
        row("Del", "recordedItems", "delete");
        row("Num+Del", "recordedItems", "delete");
        row("Ctrl+C", "recordedItems", "copy");
        row("P", "txtKeywords", "");
        row("Ctrl+A", "txtKeywords", "");
        row("Ctrl+Alt+P", "txtKeywords", "");
    }

    void keyboardDispatch()
    {
        QFETCH(QString, control);
        QFETCH(QKeySequence, keys);
        QFETCH(QString, command);
        Fixture f;
        QVERIFY(f.clickRow(0));
        QVERIFY(userinput::click(f.edit("txtKeywords")));
        userinput::key(Qt::Key_End);
        QVERIFY(userinput::type(u" typed"_qs));
        QVERIFY(f.focus(control));
        QVERIFY(userinput::key(keys[0].key(), keys[0].keyboardModifiers()));
        QTest::qWait(50); // a second run of the command would come from the same key
        QCOMPARE(f.editor.isVisible(), command != u"save");
        if (command == u"save" || command == u"delete" || command == u"copy") {
            QVERIFY(f.commands.ran.isEmpty());
            QCOMPARE(f.editor.store().at(0).keywords, command == u"delete" ? u"kw1"_qs : u"kw0 typed"_qs);
            QCOMPARE(f.editor.store().count(), command == u"delete" ? 2 : 3);
            if (command == u"copy")
                QCOMPARE(QGuiApplication::clipboard()->text(), u"http://site.test/p0"_qs);
            return;
        }
        QCOMPARE(f.commands.ran, command.isEmpty() ? QStringList() : QStringList{command}); // at most once
        // A command key is not also the text box's own binding (Ctrl+U deletes the line on X11).
        if (!command.isEmpty())
            QCOMPARE(f.edit("txtKeywords")->text(), u"kw0 typed"_qs);
        else if (keys[0].keyboardModifiers() == Qt::NoModifier)
            QCOMPARE(f.edit("txtKeywords")->text(), u"kw0 typedp"_qs);
    }

    // The store's limit is told in a box of the editor's (the session tells when).
    void fullStoreIsReported()
    {
        Fixture f(0);
        for (int i = 0; i < StepStore::capacity; ++i)
            f.editor.addURL(u"http://a.test/%1"_qs.arg(i), QString());
        MessageBoxCatcher boxes;
        QCOMPARE(f.editor.addURL(u"http://a.test/more"_qs, QString()), StepStore::AddResult::StoreFull);
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.last().title, u"No more"_qs);
        QCOMPARE(boxes.last().text, StepStore::fullStoreMessage());
    }

    // A double click on a row shows its address and copies it, committing the fields
    // first; the editor's own message box does not count as losing the focus.
    // Another window taking the focus hides the editor unless a field holds it.
    void focusLossHides()
    {
        Fixture f;
        QGuiApplication::clipboard()->setText(u"before"_qs);
        QVERIFY(f.clickRow(2));
        QVERIFY(userinput::click(f.edit("txtLabel")));
        userinput::key(Qt::Key_A, Qt::ControlModifier);
        QVERIFY(userinput::type(u"edited"_qs));
        {
            MessageBoxCatcher boxes;
            QVERIFY(userinput::doubleClick(f.list()->viewport(),
                                           f.list()->visualItemRect(f.list()->item(2)).center()));
            QTRY_COMPARE(boxes.count(), 1);
            QCOMPARE(boxes.last().text, u"http://site.test/p2"_qs);
        }
        QTRY_COMPARE(QGuiApplication::clipboard()->text(), u"http://site.test/p2"_qs);
        QCOMPARE(f.editor.store().at(2).label, u"edited"_qs);
        QWidget other;
        other.resize(200, 200);
        other.show();
        for (const bool fieldHasFocus : {true, false}) {
            QVERIFY(f.editor.isVisible());
            QVERIFY(userinput::activate(&f.editor));
            if (!fieldHasFocus && f.editor.focusWidget())
                f.editor.focusWidget()->clearFocus();
            QVERIFY(userinput::click(&other));
            QVERIFY(other.isActiveWindow());
            if (fieldHasFocus)
                QTest::qWait(100); // a hide would come from the next turn of the event loop
        }
        QTRY_VERIFY(!f.editor.isVisible());
    }

    // Each row is as wide as its address and as tall as the font, also after
    // the font changes (rows measured with the old font would cut addresses).
    void rowsFitTheirAddresses()
    {
        Fixture f(0);
        const QStringList addresses = {u"http://a.test/"_qs,
                                       u"http://site.test/search?q="_qs + QString(300, u'w'),
                                       u"http://site.test/caf\u00e9/\u20ac?x=WWWWWWWWWWWWWWWW"_qs};
        for (const QString& a : addresses)
            QCOMPARE(f.editor.addURL(a, {}, {}, {}, {}, {}, {}, {}, {}, {}), StepStore::AddResult::Added);
        QFont big = f.list()->font();
        for (const qreal points : {big.pointSizeF(), big.pointSizeF() * 2.5}) {
            big.setPointSizeF(points);
            f.list()->setFont(big);
            const QFontMetrics metrics(big);
            for (int row = 0; row < addresses.size(); ++row) {
                const QListWidgetItem* item = f.list()->item(row);
                QTRY_VERIFY2(f.list()->visualItemRect(item).width() >=
                                 metrics.horizontalAdvance(addresses.at(row)),
                             qPrintable(QStringLiteral("row %1 at %2 points").arg(row).arg(points)));
                QVERIFY(f.list()->visualItemRect(item).height() >= metrics.height());
            }
        }
    }

    void shrinkingNarrowsListAndPostDataOnly()
    {
        Fixture f;
        QCOMPARE(layoutcheck::cutCaptions(&f.editor), QStringList());
        auto* post = child<QPlainTextEdit>(f.editor, "txtPostData");
        const auto widths = [&] {
            return QList<int>{f.list()->width(), post->width(), f.edit("txtKeywords")->width()};
        };
        const QList<int> before = widths();
        f.editor.resize(f.editor.width() - 60, f.editor.height());
        QTRY_COMPARE(widths(), (QList<int>{before[0] - 60, before[1] - 60, before[2]}));
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
