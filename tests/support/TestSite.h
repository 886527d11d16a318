#pragma once

#include <QtCore>

#include <memory>

// One request as the test site received it.
struct LoggedRequest
{
    QByteArray method;                    // "GET", "POST"
    QByteArray target;                    // path and query exactly as on the request line
    QByteArray body;                      // raw body bytes as received
    QMap<QByteArray, QByteArray> headers; // names lower-cased; repeated headers joined by ", "
    quint16 port = 0;                     // which listener (main or other origin)
    bool navigation = false;  // Sec-Fetch-Dest is document, iframe or frame (a page load, not a sub-resource)
    bool redirectHop = false; // follows a 3xx answer of the site: its target was an earlier Location
};

// A small web site on 127.0.0.1 for browser tests. It serves the pages under
// tests/site from two listeners on free ports (two origins with the same
// content) and logs every request it receives.
//
// Routes, on both listeners:
//   /redirect?code=301|302|303|307|308&to=<path or base URL + path>  that status with Location
//   /auth?user=U&pass=P  200 "Welcome, U" with those Basic credentials, else 401 asking for them
//   /favicon.ico      404
//   POST anything     200 page titled "Received"
//   GET /echo...      200 page titled "Echo <path>"
//   GET anything else the static file; "{{MAIN}}" and "{{OTHER}}" in .html and .js files
//                     become the two base URLs
// With delay=N in its query any answer comes after N ms (at most 5000). Every
// answer carries "Cache-Control: no-store".
class TestSite
{
public:
    TestSite();
    ~TestSite();
    TestSite(const TestSite&) = delete;
    TestSite& operator=(const TestSite&) = delete;

    bool isRunning() const;
    // "http://127.0.0.1:<port>" + pathAndQuery, for the main and the other-origin listener.
    QString url(const QString& pathAndQuery) const;
    QString otherUrl(const QString& pathAndQuery) const;

    // Page loads the browser started: navigation requests that are not redirect hops, without /favicon.ico.
    QList<LoggedRequest> navigations() const;
    // Every request in arrival order.
    QList<LoggedRequest> requests() const;
    void clear();

    // The folder the pages are served from.
    static QString siteDir();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
