#include "MessageBoxCatcher.h"
#include "RecorderCommands.h"
#include "UserInput.h"
#include "frmControlPanel.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

namespace {

// Records the commands the keys run. Play acts as the main window's does: with
// steps it hides the editor, without them it shows a message box.
struct CountingCommands : RecorderCommands
{
    QStringList ran;
    QWidget* editor = nullptr;
    bool playWithoutSteps = false;
    void lblStepBack_Click() override { ran << QStringLiteral("stepBack"); }
    void lblSkip_Click() override { ran << QStringLiteral("skip"); }
    void Label2_Click() override
    {
        ran << QStringLiteral("play");
        if (playWithoutSteps) {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Transaction Recorder"),
                            QStringLiteral("No steps were recorded - nothing to play"), QMessageBox::Ok);
            box.exec();
        } else if (editor) {
            editor->hide();
        }
    }
    void lblRestart_Click() override { ran << QStringLiteral("reset"); }
    void lblUpload_Click() override { ran << QStringLiteral("upload"); }
    void mCheck_Click() override { ran << QStringLiteral("check"); }
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
            editor.addURL(QStringLiteral("http://site.test/p") + n,
                          i == 1 ? QStringLiteral("a=1&b=2") : QString(), QStringLiteral("kw") + n,
                          QStringLiteral("err") + n, QStringLiteral("c=") + n, QStringLiteral("u") + n,
                          QStringLiteral("pw") + n, QString::number(40 + i), QStringLiteral("Y"),
                          QStringLiteral("Label ") + n);
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
    void eachFieldReachesItsOwnSetting_data();
    void eachFieldReachesItsOwnSetting();
    void closingDoesNotCommit();
    void newStepTakesOverShownSettings();
    void loadDefaults_data();
    void loadDefaults();
    void deletionKeepsSelectionFieldsAndCurrentStepTogether_data();
    void deletionKeepsSelectionFieldsAndCurrentStepTogether();
    void deletingTheLastStepEmptiesTheFields();
    void longValuesSurviveTheTypingLimit();
    void keyboardDispatch_data();
    void keyboardDispatch();
    void deleteAndCopyKeysInTheList_data();
    void deleteAndCopyKeysInTheList();
    void doubleClickShowsAndCopiesTheUrl();
    void fullStoreIsReported();
    void closeButtonHidesButProgramEndCloses();
    void focusLossHides_data();
    void focusLossHides();
    void shrinkingNarrowsListAndPostDataOnly();
};

// What a person types into one control ends up in that control's setting of
// the step and nowhere else, at the next commit: a click on another row, or on
// the highlighted row itself. Tab goes on to the next control in order.
void TestEditor::eachFieldReachesItsOwnSetting_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("next");  // the control Tab goes to
    QTest::addColumn<int>("commitRow"); // the row clicked to commit
    QTest::newRow("label") << "txtLabel"
                           << "txtHTTPUser" << 2;
    QTest::newRow("HTTP user") << "txtHTTPUser"
                               << "txtHTTPpass" << 2;
    QTest::newRow("HTTP password") << "txtHTTPpass"
                                   << "txtKeywords" << 2;
    QTest::newRow("keywords") << "txtKeywords"
                              << "txtErrors" << 2;
    QTest::newRow("errors") << "txtErrors"
                            << "txtCookies" << 2;
    QTest::newRow("errors, the highlighted row clicked") << "txtErrors"
                                                         << "txtCookies" << 1;
    QTest::newRow("cookies") << "txtCookies"
                             << "cmbPing" << 2; // past the post data, which takes no input
    QTest::newRow("ping") << "cmbPing"
                          << "txtTimeout" << 2;
    QTest::newRow("timeout") << "txtTimeout"
                             << "Command3" << 2;
}

