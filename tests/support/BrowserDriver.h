#pragma once

#include "WebBrowser.h"

#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

// Drives a page of a WebBrowser the way a user would, for tests.
namespace browserdriver {

// Evaluates a script in the page's own world and waits for its result (at most 10 s).
inline QVariant runJs(WebBrowser* browser, const QString& script)
{
    QVariant result;
    bool done = false;
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    browser->page()->runJavaScript(script, 0, [&result, &done, guard](const QVariant& v) {
        result = v;
        done = true;
        if (guard)
            guard->quit();
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (!done)
        loop.exec();
    return result;
}

// The widget that takes the view's input events.
inline QWidget* inputWidget(WebBrowser* browser)
{
    return browser->view()->focusProxy() ? browser->view()->focusProxy() : browser->view();
}

// A real mouse click at the centre of the first element the selector finds.
inline bool click(WebBrowser* browser, const QString& selector)
{
    const QVariantList centre =
        runJs(browser, QStringLiteral("(function(){var e=document.querySelector(%1); if(!e) return null;"
                                      "e.scrollIntoView({block:'center'}); var r=e.getBoundingClientRect();"
                                      "return [r.left + r.width/2, r.top + r.height/2];})()")
                           .arg(QStringLiteral("'") + selector + QStringLiteral("'")))
            .toList();
    if (centre.size() != 2)
        return false;
    const QPoint at(qRound(centre.at(0).toDouble()), qRound(centre.at(1).toDouble()));
    QTest::mouseClick(inputWidget(browser), Qt::LeftButton, {}, at);
    return true;
}

// Focuses the element, then presses Enter.
inline bool pressEnter(WebBrowser* browser, const QString& selector)
{
    const bool found = runJs(browser, QStringLiteral("(function(){var e=document.querySelector('%1');"
                                                     "if(!e) return false; e.focus(); return true;})()")
                                          .arg(selector))
                           .toBool();
    if (!found)
        return false;
    QTest::keyClick(inputWidget(browser), Qt::Key_Return);
    return true;
}

} // namespace browserdriver
