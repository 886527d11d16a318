#pragma once

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <memory>

class QWebEngineProfile;

// The recorder's embedded browser: one per browser window. It raises, in this
// order per navigation, BeforeNavigate2 (once for every navigation the browser
// starts, in any frame, including those the program starts and about:blank),
// NavigateComplete2 (main frame committed) and DocumentComplete (document loaded);
// NewWindow2 when a page asks for a new window and WindowClosing when a script
// asks to close it.
class WebBrowser : public QWidget
{
    Q_OBJECT
public:
    explicit WebBrowser(QWebEngineProfile* profile, QWidget* parent = nullptr);
    ~WebBrowser() override;

    // The profile every browser of the program shares (capture scripts installed).
    static QWebEngineProfile* recorderProfile();

    void Navigate(const QString& url);
    // With a body: sent as a POST of exactly these bytes with the given header lines
    // ("Name: value" separated by CR LF).
    void Navigate2(const QString& url, const QByteArray& postData = {}, const QString& headers = {});
    void GoBack();
    void Stop();
    bool Busy() const;
    QString LocationURL() const;
    QString LocationName() const;

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
    // The page's renderer process ended abnormally.
    void RendererCrashed(const QString& reason);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
