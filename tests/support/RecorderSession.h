#pragma once

#include "Recorder.h"
#include "TestSite.h"
#include "UserInput.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

// A fresh recorder with its main window, on the local test site.
struct RecorderSession
{
    TestSite& site;
    std::unique_ptr<Recorder> recorder = std::make_unique<Recorder>(WebBrowser::recorderProfile());
    frmBrowser* main = nullptr;

    explicit RecorderSession(TestSite& s) : site(s)
    {
        main = recorder->start();
        if (!QTest::qWaitFor([&] { return main->windowTitle() == frmBrowser::productTitle(); }, 20000))
            qWarning("the start page did not load");
    }
    ~RecorderSession()
    {
        recorder.reset();
        QTest::qWait(0);
    }
    frmControlPanel& editor() { return recorder->editor(); }
    int count() { return editor().store().count(); }
    QPushButton* button(const char* name) { return main->findChild<QPushButton*>(QString::fromLatin1(name)); }

    // Clicks into the address box, replaces its text by typing, presses Enter; again
    // when the keys went nowhere (no window had the keyboard as windows came and went).
    bool type(const QString& address, Qt::Key enter = Qt::Key_Return)
    {
        const auto modifier = enter == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
        for (int attempt = 0; attempt < 3; ++attempt) {
            userinput::click(main->cboAddress()->lineEdit());
            userinput::key(Qt::Key_A, Qt::ControlModifier);
            if (userinput::type(address) && userinput::key(enter, modifier))
                return true;
        }
        return false;
    }
    // Gives the main window the keyboard and presses a key there.
    bool press(Qt::Key k, Qt::KeyboardModifiers modifiers = {})
    {
        return userinput::activate(main) && userinput::key(k, modifiers);
    }
    // Chooses a menu entry from the keyboard: Alt and the menu's letter, then the entry's letter.
    bool choose(const char* actionName, frmBrowser* window = nullptr)
    {
        window = window ? window : main;
        auto* entry = window->findChild<QAction*>(QString::fromLatin1(actionName));
        if (!entry || entry->associatedObjects().isEmpty())
            return false;
        auto* menu = qobject_cast<QMenu*>(entry->associatedObjects().first());
        const auto letter = [](const QString& caption) {
            const qsizetype at = caption.indexOf(QLatin1Char('&'));
            return Qt::Key(Qt::Key_A + (caption.at(at + 1).toUpper().unicode() - 'A'));
        };
        if (!menu || !userinput::activate(window))
            return false;
        userinput::key(letter(menu->title()), Qt::AltModifier);
        if (!QTest::qWaitFor([menu] { return menu->isVisible(); }, 2000))
            return false;
        return userinput::key(letter(entry->text()));
    }
    bool waitIdle(frmBrowser* window, int ms = 15000)
    {
        return QTest::qWaitFor([&] { return !window->brwWebBrowser()->Busy(); }, ms);
    }
    // Types the address and waits until the main window shows it, loaded.
    bool open(const QString& address)
    {
        if (!type(address))
            return false;
        const bool loaded = QTest::qWaitFor(
            [&] { return !main->brwWebBrowser()->Busy() && main->brwWebBrowser()->LocationURL() == address; },
            15000);
        if (!loaded)
            qWarning("not loaded: %s; the window shows %s", qPrintable(address),
                     qPrintable(main->brwWebBrowser()->LocationURL()));
        return loaded;
    }
    // With Recording off, a page of the site loads itself hops more times (each
    // load a history entry of its own if asked); Recording is on again after.
    bool browseUnrecorded(int hops, bool ownEntries)
    {
        const QString suffix = ownEntries ? u"&push"_qs : QString();
        if (!userinput::click(main->chkSave()) || main->chkSave()->isChecked() ||
            !type(site.url(u"/hops.html?left=%1%2"_qs.arg(hops).arg(suffix))))
            return false;
        const QString last = site.url(u"/hops.html?left=0"_qs + suffix);
        // Waited for with the event loop running throughout: qWaitFor's sleeps
        // between its passes slow the engine's many tasks of each load.
        const QDeadlineTimer deadline(120000);
        while (main->brwWebBrowser()->LocationURL() != last && !deadline.hasExpired())
            QTest::qWait(50);
        if (main->brwWebBrowser()->LocationURL() != last || !waitIdle(main))
            return false;
        return userinput::click(main->chkSave()) && main->chkSave()->isChecked();
    }
    // Records count pages of the site.
    bool record(int pages)
    {
        for (int i = 0; i < pages; ++i)
            if (!open(site.url(u"/echo/page%1"_qs.arg(i))))
                return false;
        return QTest::qWaitFor([&] { return count() == pages; }, 5000);
    }
    QList<frmBrowser*> popups() const
    {
        QList<frmBrowser*> list = recorder->windows();
        list.removeAll(main);
        return list;
    }
};
