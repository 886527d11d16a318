#pragma once

#include "UserInput.h"
#include "WebBrowser.h"

#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>
#include <QtWidgets>

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

// The centre of the first element the selector finds, scrolled into view, in the
// input widget's coordinates; a null point when there is none. "F >> S" finds S
// in the document of the frame F finds (same origin). The script calls none of
// the built-ins a page may wrap to watch for scripts.
inline QPoint centre(WebBrowser* browser, const QString& selector)
{
    QStringList parts;
    for (const QString& part : selector.split(u" >> "_qs))
        parts.append(u'\'' + part + u'\'');
    const QVariantList c =
        runJs(browser,
              u"(function(){var d=document, x=0, y=0, parts=[%1];"
              "for(var i=0;i<parts.length-1;i++){var f=d.querySelector(parts[i]); if(!f||!f.contentDocument) "
              "return null;"
              "var fr=f.getBoundingClientRect(); x+=fr.left+f.clientLeft; y+=fr.top+f.clientTop; "
              "d=f.contentDocument;}"
              "var e=d.querySelector(parts[parts.length-1]); if(!e) return null;"
              "e.scrollIntoView({block:'center'}); var r=e.getBoundingClientRect();"
              "return [x + r.left + r.width/2, y + r.top + r.height/2];})()"_qs.arg(parts.join(u',')))
            .toList();
    return c.size() == 2 ? QPoint(qRound(c.at(0).toDouble()), qRound(c.at(1).toDouble())) : QPoint();
}

// A real mouse click at the centre of the first element the selector finds.
inline bool click(WebBrowser* browser, const QString& selector)
{
    // Waits, as a person would, for the page's first paint: input before it may be lost.
    (void)QTest::qWaitFor(
        [&] { return runJs(browser, u"performance.getEntriesByType('paint').length"_qs).toInt() > 0; }, 5000);
    const QPoint at = centre(browser, selector);
    return !at.isNull() && userinput::click(inputWidget(browser), at);
}

// Clicks into the element, then presses Enter.
inline bool pressEnter(WebBrowser* browser, const QString& selector)
{
    return click(browser, selector) && userinput::key(Qt::Key_Return);
}

// Opens the page's context menu on a spot of the page (right click); null when
// no menu came up.
inline QMenu* openPageMenu(WebBrowser* browser, QPoint at = QPoint(300, 200))
{
    if (!userinput::click(inputWidget(browser), at, Qt::RightButton))
        return nullptr;
    QMenu* menu = nullptr;
    if (!QTest::qWaitFor(
            [&] {
                return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) && menu->isVisible();
            },
            5000))
        return nullptr;
    return menu;
}

// Opens the page's context menu on a spot of the page and clicks one of the
// browser's own entries (Back, Reload); false when it is not there or disabled.
inline bool pageMenu(WebBrowser* browser, QWebEnginePage::WebAction entry, QPoint at = QPoint(300, 200))
{
    QMenu* menu = openPageMenu(browser, at);
    if (!menu)
        return false;
    QAction* action = browser->page()->action(entry);
    if (!menu->actions().contains(action) || !action->isEnabled()) {
        menu->close();
        return false;
    }
    QTest::mouseClick(menu->windowHandle(), Qt::LeftButton, {}, menu->actionGeometry(action).center());
    return true;
}

} // namespace browserdriver
