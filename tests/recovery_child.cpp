// A recorder process for the crash recovery test: it records the pages it is
// given and waits to be killed, or starts, restores what a killed run kept and
// prints the steps.
#include "MessageBox.h"
#include "Recorder.h"
#include "RecoveryFile.h"
#include "StepStore.h"
#include "UserInput.h"
#include "WebBrowser.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"

#include <QtTest>
#include <QtWidgets>

#include <cstdio>

int main(int argc, char* argv[])
{
    WebBrowser::prepareEnvironment();
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    const QString mode = args.value(1);
    int asked = -1;
    QString question;
    messagebox::setAnswerer([&](const messagebox::Box& box) {
        question = box.text;
        // The number of steps offered, as the question names it (none when it only tells).
        asked = QRegularExpression(u"Restore the (\\d+) "_qs).match(box.text).captured(1).toInt();
        return mode == u"restore" ? 0 : 1;
    });
    Recorder recorder(WebBrowser::recorderProfile());
    frmBrowser* main = recorder.start();
    StepStore& store = recorder.editor().store();

    if (mode == u"record") {
        for (qsizetype i = 2; i < args.size(); ++i) {
            userinput::click(main->cboAddress()->lineEdit());
            userinput::key(Qt::Key_A, Qt::ControlModifier);
            userinput::type(args.at(i));
            userinput::key(Qt::Key_Return);
            if (!QTest::qWaitFor([&] { return store.count() == i - 1 && !main->brwWebBrowser()->Busy(); },
                                 20000))
                return 2;
            // Settings typed for the page, committed by a click on its row.
            QWidget& editor = recorder.editor();
            for (const auto& [field, text] :
                 {std::pair{"txtKeywords", u"kw %1"_qs.arg(i)}, std::pair{"txtCookies", u"c=%1"_qs.arg(i)}}) {
                userinput::click(editor.findChild<QLineEdit*>(QString::fromLatin1(field)));
                userinput::key(Qt::Key_A, Qt::ControlModifier);
                userinput::type(text);
            }
            auto* list = editor.findChild<QListWidget*>(u"recordedItems"_qs);
            userinput::click(list->viewport(), list->visualItemRect(list->item(list->count() - 1)).center());
        }
        // The copy follows within moments; the kill comes once it holds everything.
        if (!QTest::qWaitFor(
                [&] { return loadRecovery(recoveryFile()).value_or(RecoveryRead{}).steps == store.steps(); },
                10000))
            return 3;
        std::printf("RECORDED %d\n", int(store.count()));
        std::fflush(stdout);
        return QApplication::exec(); // until killed
    }

    // Print what the store holds after start-up (as a recovery copy, which holds
    // every field), then end normally.
    std::printf("ASKED %d\n%s\n%s\n", asked, recoveryBytes(store.steps()).toBase64().constData(),
                qPrintable(question));
    std::fflush(stdout);
    return 0;
}
