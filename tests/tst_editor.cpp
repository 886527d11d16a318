#include "LayoutCheck.h"
#include "MessageBoxCatcher.h"
#include "RecorderCommands.h"
#include "UserInput.h"
#include "frmControlPanel.h"

#include <QtTest>
#include <QtWidgets>

namespace {

// Records the commands the keys run. Play acts as the main window's does: with
// steps it hides the editor, without them it shows a message box.
struct CountingCommands : RecorderCommands
{
    QStringList ran;
    QWidget* editor = nullptr;
    bool playWithoutSteps = false;
    void lblStepBack_Click() override { ran << u"stepBack"_qs; }
    void lblSkip_Click() override { ran << u"skip"_qs; }
    void Label2_Click() override
    {
        ran << u"play"_qs;
        if (playWithoutSteps) {
            QMessageBox box(QMessageBox::Critical, u"Transaction Recorder"_qs,
                            u"No steps were recorded - nothing to play"_qs, QMessageBox::Ok);
            box.exec();
        } else if (editor) {
            editor->hide();
        }
    }
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
        commands.editor = &editor;
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
    QComboBox* ping() { return child<QComboBox>(editor, "cmbPing"); }
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
        auto* postData = child<QPlainTextEdit>(f.editor, "txtPostData");
        QVERIFY(f.clickRow(1));
        QCOMPARE(postData->toPlainText(), before[1].postdata);
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
        QCOMPARE(postData->toPlainText(), before[commitRow].postdata);
    }

    // The close button hides the editor and commits nothing; only the program's
    // end closes it. A new step takes over the shown settings at its first commit.
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