void TestEditor::eachFieldReachesItsOwnSetting()
{
    QFETCH(QString, control);
    QFETCH(QString, next);
    QFETCH(int, commitRow);
    const QMap<QString, QString RecordedStep::*> settingOf{
        {QStringLiteral("txtLabel"), &RecordedStep::label},
        {QStringLiteral("txtHTTPUser"), &RecordedStep::httpuser},
        {QStringLiteral("txtHTTPpass"), &RecordedStep::httppass},
        {QStringLiteral("txtKeywords"), &RecordedStep::keywords},
        {QStringLiteral("txtErrors"), &RecordedStep::errors},
        {QStringLiteral("txtCookies"), &RecordedStep::cookies},
        {QStringLiteral("cmbPing"), &RecordedStep::ping},
        {QStringLiteral("txtTimeout"), &RecordedStep::timeout}};
    Fixture f;
    const QList<RecordedStep> before = f.editor.store().steps();
    QList<RecordedStep> expected = before;
    auto* postData = child<QPlainTextEdit>(f.editor, "txtPostData");
    QVERIFY(f.clickRow(1));
    QCOMPARE(postData->toPlainText(), before[1].postdata);
    QVERIFY(f.focus(control));
    if (control == u"cmbPing") {
        QCOMPARE(expected[1].ping, QStringLiteral("Y"));
        QVERIFY(userinput::key(Qt::Key_Up));
        expected[1].ping = QStringLiteral("N");
    } else {
        QVERIFY(userinput::key(Qt::Key_A, Qt::ControlModifier));
        QVERIFY(userinput::type(QStringLiteral("typed ") + control));
        expected[1].*settingOf.value(control) = QStringLiteral("typed ") + control;
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

void TestEditor::closingDoesNotCommit()
{
    Fixture f;
    f.list()->setCurrentRow(1);
    f.edit("txtCookies")->setText(QStringLiteral("late"));
    f.editor.close();
    QVERIFY(!f.editor.isVisible());
    QCOMPARE(f.editor.store().at(1).cookies, QStringLiteral("c=1"));
    f.editor.show();
    f.list()->setCurrentRow(0);
    QCOMPARE(f.editor.store().at(1).cookies, QStringLiteral("late"));
}

void TestEditor::newStepTakesOverShownSettings()
{
    Fixture f;
    f.list()->setCurrentRow(0);
    f.edit("txtCookies")->setText(QStringLiteral("session=1"));
    f.editor.addURL(QStringLiteral("http://site.test/new"), QString());
    QCOMPARE(f.editor.store().currentStep(), 3);
    QVERIFY(f.editor.store().at(3).cookies.isEmpty()); // nothing until the commit
    f.editor.selectLine(3);
    const RecordedStep& added = f.editor.store().at(3);
    QCOMPARE(added.cookies, QStringLiteral("session=1"));
    QCOMPARE(added.keywords, QStringLiteral("kw0"));
    QCOMPARE(added.timeout, QStringLiteral("40"));
    QCOMPARE(f.editor.store().at(0).cookies, QStringLiteral("c=0")); // the shown step kept its own
}

void TestEditor::loadDefaults_data()
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

void TestEditor::loadDefaults()
{
    QFETCH(QString, timeout);
    QFETCH(QString, ping);
    QFETCH(QString, shownTimeout);
    QFETCH(QString, shownPing);
    Fixture f(0);
    f.editor.addURL(QStringLiteral("http://a.test/"), QString(), {}, {}, {}, {}, {}, timeout, ping);
    f.editor.addURL(QStringLiteral("http://b.test/"), QString());
    f.editor.selectLine(0);
    QCOMPARE(f.edit("txtTimeout")->text(), shownTimeout);
    QCOMPARE(f.ping()->currentText(), shownPing);
    f.editor.selectLine(1); // commits what is shown
    QCOMPARE(f.editor.store().at(0).timeout, shownTimeout);
    QCOMPARE(f.editor.store().at(0).ping, shownPing);
}

void TestEditor::deletionKeepsSelectionFieldsAndCurrentStepTogether_data()
{
    QTest::addColumn<int>("selected");
    QTest::newRow("first") << 0;
    QTest::newRow("middle") << 1;
    QTest::newRow("last") << 2;
}

void TestEditor::deletionKeepsSelectionFieldsAndCurrentStepTogether()
{
    QFETCH(int, selected);
    Fixture f;
    f.list()->setCurrentRow(selected);
    f.edit("txtKeywords")->setText(QStringLiteral("uncommitted"));
    f.editor.deleteItem();

    QCOMPARE(f.editor.store().count(), 2);
    QCOMPARE(f.list()->count(), 2);
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
    f.edit("txtErrors")->setText(QStringLiteral("next"));
    f.editor.recordedItems_Click();
    QCOMPARE(f.editor.store().at(line).errors, QStringLiteral("next"));
}

void TestEditor::deletingTheLastStepEmptiesTheFields()
{
    Fixture f(1);
    f.editor.selectLine(0);
    QCOMPARE(f.edit("txtLabel")->text(), QStringLiteral("Label 0"));
    f.editor.deleteItem();
    QCOMPARE(f.editor.store().count(), 0);
    QCOMPARE(f.list()->count(), 0);
    for (const char* name :
         {"txtLabel", "txtKeywords", "txtErrors", "txtCookies", "txtTimeout", "txtHTTPUser", "txtHTTPpass"})
        QVERIFY2(f.edit(name)->text().isEmpty(), name);
    QCOMPARE(f.ping()->currentText(), QStringLiteral("N"));
}

void TestEditor::longValuesSurviveTheTypingLimit()
{
    Fixture f(0);
    const QString longLabel(80, QLatin1Char('L'));
    const QString longKeywords(400, QLatin1Char('k'));
    f.editor.addURL(QStringLiteral("http://a.test/"), QString(), longKeywords, {}, {}, {}, {}, {}, {},
                    longLabel);
    f.editor.addURL(QStringLiteral("http://b.test/"), QString());
    f.editor.selectLine(0);
    f.editor.selectLine(1);
    QCOMPARE(f.editor.store().at(0).label, longLabel);
    QCOMPARE(f.editor.store().at(0).keywords, longKeywords);
    // Typing stays limited to 50 characters in an empty label, 250 in the keywords.
    for (const auto& [name, limit] : {std::pair{"txtLabel", 50}, std::pair{"txtKeywords", 250}}) {
        QVERIFY(userinput::click(f.edit(name)));
        QVERIFY(userinput::key(Qt::Key_A, Qt::ControlModifier));
        QVERIFY(userinput::type(QString(limit + 10, QLatin1Char('x'))));
        QCOMPARE(f.edit(name)->text(), QString(limit, QLatin1Char('x')));
    }
}

void TestEditor::keyboardDispatch_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("command"); // "save": Save & Close; "": nothing
    QTest::addColumn<bool>("noSteps");    // Play answers with a message box
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("Ctrl+Z in keywords") << "txtKeywords" << int(Qt::Key_Z) << ctrl << "stepBack" << false;
    QTest::newRow("Ctrl+N in errors") << "txtErrors" << int(Qt::Key_N) << ctrl << "skip" << false;
    QTest::newRow("Ctrl+P in timeout") << "txtTimeout" << int(Qt::Key_P) << ctrl << "play" << false;
    QTest::newRow("Ctrl+P in keywords, no steps")
        << "txtKeywords" << int(Qt::Key_P) << ctrl << "play" << true;
    QTest::newRow("Ctrl+W in cookies") << "txtCookies" << int(Qt::Key_W) << ctrl << "reset" << false;
    QTest::newRow("Ctrl+U in keywords") << "txtKeywords" << int(Qt::Key_U) << ctrl << "upload" << false;
    QTest::newRow("Ctrl+K in label") << "txtLabel" << int(Qt::Key_K) << ctrl << "check" << false;
    QTest::newRow("Ctrl+P in password") << "txtHTTPpass" << int(Qt::Key_P) << ctrl << "play" << false;
    QTest::newRow("Ctrl+Z in list") << "recordedItems" << int(Qt::Key_Z) << ctrl << "stepBack" << false;
    QTest::newRow("Ctrl+U in ping") << "cmbPing" << int(Qt::Key_U) << ctrl << "upload" << false;
    QTest::newRow("Ctrl+W on button") << "Command3" << int(Qt::Key_W) << ctrl << "reset" << false;
    QTest::newRow("Enter in user") << "txtHTTPUser" << int(Qt::Key_Return) << 0 << "save" << false;
    QTest::newRow("keypad Enter in keywords")
        << "txtKeywords" << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << "save" << false;
    QTest::newRow("Esc in timeout") << "txtTimeout" << int(Qt::Key_Escape) << 0 << "save" << false;
    QTest::newRow("Enter in list") << "recordedItems" << int(Qt::Key_Return) << 0 << "save" << false;
    QTest::newRow("Esc in ping") << "cmbPing" << int(Qt::Key_Escape) << 0 << "save" << false;
    QTest::newRow("plain letter") << "txtKeywords" << int(Qt::Key_P) << 0 << "" << false;
    QTest::newRow("Ctrl+A") << "txtKeywords" << int(Qt::Key_A) << ctrl << "" << false;
    QTest::newRow("Ctrl+Alt+P") << "txtKeywords" << int(Qt::Key_P)
                                << int(Qt::ControlModifier | Qt::AltModifier) << "" << false;
}

void TestEditor::keyboardDispatch()
{
    QFETCH(QString, control);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, command);
    QFETCH(bool, noSteps);
    Fixture f;
    f.commands.playWithoutSteps = noSteps;
    QVERIFY(f.clickRow(0));
    QVERIFY(userinput::click(f.edit("txtKeywords")));
    userinput::key(Qt::Key_End);
    QVERIFY(userinput::type(QStringLiteral(" typed")));
    QVERIFY(f.focus(control));

    MessageBoxCatcher boxes;
    QVERIFY(userinput::key(Qt::Key(key), Qt::KeyboardModifiers(modifiers)));
    QTest::qWait(50); // a second run of the command would come from the same key

    if (command == QLatin1String("save")) {
        QVERIFY(f.commands.ran.isEmpty());
        QVERIFY(!f.editor.isVisible());
        QCOMPARE(f.editor.store().at(0).keywords, QStringLiteral("kw0 typed"));
        return;
    }
    QCOMPARE(f.commands.ran, command.isEmpty() ? QStringList() : QStringList{command}); // at most once
    QCOMPARE(boxes.count(), noSteps ? 1 : 0);
    QCOMPARE(f.editor.isVisible(), command != QLatin1String("play") || noSteps);
    // A command key is not also the text box's own binding (Ctrl+U deletes the line on X11).
    if (!command.isEmpty())
        QCOMPARE(f.edit("txtKeywords")->text(), QStringLiteral("kw0 typed"));
    else if (modifiers == 0)
        QCOMPARE(f.edit("txtKeywords")->text(), QStringLiteral("kw0 typedp"));
}

