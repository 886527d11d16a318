#pragma once

#include "Credentials.h"
#include "NavigationTracker.h"
#include "Playback.h"
#include "StepCheck.h"
#include "StepStore.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

// One run of the recorder below its windows: the recorded steps, their replay,
// the form bodies pages reported, the service account, and the status text
// every browser window shows when a page completes. Windows hold it by reference: they show it,
// forward what the user does and follow its signals.
class RecordingSession : public QObject
{
    Q_OBJECT
public:
    explicit RecordingSession(QObject* parent = nullptr);

    StepStore& store() { return m_store; }
    const StepStore& store() const { return m_store; }
    PlaybackEngine& playback() { return m_playback; }
    // Shared by every browser window: a form may post into another window.
    CaptureStore& captures() { return m_captures; }

    // The account the service is signed in with: the sign-in window's fields as
    // last loaded or typed.
    const AccountCredentials& account() const { return m_account; }
    void setAccount(const AccountCredentials& account) { m_account = account; }

    const QString& statusText() const { return m_statusText; }
    void setStatusText(const QString& text) { m_statusText = text; }

    // A navigation starts in a window whose Recording box is as given: a web
    // address becomes a step; the blank page is refused while steps exist.
    struct Start
    {
        bool cancel = false;    // the navigation must not go on
        bool storeFull = false; // the user is to be told the store is full
    };
    // postData: the body as text, one character per byte.
    Start navigationStarting(const QString& url, const QString& postData, bool recording);

    // A document completed in a window whose Recording box is as given. A
    // recorded page (not the blank page) belongs to the last step: the editor
    // shows that step and the page's title labels it. Step back does not bring
    // the editor up, and a page it could not load again (a posted page the
    // engine will not resend unasked) has no title of its own to give.
    struct Completion
    {
        int step = -1; // the step the editor shows; -1: no change
        bool showEditor = false;
        std::optional<QString> label; // the label the editor gives its step
    };
    Completion documentCompleted(const QString& url, const QString& title, bool recording, bool stepBack,
                                 bool loaded) const;

    // The step a page shown at this address belongs to: the last step recorded
    // for the address (a fragment aside), else the last step recorded; -1 when
    // there is none.
    int pageStep(const QString& pageUrl) const;

    // What a site's HTTP sign-in for the page at this address starts from: the
    // user name and password of the page's step, and whether that step keeps the
    // answer (the page is the one being recorded; the monitor meets the same question).
    struct SignInOffer
    {
        QString user;
        QString password;
        bool keep = false;
    };
    SignInOffer signInOffer(const QString& url, bool recording) const;
    // The user answered a sign-in the offer said to keep: the step of that page
    // takes the answer when the page completes.
    struct SiteSignIn
    {
        QString url;
        QString user;
        QString password;
    };
    void siteSignedIn(const SiteSignIn& signIn) { m_siteSignIn = signIn; }
    // The answer given for the address of the step at pos, forgotten once taken.
    std::optional<SiteSignIn> takeSiteSignIn(int pos);

    // The last check run that ended: the steps it checked and their results.
    void setLastCheck(const QList<RecordedStep>& steps, const QList<stepcheck::Result>& results);
    // What the last check found for the step at pos, when it checked that same
    // request; nullptr otherwise.
    const stepcheck::Result* lastCheckOf(int pos) const;

private:
    // The one-time entries of a navigation being recorded (see RecordedStep::oneTime).
    QStringList oneTimeOf(const QString& url, const QString& postData) const;

    QList<RecordedStep> m_checkedSteps;
    QList<stepcheck::Result> m_checkResults;
    StepStore m_store;
    PlaybackEngine m_playback{m_store};
    CaptureStore m_captures;
    AccountCredentials m_account;
    std::optional<SiteSignIn> m_siteSignIn;
    QString m_statusText = QStringLiteral("Done.");
};
