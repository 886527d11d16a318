#pragma once

#include <QByteArray>
#include <QString>
#include <QWebEngineHttpRequest>
#include <QWebEngineScript>
#include <QWidget>

#include <memory>

class CaptureStore;
class QAuthenticator;
class QMenu;
class QWebEnginePage;
class QWebEngineProfile;
class QWebEngineView;

// The recorder's embedded browser: one per browser window. It raises, in this
// order per navigation, BeforeNavigate2 (once for every navigation the browser
// starts, in any frame, including those the program starts and about:blank),
// NavigateComplete2 (main frame committed) and DocumentComplete (document loaded;
// at once for a navigation inside the document, a fragment or pushState);
// NewWindow2 when a page asks for a new window and WindowClosing when a script
// asks to close it.
class WebBrowser : public QWidget
{
    Q_OBJECT
public:
    // How the browser comes to be: for a window of its own, or to receive a page's
    // new window (its content then arrives from the engine, see NewWindow2).
    enum class Origin
    {
        OwnWindow,
        NewWindow
    };

    // captures: where pages report form bodies, shared by the browsers of one
    // session (a form may post into another window).
    WebBrowser(QWebEngineProfile* profile, CaptureStore& captures, Origin origin = Origin::OwnWindow,
               QWidget* parent = nullptr);
    ~WebBrowser() override;

    // Process set-up the engine needs before the application object exists.
    static void prepareEnvironment();
    // The profile every browser of the program shares (page script installed,
    // nothing kept on disk).
    static QWebEngineProfile* recorderProfile();
    // The page script a window's frames get while its top document comes from
    // top, reporting under marker (for measuring what the frames' capture costs).
    static QWebEngineScript framesCaptureScript(const QString& marker, const QString& top);

    // True when the text, as typed, makes an address the browser can open.
    static bool isAddress(const QString& url);
    // An address that is not one (see isAddress) is not loaded.
    void Navigate(const QString& url);
    // With a body: sent as a POST of exactly these bytes; without, a GET. Either
    // with the given header lines ("Name: value" separated by CR LF).
    void Navigate2(const QString& url, const QByteArray& postData = {}, const QString& headers = {});
    // The request Navigate2 makes: a POST when postData is not empty. Header
    // lines go only with web addresses.
    static QWebEngineHttpRequest request(const QUrl& url, const QByteArray& postData, const QString& headers);
    // Back to the page before the one shown, past the entries its own document added.
    void GoBack();
    void Stop();
    bool Busy() const;
    QString LocationURL() const;
    QString LocationName() const;
    // False when the last load of the window's page failed (the engine shows its
    // error page, or the server answered with an error status).
    bool loadSucceeded() const;
    // True while DocumentComplete reports a navigation inside the document (a
    // fragment, the page's pushState): nothing was requested or loaded.
    bool documentKept() const;
    // True once the page is shown in the view (a new window's page waits until
    // showing it is safe).
    bool isPageShown() const;
    // The window holds a document of its own (its history has an entry); a new
    // window whose first navigation was answered with a file holds none.
    bool hasDocument() const;
    // The engine's page and view, for tests that drive pages directly.
    QWebEnginePage* page() const;
    QWebEngineView* view() const;

signals:
    // postData: the body as the server receives it; empty for a GET. Setting *cancel
    // stops the navigation (only effective for navigations not yet under way).
    void BeforeNavigate2(const QString& url, const QByteArray& postData, bool* cancel);
    void NavigateComplete2();
    void DocumentComplete(const QString& url);
    // The handler creates the new window and stores its browser in *newBrowser;
    // leaving it null refuses the new window.
    void NewWindow2(WebBrowser** newBrowser);
    void WindowClosing(bool openedByScript, bool* cancel);
    // The page's context menu is about to show: the handler may add entries.
    // selectedText: the page's selection where the menu was asked for.
    void ContextMenu(QMenu* menu, const QString& selectedText);
    // A site (or, with proxy, the proxy) asks for a user name and password for a
    // request of this page. The handler fills *answer; leaving its user and
    // password empty refuses.
    void AuthenticationRequired(const QString& url, bool proxy, const QString& host, QAuthenticator* answer);
    // A site's certificate is not trusted (self-signed, expired, another name)
    // but may be: the handler sets *goOn to load the site all the same.
    void CertificateError(const QString& url, const QString& description, bool* goOn);
    // The page's renderer process ended abnormally.
    void RendererCrashed(const QString& reason);
    // The answer to url was a file to download (a link's, or a viewer's save
    // button): nothing is saved. Raised after the BeforeNavigate2 that asked for it.
    void FileOffered(const QString& url, const QString& fileName);

private:
    struct Private;
    // The engine's page and its request watcher reach the browser through Private.
    friend struct Private;
    friend class RecorderPage;
    friend class FrameRequestWatcher;
    std::unique_ptr<Private> d;
};