void TestEditor::deleteAndCopyKeysInTheList_data()
{
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Delete") << 0;
    QTest::newRow("keypad Delete") << int(Qt::KeypadModifier);
}

void TestEditor::deleteAndCopyKeysInTheList()
{
    QFETCH(int, modifiers);
    Fixture f;
    QVERIFY(f.clickRow(1));
    QVERIFY(userinput::key(Qt::Key_C, Qt::ControlModifier));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("http://site.test/p1"));
    QVERIFY(userinput::key(Qt::Key_Delete, Qt::KeyboardModifiers(modifiers)));
    QCOMPARE(f.editor.store().count(), 2);
    QCOMPARE(f.list()->item(0)->text(), QStringLiteral("http://site.test/p0"));
    QCOMPARE(f.list()->item(1)->text(), QStringLiteral("http://site.test/p2"));
    QVERIFY(f.commands.ran.isEmpty());
}

void TestEditor::doubleClickShowsAndCopiesTheUrl()
{
    Fixture f;
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QVERIFY(f.clickRow(2));
    QVERIFY(userinput::click(f.edit("txtLabel")));
    userinput::key(Qt::Key_A, Qt::ControlModifier);
    QVERIFY(userinput::type(QStringLiteral("edited")));
    MessageBoxCatcher boxes;
    const QRect rect = f.list()->visualItemRect(f.list()->item(2));
    QVERIFY(userinput::doubleClick(f.list()->viewport(), rect.center()));
    QTRY_COMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, QStringLiteral("http://site.test/p2"));
    QTRY_COMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("http://site.test/p2"));
    QCOMPARE(f.editor.store().at(2).label, QStringLiteral("edited")); // the double-click commits
}