        f.edit("txtCookies")->setText(u"session=1"_qs);
        f.editor.addURL(u"http://site.test/new"_qs, QString());
        QCOMPARE(f.editor.store().currentStep(), 3);
        QVERIFY(f.editor.store().at(3).cookies.isEmpty()); // nothing until the commit
        f.editor.selectLine(3);
        const RecordedStep& added = f.editor.store().at(3);
        QCOMPARE(added.cookies, u"session=1"_qs);
        QCOMPARE(added.keywords, u"kw0"_qs);
        QCOMPARE(added.timeout, u"40"_qs);
        QCOMPARE(f.editor.store().at(0).cookies, u"c=0"_qs); // the shown step kept its own
        f.editor.setProgramEnding(true);
        QVERIFY(f.editor.close());
    }

    // A step's timeout and ping show as given, defaults for empty or unknown ones,
    // and are committed as shown. A label and keywords longer than typing allows
    // stay whole; typing stays limited to 50 characters in an empty label, 250 in
    // the keywords.
    void loadDefaults_data()
    {
        QTest::addColumn<QString>("timeout");
        QTest::addColumn<QString>("ping");
        QTest::addColumn<QString>("shownTimeout");
        QTest::addColumn<QString>("shownPing");
        QTest::newRow("empty") << QString() << QString() << u"30"_qs << u"N"_qs;
        QTest::newRow("set") << u"12"_qs << u"Y"_qs << u"12"_qs << u"Y"_qs;
        QTest::newRow("lower-case y") << u"5"_qs << u"y"_qs << u"5"_qs << u"N"_qs;
        QTest::newRow("free text timeout") << u"abc"_qs << u"N"_qs << u"abc"_qs << u"N"_qs;
    }

    void loadDefaults()
    {
        QFETCH(QString, timeout);
        QFETCH(QString, ping);
        QFETCH(QString, shownTimeout);
        QFETCH(QString, shownPing);
        Fixture f(0);
        const QString longLabel(80, u'L'), longKeywords(400, u'k');
        f.editor.addURL(u"http://a.test/"_qs, QString(), longKeywords, {}, {}, {}, {}, timeout, ping,
                        longLabel);
        f.editor.addURL(u"http://b.test/"_qs, QString());
        f.editor.selectLine(0);
        QCOMPARE(f.edit("txtTimeout")->text(), shownTimeout);
        QCOMPARE(f.ping()->currentText(), shownPing);
        f.editor.selectLine(1); // commits what is shown
        QCOMPARE(f.editor.store().at(0).timeout, shownTimeout);
        QCOMPARE(f.editor.store().at(0).ping, shownPing);
        QCOMPARE(f.editor.store().at(0).label, longLabel);
        QCOMPARE(f.editor.store().at(0).keywords, longKeywords);
        for (const auto& [name, limit] : {std::pair{"txtLabel", 50}, std::pair{"txtKeywords", 250}}) {
            QVERIFY(userinput::click(f.edit(name)));
            QVERIFY(userinput::key(Qt::Key_A, Qt::ControlModifier));
            QVERIFY(userinput::type(QString(limit + 10, u'x')));
            QCOMPARE(f.edit(name)->text(), QString(limit, u'x'));
        }
    }

    void deletionKeepsSelectionFieldsAndCurrentStepTogether_data()
    {
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("selected");
        QTest::newRow("first") << 3 << 0;
        QTest::newRow("middle") << 3 << 1;
        QTest::newRow("last") << 3 << 2;
        QTest::newRow("the only step") << 1 << 0;
    }

    void deletionKeepsSelectionFieldsAndCurrentStepTogether()
    {
        QFETCH(int, steps);
        QFETCH(int, selected);
        Fixture f(steps);
        f.list()->setCurrentRow(selected);
        f.edit("txtKeywords")->setText(u"uncommitted"_qs);
        f.editor.deleteItem();
        QCOMPARE(f.list()->count(), steps - 1);
        QCOMPARE(f.editor.store().count(), steps - 1);
        if (steps == 1) { // the fields empty
            for (const char* name : {"txtLabel", "txtKeywords", "txtErrors", "txtCookies", "txtTimeout",
                                     "txtHTTPUser", "txtHTTPpass"})
                QVERIFY2(f.edit(name)->text().isEmpty(), name);
            QCOMPARE(f.ping()->currentText(), u"N"_qs);
            return;
        }
        const int line = f.list()->currentRow();
        QCOMPARE(line, 0);
        QCOMPARE(f.editor.store().currentStep(), line);
        const RecordedStep& shown = f.editor.store().at(line);
        QCOMPARE(f.list()->item(line)->text(), shown.url);
        QCOMPARE(f.edit("txtLabel")->text(), shown.label);
        QCOMPARE(f.edit("txtKeywords")->text(), shown.keywords);
        // Lines and steps stay aligned, and the uncommitted edit went nowhere.
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(f.list()->item(i)->text(), f.editor.store().at(i).url);
            QVERIFY(f.editor.store().at(i).keywords.startsWith(QLatin1String("kw")));
        }
        // The next edit lands in the highlighted step.
        f.edit("txtErrors")->setText(u"next"_qs);
        QVERIFY(f.clickRow(line));
        QCOMPARE(f.editor.store().at(line).errors, u"next"_qs);
    }

    // A key pressed in a control: the command it runs (at most once), "save" (Save
    // & Close), "delete" or "copy" (the list's own), or nothing.
    void keyboardDispatch_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("noSteps"); // Play answers with a message box
        const auto row = [](const char* keys, const char* control, const char* command,
                            bool noSteps = false) {
            QTest::addRow("%s in %s%s", keys, control, noSteps ? ", no steps" : "")
                << QString::fromLatin1(control) << QKeySequence(QString::fromLatin1(keys))
                << QString::fromLatin1(command) << noSteps;
        };
        row("Ctrl+Z", "txtKeywords", "stepBack");
        row("Ctrl+N", "txtErrors", "skip");
        row("Ctrl+P", "txtTimeout", "play");
        row("Ctrl+P", "txtKeywords", "play", true);
        row("Ctrl+W", "txtCookies", "reset");
        row("Ctrl+U", "txtKeywords", "upload");
        row("Ctrl+K", "txtLabel", "check");
        row("Ctrl+P", "txtHTTPpass", "play");
        row("Ctrl+Z", "recordedItems", "stepBack");
        row("Ctrl+U", "cmbPing", "upload");
        row("Ctrl+W", "Command3", "reset");
        row("Return", "txtHTTPUser", "save");
        row("Num+Enter", "txtKeywords", "save");
        row("Esc", "txtTimeout", "save");
        row("Return", "recordedItems", "save");
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
        QFETCH(bool, noSteps);
        Fixture f;
        f.commands.playWithoutSteps = noSteps;
        QVERIFY(f.clickRow(0));
        QVERIFY(userinput::click(f.edit("txtKeywords")));
        userinput::key(Qt::Key_End);
        QVERIFY(userinput::type(u" typed"_qs));
        QVERIFY(f.focus(control));
        MessageBoxCatcher boxes;
        QVERIFY(userinput::key(keys[0].key(), keys[0].keyboardModifiers()));
        QTest::qWait(50); // a second run of the command would come from the same key
        if (command == u"save" || command == u"delete" || command == u"copy") {
            QVERIFY(f.commands.ran.isEmpty());
            QCOMPARE(f.editor.isVisible(), command != u"save");
            QCOMPARE(f.editor.store().at(0).keywords, command == u"delete" ? u"kw1"_qs : u"kw0 typed"_qs);
            QCOMPARE(f.editor.store().count(), command == u"delete" ? 2 : 3);
            if (command == u"copy")
                QCOMPARE(QGuiApplication::clipboard()->text(), u"http://site.test/p0"_qs);
            return;
        }
        QCOMPARE(f.commands.ran, command.isEmpty() ? QStringList() : QStringList{command}); // at most once
        QCOMPARE(boxes.count(), noSteps ? 1 : 0);
        QCOMPARE(f.editor.isVisible(), command != QLatin1String("play") || noSteps);
        // A command key is not also the text box's own binding (Ctrl+U deletes the line on X11).
        if (!command.isEmpty())
            QCOMPARE(f.edit("txtKeywords")->text(), u"kw0 typed"_qs);
        else if (keys[0].keyboardModifiers() == Qt::NoModifier)
            QCOMPARE(f.edit("txtKeywords")->text(), u"kw0 typedp"_qs);
    }

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
        QCOMPARE(f.list()->count(), StepStore::capacity);
        // Every further step is told again; silent refusals stay silent.
        f.editor.addURL(u"http://a.test/again"_qs, QString());
        f.editor.addURL(u"about:blank"_qs, QString());
        QCOMPARE(boxes.count(), 2);
    }

    void focusLossHides_data()
    {
        QTest::addColumn<bool>("fieldHasFocus");
        QTest::newRow("a field holds the focus: stays") << true;
        QTest::newRow("no control holds the focus: hides") << false;
    }

    void focusLossHides()
    {
        QFETCH(bool, fieldHasFocus);
        Fixture f;
        // A double click on a row shows its address and copies it, committing the
        // fields first; the editor's own message box does not count as losing the focus.
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
        QVERIFY(f.editor.isVisible());
        QVERIFY(userinput::activate(&f.editor));
        if (!fieldHasFocus) {
            if (QWidget* focused = f.editor.focusWidget())
                focused->clearFocus();
        }
        QWidget other;
        other.resize(200, 200);
        other.show();
        QVERIFY(userinput::click(&other));
        QVERIFY(other.isActiveWindow());
        if (fieldHasFocus) {
            QTest::qWait(100); // a hide would come from the next turn of the event loop
            QVERIFY(f.editor.isVisible());
        } else {
            QTRY_VERIFY(!f.editor.isVisible());
        }
        QCOMPARE(f.editor.store().count(), 3);
    }

    void shrinkingNarrowsListAndPostDataOnly()
    {
        Fixture f;
        QCOMPARE(layoutcheck::cutCaptions(&f.editor), QStringList());
        auto* post = child<QPlainTextEdit>(f.editor, "txtPostData");
        const int keywordsWidth = f.edit("txtKeywords")->width();
        f.editor.resize(f.editor.width() + 100, f.editor.height());
        QTRY_COMPARE(post->width(), f.list()->width());
        const int before = f.list()->width();
        f.editor.resize(f.editor.width() - 60, f.editor.height());
        QTRY_COMPARE(f.list()->width(), before - 60);
        QCOMPARE(post->width(), before - 60);
        QCOMPARE(f.edit("txtKeywords")->width(), keywordsWidth);
    }
};

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
