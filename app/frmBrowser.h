#pragma once

#include "Playback.h"
#include "RecorderCommands.h"
#include "WebBrowser.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>

class QAction;
class QCheckBox;
class RepaintThrottle;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class Recorder;

// The recording browser window. The main window and every window a page opens
// are of this class; a window a page opened is marked a popup and shows fewer
// controls. Every page request its browser starts while Recording is checked
// becomes a step in the program's step editor.
class frmBrowser : public QMainWindow, public RecorderCommands
{
    Q_OBJECT
public:
    frmBrowser(Recorder& recorder, WebBrowser::Origin origin);
    ~frmBrowser() override;

    static QString versionText();
    static QString productTitle();

    WebBrowser* brwWebBrowser() const { return m_browser; }
    QCheckBox* chkSave() const { return m_chkSave; }
    QCheckBox* cPopup() const { return m_cPopup; }
    QComboBox* cboAddress() const { return m_cboAddress; }
    QLabel* StatusBar() const { return m_StatusBar; }
    bool isPopup() const;
    // Where the window was when it first showed.
    QPoint firstShownAt() const { return m_firstShownAt; }

    // Commands of the main window (picture buttons, menus, the editor's keys).
    void lblStepBack_Click() override;
    void lblSkip_Click() override;
    void Label2_Click() override;
    void lblRestart_Click() override;
    void lblUpload_Click() override;
    void Label1_Click();
    void Command1_Click();
    void HelpCommand_Click();
    void mnuUpdates_Click();
    void mAllowDuplicates_Click();
    void mnuExit_Click();
    void problem_Click();
    void mOpen_Click();
    // Checks the transaction in a window of its own (Recorder menu).
    void mCheck_Click() override;
    // HAR files (File menu): the steps as a browser's HTTP archive, and one read as steps.
    void mExportHar_Click();
    void mOpenHar_Click();
    void mSave_Click();
    // Writes the transaction file; an empty sFile means the default file, and is
    // set to it. False (after telling the user) when the file could not be written.
    bool writeTransactionFile(QString& sFile);
    void importTransactionFile(const QString& path);

    // File dialogs answer with this name instead, once, when it is set (tests).
    static void setNextFileName(const QString& name);
    // Where the help and update pages are opened (tests replace it).
    static void setPageOpener(std::function<bool(const QUrl&)> opener);
    static QUrl helpPage();
    static QUrl updatesPage();

    // What a replay needs of the main window.
    // The main window carries out the replay's requests and shows its run.
    void followPlayback(PlaybackEngine& playback);
    void navigateStep(const QString& url, const QByteArray& postData, const QString& headers);
    void prepareRun();
    void setRunningControls(bool running);
    void setHourglass(bool on);

    void cboAddress_Click();
    void cboAddress_KeyPress(int keyAscii);

    // Step back went back in this window; its page has not completed yet.
    bool stepBackPending() const { return backStepPending; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void Form_Load();
    void Form_Resize();
    void timTimer_Timer();
    void hidePopupControls();
    void applyCaption(const QString& address, const QString& title);
    frmBrowser& mainWindow();
    QString chooseFile(const QString& title, bool save);
    bool isMenuShortcut(const QKeySequence& keys) const;
    // Warns of steps with one-time values before they leave the program; true to go on.
    bool goOnDespiteOneTimeValues(const QString& title);
    void showEditor();

    // Events of the embedded browser.
    void BeforeNavigate2(const QString& url, const QByteArray& postData, bool* cancel);
    void NavigateComplete2();
    void DocumentComplete(const QString& url);
    void NewWindow2(WebBrowser** newBrowser);
    void WindowClosing(bool openedByScript, bool* cancel);
    void RendererCrashed(const QString& reason);
    void FileOffered(const QString& url, const QString& fileName);
    void CertificateError(const QString& url, const QString& description, bool* goOn);
    void AuthenticationRequired(const QString& url, bool proxy, const QString& host, QAuthenticator* answer);
    void ContextMenu(QMenu* menu, const QString& selectedText);
    // Adds the page's selected text to a keyword field of the step the page belongs to.
    void addPageCheck(bool alertWhenFound, const QString& text);
    void setStatus(const QString& text);
    // The page was answered with a file: the status line says so until another navigation starts.
    void showFileNote(const QString& fileName);

    Recorder& m_recorder;
    WebBrowser::Origin m_origin;
    QString startPage;
    QString pendingPostData;
    // Why the last navigation showed no page (a file offered): stays in the
    // status line while the window settles, until another navigation starts.
    QString m_fileNote;
    bool addressUpdating = false;
    bool m_addressTyped = false; // the box holds text the user typed and has not sent yet
    bool m_hourglass = false;
    bool backStepPending = false;
    QPoint m_firstShownAt;
    QPointer<frmBrowser> m_opener; // the window whose page opened this one

    QWidget* m_client = nullptr;
    QLabel* m_topPict = nullptr;
    QLabel* m_Image2 = nullptr;
    QList<QPushButton*> m_pictureButtons;
    QPushButton* m_Label1 = nullptr;
    QPushButton* m_lblStepBack = nullptr;
    QPushButton* m_lblSkip = nullptr;
    QPushButton* m_Label2 = nullptr;
    QPushButton* m_Command1 = nullptr;
    QPushButton* m_lblRestart = nullptr;
    QPushButton* m_LblUpload = nullptr;
    QPushButton* m_HelpCommand = nullptr;
    QCheckBox* m_cPopup = nullptr;
    QWidget* m_picAddress = nullptr;
    QLabel* m_lblAddress = nullptr;
    QComboBox* m_cboAddress = nullptr;
    QCheckBox* m_chkSave = nullptr;
    WebBrowser* m_browser = nullptr;
    QWidget* m_StatusContainer = nullptr;
    QLabel* m_StatusBar = nullptr;
    QTimer m_timTimer;

    RepaintThrottle* m_repaints = nullptr;

    QMenu* m_mMenu = nullptr;
    QAction* m_mStop = nullptr;
    QAction* m_mPlay = nullptr;
    QAction* m_mAllowDuplicates = nullptr;
};