void TestEditor::fullStoreIsReported()
{
    Fixture f(0);
    for (int i = 0; i < StepStore::capacity; ++i)
        f.editor.addURL(QStringLiteral("http://a.test/%1").arg(i), QString());
    MessageBoxCatcher boxes;
    QCOMPARE(f.editor.addURL(QStringLiteral("http://a.test/more"), QString()),
             StepStore::AddResult::StoreFull);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.last().text, StepStore::fullStoreMessage());
    QCOMPARE(f.list()->count(), StepStore::capacity);
    // Silent refusals stay silent.
    f.editor.addURL(QStringLiteral("about:blank"), QString());
    QCOMPARE(boxes.count(), 1);
}

void TestEditor::closeButtonHidesButProgramEndCloses()
{
    Fixture f;
    QSignalSpy destroyed(&f.editor, &QObject::destroyed);
    QVERIFY(!f.editor.close());
    QVERIFY(!f.editor.isVisible());
    QCOMPARE(f.editor.store().count(), 3);
    f.editor.show();
    f.editor.setProgramEnding(true);
    QVERIFY(f.editor.close());
}

void TestEditor::focusLossHides_data()
{
    QTest::addColumn<bool>("fieldHasFocus");
    QTest::newRow("a field holds the focus: stays") << true;
    QTest::newRow("no control holds the focus: hides") << false;
}

void TestEditor::focusLossHides()
{
    QFETCH(bool, fieldHasFocus);
    Fixture f;
    QVERIFY(userinput::click(f.edit("txtKeywords")));
    // The editor's own message box does not count as losing the focus.
    {
        MessageBoxCatcher boxes;
        QVERIFY(userinput::doubleClick(f.list()->viewport(),
                                       f.list()->visualItemRect(f.list()->item(0)).center()));
        QTRY_COMPARE(boxes.count(), 1);
    }
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

void TestEditor::shrinkingNarrowsListAndPostDataOnly()
{
    Fixture f;
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

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
