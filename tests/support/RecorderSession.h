#pragma once

#include "Recorder.h"
#include "TestSite.h"
#include "frmBrowser.h"
#include "frmControlPanel.h"

#include <QAction>
#include <QComboBox>
#include <QTest>

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
    QAction* action(const char* name) { return main->findChild<QAction*>(QString::fromLatin1(name)); }

    // Types an address and presses Enter, as the user does.
    void type(const QString& address)
    {
        main->cboAddress()->setEditText(address);
        main->cboAddress_KeyPress(13);
    }
    bool waitIdle(frmBrowser* window, int ms = 15000)
    {
        return QTest::qWaitFor([&] { return !window->brwWebBrowser()->Busy(); }, ms);
    }
    // Types the address and waits until the main window shows it, loaded.
    bool open(const QString& address)
    {
        type(address);
        return QTest::qWaitFor(
            [&] { return !main->brwWebBrowser()->Busy() && main->brwWebBrowser()->LocationURL() == address; },
            15000);
    }
    // Records count pages of the site.
    bool record(int pages)
    {
        for (int i = 0; i < pages; ++i) {
            if (!open(site.url(QStringLiteral("/echo/page%1").arg(i))))
                return false;
        }
        return QTest::qWaitFor([&] { return count() == pages; }, 5000);
    }
    QList<frmBrowser*> popups() const
    {
        QList<frmBrowser*> list;
        for (frmBrowser* w : recorder->windows()) {
            if (w != main)
                list.append(w);
        }
        return list;
    }
};
