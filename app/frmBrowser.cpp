#include "frmBrowser.h"

#include "BrowserLayout.h"
#include "ButtonKeys.h"
#include "CodePage.h"
#include "FileChooser.h"
#include "FileReplace.h"
#include "HarFile.h"
#include "MessageBox.h"
#include "OneTime.h"
#include "Pictures.h"
#include "Recorder.h"
#include "RepaintThrottle.h"
#include "ServiceHost.h"
#include "ServiceRules.h"
#include "ServiceWindows.h"
#include "SiteSignIn.h"
#include "TransactionFile.h"
#include "TransactionImport.h"
#include "Twips.h"
#include "frmCheck.h"
#include "frmControlPanel.h"
#include "tallyro_config.h"

#include <QApplication>
#include <QAuthenticator>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QWebEnginePage>

#include <optional>

namespace {

const QString blankPage = QStringLiteral("about:blank");

// Design client area of the window, in twips.
constexpr int designWidth = 10935;
constexpr int designHeight = 9960;
constexpr int addressLimit = 2048;

} // namespace

QString frmBrowser::versionText()
{
    return QStringLiteral("%1.%2.%3")
        .arg(TALLYRO_VERSION_MAJOR)
        .arg(TALLYRO_VERSION_MINOR)
        .arg(TALLYRO_VERSION_PATCH);
}

QString frmBrowser::productTitle()
{
    return QStringLiteral("TallyroNet Transaction Recorder ") + versionText();
}

frmBrowser::frmBrowser(Recorder& recorder, WebBrowser::Origin origin) : m_recorder(recorder), m_origin(origin)
{
    setObjectName(QStringLiteral("frmBrowser"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("TallyroNet Transaction Recorder"));
    setWindowIcon(pictures::appIcon());
    buildControls();
    buildMenus();
    m_recorder.windowOpened(this);
    Form_Load();
}

frmBrowser::~frmBrowser()
{
    setHourglass(false);
}

bool frmBrowser::isPopup() const
{
    return m_cPopup->isChecked();
}

void frmBrowser::buildControls()
{
    m_client = new QWidget(this);
    setCentralWidget(m_client);

    m_topPict = new QLabel(m_client);
    m_topPict->setObjectName(QStringLiteral("topPict"));
    m_topPict->setScaledContents(true);
    m_topPict->setPixmap(pictures::banner(QSize(730, 41)));
    twips::place(m_topPict, QRect(0, 0, designWidth, browserlayout::topPictHeight));

    m_Image2 = new QLabel(m_client);
    m_Image2->setObjectName(QStringLiteral("Image2"));
    m_Image2->setPixmap(pictures::logo());
    m_Image2->setToolTip(serviceHost());
    twips::place(m_Image2, QRect(0, 0, 3255, 615));

    auto makeButton = [this](const char* name, const QString& tip, const QRect& rect, const QString& symbol,
                             const QString& word) {
        auto* b = new QPushButton(m_client);
        b->setObjectName(QString::fromLatin1(name));
        b->setToolTip(tip);
        b->setFlat(true);
        twips::place(b, rect);
        // The style shows a focused button's icon in its active mode.
        QIcon icon(pictures::button(symbol, word, b->size()));
        icon.addPixmap(pictures::button(symbol, word, b->size(), true), QIcon::Active);
        b->setIcon(icon);
        b->setIconSize(b->size());
        m_pictureButtons.append(b);
        return b;
    };
    m_Label1 = makeButton("Label1", QStringLiteral("View and edit the recorded transaction steps"),
                          QRect(3600, 80, 1125, 450), QStringLiteral("\u270E"), QStringLiteral("Steps"));
    m_lblStepBack = makeButton("lblStepBack", QStringLiteral("Return to the previous page"),
                               QRect(4740, 80, 1125, 450), QStringLiteral("\u25C0"), QStringLiteral("Back"));
    m_lblSkip = makeButton("lblSkip", QStringLiteral("Don't record this step"), QRect(5880, 80, 1125, 450),
                           QStringLiteral("\u2716"), QStringLiteral("Skip"));
    m_Label2 = makeButton("Label2", QStringLiteral("Play the recorded steps"), QRect(7020, 80, 930, 450),
                          QStringLiteral("\u25B6"), QStringLiteral("Play"));
    m_Command1 = makeButton("Command1", QStringLiteral("Stop"), QRect(7020, 80, 930, 450),
                            QStringLiteral("\u25A0"), QStringLiteral("Stop"));
    m_Command1->hide();
    m_Command1->setEnabled(false);
    m_lblRestart = makeButton("lblRestart", QStringLiteral("Delete all steps and start over"),
                              QRect(7965, 80, 930, 450), QStringLiteral("\u21BA"), QStringLiteral("Reset"));
    m_LblUpload = makeButton("LblUpload", QStringLiteral("Upload the recorded transaction"),
                             QRect(8910, 80, 930, 450), QStringLiteral("\u2191"), QStringLiteral("Upload"));
    m_HelpCommand = makeButton("HelpCommand", QStringLiteral("Help"), QRect(9855, 80, 930, 450),
                               QStringLiteral("?"), QStringLiteral("Help"));
    setTabOrder(m_Label1, m_lblStepBack);
    setTabOrder(m_lblStepBack, m_lblSkip);
    setTabOrder(m_lblSkip, m_Label2);
    setTabOrder(m_Label2, m_lblRestart);
    setTabOrder(m_lblRestart, m_LblUpload);
    setTabOrder(m_LblUpload, m_HelpCommand);

    connect(m_Label1, &QPushButton::clicked, this, &frmBrowser::Label1_Click);
    connect(m_Command1, &QPushButton::clicked, this, &frmBrowser::Command1_Click);
    connect(m_HelpCommand, &QPushButton::clicked, this, &frmBrowser::HelpCommand_Click);
    connect(m_lblStepBack, &QPushButton::clicked, this, &frmBrowser::lblStepBack_Click);
    connect(m_lblSkip, &QPushButton::clicked, this, &frmBrowser::lblSkip_Click);
    connect(m_Label2, &QPushButton::clicked, this, &frmBrowser::Label2_Click);
    connect(m_lblRestart, &QPushButton::clicked, this, &frmBrowser::lblRestart_Click);
    connect(m_LblUpload, &QPushButton::clicked, this, &frmBrowser::lblUpload_Click);
    enterPressesFocusedButton(this);

    m_cPopup = new QCheckBox(QStringLiteral("Popup"), m_client);
    m_cPopup->setObjectName(QStringLiteral("cPopup"));
    twips::place(m_cPopup, QRect(3360, 120, 255, 255));
    m_cPopup->hide();

    m_picAddress = new QWidget(m_client);
    m_picAddress->setObjectName(QStringLiteral("picAddress"));
    twips::place(m_picAddress, QRect(-15, 600, 10980, browserlayout::picAddressHeight));
    m_lblAddress = new QLabel(QStringLiteral("&Address:"), m_picAddress);
    m_lblAddress->setObjectName(QStringLiteral("lblAddress"));
    twips::place(m_lblAddress, QRect(45, 30, 675, 180));
    twips::growToText(m_lblAddress);
    m_cboAddress = new QComboBox(m_picAddress);
    m_cboAddress->setObjectName(QStringLiteral("cboAddress"));
    m_cboAddress->setEditable(true);
    m_cboAddress->setInsertPolicy(QComboBox::NoInsert);
    m_cboAddress->setDuplicatesEnabled(false);
    twips::place(m_cboAddress, QRect(30, 240, 9495, 315));
    m_lblAddress->setBuddy(m_cboAddress);
    // No inline completion: Enter must request exactly the address typed, not a
    // longer one from the history that starts with it.
    m_cboAddress->setCompleter(nullptr);
    // The combo box holds the focus and hands keys to its line edit directly, so
    // both are watched.
    m_cboAddress->installEventFilter(this);
    m_cboAddress->lineEdit()->installEventFilter(this);
    connect(m_cboAddress->lineEdit(), &QLineEdit::textEdited, this, [this] { m_addressTyped = true; });
    connect(m_cboAddress, &QComboBox::activated, this, [this] { cboAddress_Click(); });
    m_chkSave = new QCheckBox(QStringLiteral("Recording"), m_picAddress);
    m_chkSave->setObjectName(QStringLiteral("chkSave"));
    m_chkSave->setChecked(true);
    twips::place(m_chkSave, QRect(9570, 225, 1335, 255));
    twips::growToText(m_chkSave);

    m_browser = new WebBrowser(m_recorder.profile(), m_recorder.session().captures(), m_origin, m_client);
    m_browser->setObjectName(QStringLiteral("brwWebBrowser"));
    twips::place(m_browser, QRect(0, browserlayout::browserTop, designWidth - 50, designHeight - 1570));
    connect(m_browser, &WebBrowser::BeforeNavigate2, this, &frmBrowser::BeforeNavigate2);
    connect(m_browser, &WebBrowser::NavigateComplete2, this, &frmBrowser::NavigateComplete2);
    connect(m_browser, &WebBrowser::DocumentComplete, this, &frmBrowser::DocumentComplete);
    connect(m_browser, &WebBrowser::NewWindow2, this, &frmBrowser::NewWindow2);
    connect(m_browser, &WebBrowser::WindowClosing, this, &frmBrowser::WindowClosing);
    connect(m_browser, &WebBrowser::RendererCrashed, this, &frmBrowser::RendererCrashed);
    connect(m_browser, &WebBrowser::FileOffered, this, &frmBrowser::FileOffered);
    connect(m_browser, &WebBrowser::ContextMenu, this, &frmBrowser::ContextMenu);
    connect(m_browser, &WebBrowser::AuthenticationRequired, this, &frmBrowser::AuthenticationRequired);
    connect(m_browser, &WebBrowser::CertificateError, this, &frmBrowser::CertificateError);

    m_StatusContainer = new QWidget(m_client);
    m_StatusContainer->setObjectName(QStringLiteral("StatusContainer"));
    m_StatusBar = new QLabel(m_StatusContainer);
    m_StatusBar->setObjectName(QStringLiteral("StatusBar"));
    m_repaints = new RepaintThrottle({m_StatusContainer, m_cboAddress}, 250, this);

    // The load poll runs as fast as a desktop window timer usually fires (every
    // 10 ms). At 1 ms it would wake the program thread a thousand times a second
    // while the engine needs that thread to load the page.
    m_timTimer.setObjectName(QStringLiteral("timTimer"));
    m_timTimer.setInterval(10);
    connect(&m_timTimer, &QTimer::timeout, this, &frmBrowser::timTimer_Timer);

    resize(twips::toPixels(designWidth, logicalDpiX()),
           twips::toPixels(designHeight, logicalDpiY()) + menuBar()->sizeHint().height());
}

void frmBrowser::buildMenus()
{
    // Captions carry a mnemonic (Alt+letter opens the menu, the letter picks the
    // entry); the & is not shown.
    auto add = [this](QMenu* menu, const char* name, const QString& caption, const QKeySequence& shortcut) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(QString::fromLatin1(name));
        if (!shortcut.isEmpty())
            a->setShortcut(shortcut);
        return a;
    };
    m_mMenu = menuBar()->addMenu(QStringLiteral("&File"));
    m_mMenu->setObjectName(QStringLiteral("mMenu"));
    connect(add(m_mMenu, "mOpen", QStringLiteral("&Open"), QKeySequence(Qt::CTRL | Qt::Key_O)),
            &QAction::triggered, this, &frmBrowser::mOpen_Click);
    connect(add(m_mMenu, "mSave", QStringLiteral("&Save as"), QKeySequence(Qt::CTRL | Qt::Key_S)),
            &QAction::triggered, this, &frmBrowser::mSave_Click);
    m_mMenu->addSeparator();
    connect(add(m_mMenu, "mOpenHar", QStringLiteral("Open &HAR..."), {}), &QAction::triggered, this,
            &frmBrowser::mOpenHar_Click);
    connect(add(m_mMenu, "mExportHar", QStringLiteral("&Export HAR..."), {}), &QAction::triggered, this,
            &frmBrowser::mExportHar_Click);
    m_mMenu->addSeparator();
    connect(add(m_mMenu, "mnuExit", QStringLiteral("E&xit"), {}), &QAction::triggered, this,
            &frmBrowser::mnuExit_Click);

    QMenu* recorder = menuBar()->addMenu(QStringLiteral("&Recorder"));
    recorder->setObjectName(QStringLiteral("mRecorder"));
    connect(add(recorder, "mEdit", QStringLiteral("&Edit steps"), QKeySequence(Qt::CTRL | Qt::Key_E)),
            &QAction::triggered, this, &frmBrowser::Label1_Click);
    QAction* back = add(recorder, "mBack", QStringLiteral("Step &Back"), QKeySequence(Qt::CTRL | Qt::Key_Z));
    QAction* skip = add(recorder, "mSkip", QStringLiteral("S&kip step"), QKeySequence(Qt::CTRL | Qt::Key_N));
    m_mPlay = add(recorder, "mPlay", QStringLiteral("&Play"), QKeySequence(Qt::CTRL | Qt::Key_P));
    m_mStop = add(recorder, "mStop", QStringLiteral("S&top"), QKeySequence(Qt::CTRL | Qt::Key_D));
    m_mStop->setVisible(false);
    m_mStop->setEnabled(false);
    QAction* reset = add(recorder, "mRestart", QStringLiteral("&Reset"), QKeySequence(Qt::CTRL | Qt::Key_W));
    QAction* upload =
        add(recorder, "mnuUpload", QStringLiteral("&Upload"), QKeySequence(Qt::CTRL | Qt::Key_U));
    recorder->insertSeparator(upload);
    QAction* check =
        add(recorder, "mCheck", QStringLiteral("&Check transaction"), QKeySequence(Qt::CTRL | Qt::Key_K));
    recorder->insertAction(upload, check);
    connect(check, &QAction::triggered, this, &frmBrowser::mCheck_Click);
    connect(back, &QAction::triggered, this, &frmBrowser::lblStepBack_Click);
    connect(skip, &QAction::triggered, this, &frmBrowser::lblSkip_Click);
    connect(m_mPlay, &QAction::triggered, this, &frmBrowser::Label2_Click);
    connect(reset, &QAction::triggered, this, &frmBrowser::lblRestart_Click);
    connect(m_mStop, &QAction::triggered, this, &frmBrowser::Command1_Click);
    connect(upload, &QAction::triggered, this, &frmBrowser::lblUpload_Click);

    QMenu* options = menuBar()->addMenu(QStringLiteral("&Options"));
    options->setObjectName(QStringLiteral("mOptions"));
    m_mAllowDuplicates = add(options, "mAllowDuplicates", QStringLiteral("&Allow duplicate URLs"), {});
    m_mAllowDuplicates->setCheckable(true);
    connect(m_mAllowDuplicates, &QAction::triggered, this, &frmBrowser::mAllowDuplicates_Click);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mHelp"));
    connect(add(help, "problem", QStringLiteral("Report a &problem"), QKeySequence(Qt::CTRL | Qt::Key_R)),
            &QAction::triggered, this, &frmBrowser::problem_Click);
    connect(add(help, "mnuUpdates", QStringLiteral("Check for &Updates"), QKeySequence(Qt::CTRL | Qt::Key_I)),
            &QAction::triggered, this, &frmBrowser::mnuUpdates_Click);
    connect(add(help, "mOhelp", QStringLiteral("Visit online &help"), QKeySequence(Qt::Key_F1)),
            &QAction::triggered, this, &frmBrowser::HelpCommand_Click);

    // A browser's keys for its history (Alt+Left, Alt+Right) and for loading the
    // page again (F5), as Back, Forward and Reload in the page's menu: the pages
    // they reach are recorded by the usual rules.
    for (const auto& [keys, action] :
         {std::pair{QKeySequence::keyBindings(QKeySequence::Back), QWebEnginePage::Back},
          std::pair{QKeySequence::keyBindings(QKeySequence::Forward), QWebEnginePage::Forward},
          std::pair{QList<QKeySequence>{QKeySequence(Qt::Key_F5)}, QWebEnginePage::Reload}}) {
        auto* history = new QAction(this);
        history->setShortcuts(keys);
        connect(history, &QAction::triggered, this,
                [this, action] { m_browser->page()->triggerAction(action); });
        addAction(history);
    }
}

void frmBrowser::Form_Load()
{
    startPage = blankPage;
    m_recorder.session().setStatusText(QStringLiteral("Done."));
    m_cboAddress->lineEdit()->setMaxLength(addressLimit);
    m_recorder.editor().hide();
    backStepPending = false;
    show();
    m_firstShownAt = pos();
    Form_Resize();
    twips::place(m_cboAddress,
                 QRect(50, twips::fromPixels(m_lblAddress->geometry().bottom() + 1, logicalDpiY()) + 15,
                       twips::width(m_cboAddress), twips::height(m_cboAddress)));
    if (!startPage.isEmpty()) {
        m_cboAddress->setEditText(startPage);
        m_cboAddress->addItem(startPage);
        m_timTimer.start();
        m_browser->Navigate(startPage);
    }
}

void frmBrowser::Form_Resize()
{
    const qreal dpiX = logicalDpiX();
    const qreal dpiY = logicalDpiY();
    const int w = twips::fromPixels(m_client->width(), dpiX);
    const int h = twips::fromPixels(m_client->height(), dpiY);

    QRect browser = m_browser->geometry();
    browser.moveTopLeft(QPoint(0, twips::toPixels(browserlayout::browserTop, dpiY)));
    const browserlayout::Resize r =
        browserlayout::resize(w, h, twips::fromPixels(m_cboAddress->x(), dpiX), twips::width(m_chkSave));
    if (r.widthsChanged) {
        twips::setWidth(m_cboAddress, r.cboAddressWidth);
        m_chkSave->move(twips::toPixels(r.chkSaveLeft, dpiX), m_chkSave->y());
        browser.setWidth(twips::toPixels(r.browserWidth, dpiX));
        twips::setWidth(m_picAddress, r.picAddressWidth);
    }
    if (r.heightChanged)
        browser.setHeight(twips::toPixels(r.browserHeight, dpiY));
    m_browser->setGeometry(browser);

    // The status strip stays docked along the bottom edge.
    // The status line is as tall as its font needs, at least its design height.
    const int lineTop = twips::toPixels(10, dpiY);
    const int lineHeight = qMax(twips::toPixels(200, dpiY), m_StatusBar->fontMetrics().height());
    const int statusHeight = qMax(twips::toPixels(browserlayout::statusHeight, dpiY), lineTop + lineHeight);
    m_StatusContainer->setGeometry(0, m_client->height() - statusHeight, m_client->width(), statusHeight);
    m_StatusBar->setGeometry(0, lineTop, m_StatusContainer->width(), lineHeight);
}

void frmBrowser::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmBrowser::timTimer_Timer()
{
    if (m_browser->Busy()) {
        setWindowTitle(QStringLiteral("Working..."));
        setHourglass(true);
        setStatus(m_fileNote.isEmpty() ? QStringLiteral("Opening page...") : m_fileNote);
        return;
    }
    m_timTimer.stop();
    setHourglass(false);
    if (!m_fileNote.isEmpty())
        setStatus(m_fileNote); // a new window's blank page completes no document
    applyCaption(m_browser->LocationURL(), m_browser->LocationName());
}

void frmBrowser::applyCaption(const QString& address, const QString& title)
{
    setWindowTitle(browserlayout::caption(address, title, productTitle()));
}

void frmBrowser::setHourglass(bool on)
{
    // One override per window at most, so the pointer always comes back.
    if (on == m_hourglass)
        return;
    m_hourglass = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

bool frmBrowser::eventFilter(QObject* watched, QEvent* event)
{
    const bool addressBox = watched == m_cboAddress || watched == m_cboAddress->lineEdit();
    if (addressBox && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            cboAddress_KeyPress(13);
            return true;
        }
    }
    // The menu's shortcuts win over the text box's own bindings (Ctrl+Z undo,
    // Ctrl+U delete line): the commands are the same in every control.
    if (addressBox && event->type() == QEvent::ShortcutOverride &&
        isMenuShortcut(QKeySequence(static_cast<QKeyEvent*>(event)->keyCombination())))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

bool frmBrowser::isMenuShortcut(const QKeySequence& keys) const
{
    for (const QAction* menu : menuBar()->actions()) {
        if (!menu->menu())
            continue;
        for (const QAction* entry : menu->menu()->actions()) {
            if (entry->isEnabled() && entry->isVisible() && !entry->shortcut().isEmpty() &&
                entry->shortcut() == keys)
                return true;
        }
    }
    return false;
}

void frmBrowser::cboAddress_KeyPress(int keyAscii)
{
    if (keyAscii == 13)
        cboAddress_Click();
}

void frmBrowser::cboAddress_Click()
{
    if (!addressUpdating)
        m_addressTyped = false;
    if (m_cboAddress->currentText() == blankPage)
        m_cboAddress->setEditText(QString());
    if (addressUpdating)
        return;
    const QString address = m_cboAddress->currentText();
    if (address.isEmpty())
        return;
    if (!WebBrowser::isAddress(address)) {
        messagebox::show(this, QMessageBox::Information, productTitle(),
                         QStringLiteral("\"%1\" is not an address the browser can open.").arg(address));
        return;
    }
    // The status line and the box repaint when the page completes (or the
    // throttle's interval ends), not now: a repaint composes the window with
    // its page, and before the request has left it holds the request back.
    m_repaints->hold();
    setStatus(QString());
    m_timTimer.start();
    m_browser->Navigate(address);
}

void frmBrowser::hidePopupControls()
{
    if (!m_cPopup->isChecked())
        return;
    for (QPushButton* b :
         {m_Label1, m_Label2, m_lblStepBack, m_lblSkip, m_Command1, m_lblRestart, m_LblUpload, m_HelpCommand})
        b->hide();
    m_mMenu->menuAction()->setVisible(false);
}

void frmBrowser::BeforeNavigate2(const QString& url, const QByteArray& postData, bool* cancel)
{
    hidePopupControls();
    m_fileNote.clear();
    m_timTimer.start();
    if (m_chkSave->isChecked())
        pendingPostData = codepage::fromAnsi(postData);
    const RecordingSession::Start start =
        m_recorder.session().navigationStarting(url, pendingPostData, m_chkSave->isChecked());
    if (start.storeFull) {
        // Shown outside the engine's callback; the navigation goes on.
        frmControlPanel& editor = m_recorder.editor();
        QTimer::singleShot(0, &editor, [&editor] { editor.showFullStoreMessage(); });
    }
    *cancel = start.cancel;
    pendingPostData.clear();
    if (m_chkSave->isChecked() && !start.cancel)
        m_recorder.editorRepaints().hold();
}

void frmBrowser::NavigateComplete2()
{
    const QString address = m_browser->LocationURL();
    const QString title = m_browser->LocationName();
    applyCaption(address, title);
    setStatus(QStringLiteral("Opening page ...") + title);
    setHourglass(true);

    // An address the user is typing meanwhile (say, while the start page still
    // loads) stays in the box; the history gets the committed address all the same.
    QLineEdit* edit = m_cboAddress->lineEdit();
    const QString typing = edit->text();
    const int cursor = edit->cursorPosition();

    // The typing limit must not cut an address the browser reached: the box
    // would then request and record the cut one.
    if (address.size() > edit->maxLength())
        edit->setMaxLength(int(address.size()));

    addressUpdating = true;
    const int found = m_cboAddress->findText(address, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // Already the first entry and shown (a frame's document, the same address
    // again): moving it to the front would change nothing but cost a repaint.
    const bool inFront = found == 0 && m_cboAddress->currentIndex() == 0 &&
                         m_cboAddress->currentText() == (address == blankPage ? QString() : address);
    if (!inFront) {
        m_repaints->aboutToChange();
        if (found >= 0)
            m_cboAddress->removeItem(found);
        m_cboAddress->insertItem(0, address);
        m_cboAddress->setCurrentIndex(0);
        cboAddress_Click();
        edit->setCursorPosition(0); // a long address shows its site, not the end of its query
    }
    addressUpdating = false;
    if (m_addressTyped) {
        m_cboAddress->setEditText(typing);
        edit->setCursorPosition(cursor);
    }
}

void frmBrowser::DocumentComplete(const QString& url)
{
    applyCaption(url, m_browser->LocationName());
    setHourglass(false);
    setStatus(m_recorder.session().statusText());
    frmControlPanel& editor = m_recorder.editor();
    // A navigation inside the document loaded no page: the steps, their labels
    // and the editor stay as they are (a script's new title would be a step behind).
    const bool recording = m_chkSave->isChecked() && !m_browser->documentKept();
    const RecordingSession::Completion done = m_recorder.session().documentCompleted(
        url, m_browser->LocationName(), recording, backStepPending, m_browser->loadSucceeded());
    if (done.step >= 0)
        editor.selectLine(done.step);
    if (done.showEditor)
        showEditor();
    if (done.label) {
        editor.showLabel(*done.label);
        editor.recordedItems_Click();
    }
    if (done.step >= 0) {
        if (const auto signIn = m_recorder.session().takeSiteSignIn(done.step))
            editor.setHttpSignIn(done.step, signIn->user, signIn->password);
    }
    Form_Resize();
    backStepPending = false;
    // A frame's document completes while the page still loads; at the page's
    // end what the status line and the box hold back is shown at once.
    if (!m_browser->Busy()) {
        m_recorder.editorRepaints().release();
        m_repaints->release();
    }
}

void frmBrowser::NewWindow2(WebBrowser** newBrowser)
{
    auto* popup = new frmBrowser(m_recorder, WebBrowser::Origin::NewWindow);
    const int offset = twips::toPixels(1200, logicalDpiX());
    popup->move(popup->m_firstShownAt + QPoint(offset, offset));
    *newBrowser = popup->brwWebBrowser();
    popup->m_opener = this;
    popup->m_cPopup->setChecked(true);
    popup->show();
}

void frmBrowser::WindowClosing(bool openedByScript, bool* cancel)
{
    if (openedByScript) {
        close();
        return;
    }
    messagebox::show(this, QMessageBox::NoIcon, QStringLiteral("Error"),
                     QStringLiteral("Error: Cannot close this window"));
    *cancel = true;
}

void frmBrowser::setStatus(const QString& text)
{
    if (m_StatusBar->text() == text)
        return;
    m_repaints->aboutToChange();
    m_StatusBar->setText(text);
}

void frmBrowser::RendererCrashed(const QString& reason)
{
    setHourglass(false);
    setStatus(QStringLiteral("The page stopped working (%1). Enter an address to go on.").arg(reason));
}

void frmBrowser::FileOffered(const QString&, const QString& fileName)
{
    if (!m_opener || m_browser->hasDocument()) {
        showFileNote(fileName);
        return;
    }
    // A new window opened for a file has nothing to show: it closes, as a
    // browser's does, and its opener tells what happened and shows the step the
    // request made.
    m_opener->showFileNote(fileName);
    if (m_chkSave->isChecked() && m_recorder.editor().store().count() > 0) {
        m_recorder.editor().selectLine(m_recorder.editor().store().count() - 1);
        m_recorder.editor().hide(); // it may stand beside this window, which goes
        m_opener->showEditor();
    }
    QTimer::singleShot(0, this, &QWidget::close); // not inside the engine's signal
}

void frmBrowser::showFileNote(const QString& fileName)
{
    m_fileNote = QStringLiteral("%1 is a file to download: the recorder saves no files.").arg(fileName);
    setHourglass(false);
    setStatus(m_fileNote);
}

void frmBrowser::CertificateError(const QString& url, const QString& description, bool* goOn)
{
    const QString text =
        QStringLiteral("The certificate of %1 is not trusted: %2\n\n"
                       "Go on only if you know why (a test server, a certificate of your own). "
                       "The monitor meets the same certificate when it checks the site.")
            .arg(QUrl(url).host(), description);
    *goOn = messagebox::ask(this, QMessageBox::Warning, QStringLiteral("Certificate not trusted"), text,
                            {QStringLiteral("Go on"), QStringLiteral("Cancel")}, 1) == 0;
}

void frmBrowser::AuthenticationRequired(const QString& url, bool proxy, const QString& host,
                                        QAuthenticator* answer)
{
    RecordingSession& session = m_recorder.session();
    RecordingSession::SignInOffer offer =
        proxy ? RecordingSession::SignInOffer{} : session.signInOffer(url, m_chkSave->isChecked());
    if (!askSiteSignIn(this, host, answer->realm(), proxy, offer.keep, offer.user, offer.password))
        return;
    answer->setUser(offer.user);
    answer->setPassword(offer.password);
    if (offer.keep)
        session.siteSignedIn({url, offer.user, offer.password});
}

void frmBrowser::closeEvent(QCloseEvent* event)
{
    if (!isPopup())
        m_recorder.closeAllBut(this);
    event->accept();
}

namespace {

std::function<bool(const QUrl&)>& pageOpener()
{
    static std::function<bool(const QUrl&)> opener = [](const QUrl& url) {
        return QDesktopServices::openUrl(url);
    };
    return opener;
}

} // namespace

void frmBrowser::setNextFileName(const QString& name)
{
    filechooser::setNextAnswer(name);
}

void frmBrowser::setPageOpener(std::function<bool(const QUrl&)> opener)
{
    pageOpener() = std::move(opener);
}

QUrl frmBrowser::helpPage()
{
    return QUrl(QStringLiteral("http://") + serviceHost() + QStringLiteral("/kb/windows_recorder.html"));
}

QUrl frmBrowser::updatesPage()
{
    return QUrl(QStringLiteral("http://") + serviceHost() + QStringLiteral("/recorderupdates.php?version=") +
                versionText());
}

frmBrowser& frmBrowser::mainWindow()
{
    frmBrowser* main = m_recorder.mainWindow();
    return main ? *main : *this;
}

void frmBrowser::Label1_Click()
{
    m_timTimer.stop();
    m_browser->Stop();
    showEditor();
}

void frmBrowser::showEditor()
{
    const QRect page(m_browser->mapToGlobal(QPoint(0, 0)), m_browser->size());
    const int addressBottom = m_picAddress->mapToGlobal(QPoint(0, m_picAddress->height())).y();
    m_recorder.editor().popUpBeside(this, page, addressBottom);
}

void frmBrowser::lblSkip_Click()
{
    frmControlPanel& editor = m_recorder.editor();
    if (editor.store().count() < 1)
        return;
    editor.selectLine(editor.store().count() - 1);
    editor.deleteItem();
}

void frmBrowser::lblStepBack_Click()
{
    backStepPending = true;
    const int target = m_recorder.session().store().count() - 1;
    if (target < 1)
        return;
    m_browser->GoBack();
    // Bounded: each Skip removes one step.
    for (int guard = 0; m_recorder.session().store().count() > target && guard < StepStore::capacity; ++guard)
        lblSkip_Click();
}

void frmBrowser::lblRestart_Click()
{
    m_chkSave->setChecked(true);
    m_recorder.editor().clearitems();
    m_browser->Navigate(startPage);
}

void frmBrowser::Label2_Click()
{
    frmBrowser& main = mainWindow();
    if (&main != this) {
        main.Label2_Click(); // a replay always runs in the main window
        return;
    }
    if (m_recorder.session().store().count() < 1) {
        messagebox::show(this, QMessageBox::Critical, QStringLiteral("Transaction Recorder"),
                         QStringLiteral("No steps were recorded - nothing to play"));
        return;
    }
    m_timTimer.start();
    setRunningControls(true);
    m_recorder.session().playback().PlayTracks();
}

void frmBrowser::mCheck_Click()
{
    if (frmCheck* open = m_recorder.checkWindow()) {
        if (open->run().isRunning()) { // one check at a time
            open->raise();
            open->activateWindow();
            return;
        }
        open->close();
    }
    frmControlPanel& editor = m_recorder.editor();
    if (editor.store().count() < 1) {
        messagebox::show(this, QMessageBox::NoIcon, QStringLiteral("No steps recorded"),
                         QStringLiteral("You haven't recorded any steps"));
        return;
    }
    editor.commitShownStep(); // what the editor shows of a step counts
    auto* check = new frmCheck(editor.store().steps());
    m_recorder.setCheckWindow(check);
    connect(check, &frmCheck::stepChosen, this, [this](int index) {
        if (index >= m_recorder.session().store().count())
            return;
        showEditor();
        m_recorder.editor().selectLine(index);
    });
    check->setNotices(onetime::stepLines(editor.store().steps()));
    connect(&check->run(), &CheckRun::finished, this, [this, check] {
        m_recorder.session().setLastCheck(check->run().steps(), check->run().results());
    });
    check->show();
    check->run().start();
}

void frmBrowser::mExportHar_Click()
{
    m_recorder.editor().commitShownStep();
    const RecordingSession& session = m_recorder.session();
    if (session.store().isEmpty()) {
        messagebox::show(this, QMessageBox::NoIcon, QStringLiteral("No steps recorded"),
                         QStringLiteral("You haven't recorded any steps"));
        return;
    }
    QString path =
        filechooser::saveName(this, QStringLiteral("Export HAR"), QStringLiteral("transaction.har"),
                              QStringLiteral("HAR files (*.har)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".har");
    // The last check's findings for the steps it checked as they are now.
    QList<HarResponse> responses;
    for (int i = 0; i < session.store().count(); ++i) {
        const stepcheck::Result* r = session.lastCheckOf(i);
        responses.append(r ? HarResponse{r->httpStatus, r->ms} : HarResponse{});
    }
    QString reason;
    if (!replaceFile(path, harBytes(session.store().steps(), responses, QDateTime::currentDateTimeUtc()),
                     FileKind::UserFile, &reason))
        messagebox::show(this, QMessageBox::Warning, applicationTitle(), fileErrorMessage(path, reason));
}

void frmBrowser::mOpenHar_Click()
{
    const QString path = filechooser::openName(this, QStringLiteral("Open HAR"), QString(),
                                               QStringLiteral("HAR files (*.har);;All files (*)"));
    if (path.isEmpty())
        return;
    // Read aside first: a file that gives no step leaves the transaction as it is.
    StepStore& store = m_recorder.session().store();
    StepStore read;
    read.setAllowDuplicates(store.allowDuplicates());
    const HarImport result = importHarFile(path, read);
    if (result.read && result.added > 0) {
        store.clearitems();
        for (const RecordedStep& step : read.steps())
            store.add(step);
        m_recorder.editor().selectLastStep();
        Label1_Click();
    }
    messagebox::show(this, result.read ? QMessageBox::NoIcon : QMessageBox::Warning,
                     QStringLiteral("Open HAR"), result.message);
}

void frmBrowser::addPageCheck(bool alertWhenFound, const QString& text)
{
    RecordingSession& session = m_recorder.session();
    const int pos = session.pageStep(m_browser->LocationURL());
    if (pos < 0) {
        messagebox::show(this, QMessageBox::NoIcon, QStringLiteral("No steps recorded"),
                         QStringLiteral("You haven't recorded any steps"));
        return;
    }
    QString message;
    frmControlPanel& editor = m_recorder.editor();
    showEditor();
    if (!editor.addCheckPhrase(
            pos, alertWhenFound ? frmControlPanel::CheckField::Errors : frmControlPanel::CheckField::Keywords,
            text, &message))
        messagebox::show(this, QMessageBox::Warning, productTitle(), message);
}

void frmBrowser::ContextMenu(QMenu* menu, const QString& selectedText)
{
    const QString text = selectedText.simplified();
    if (text.isEmpty())
        return;
    menu->addSeparator();
    QAction* notFound = menu->addAction(QStringLiteral("Alert me if this text is not found"));
    notFound->setObjectName(QStringLiteral("mAlertNotFound"));
    QAction* found = menu->addAction(QStringLiteral("Alert me if this text is found"));
    found->setObjectName(QStringLiteral("mAlertFound"));
    connect(notFound, &QAction::triggered, this, [this, text] { addPageCheck(false, text); });
    connect(found, &QAction::triggered, this, [this, text] { addPageCheck(true, text); });
}

void frmBrowser::Command1_Click()
{
    frmBrowser& main = mainWindow();
    if (&main != this) {
        main.Command1_Click();
        return;
    }
    setRunningControls(false);
    m_recorder.session().playback().stop();
    m_recorder.session().setStatusText(QStringLiteral("Done."));
    setStatus(m_recorder.session().statusText());
}

void frmBrowser::lblUpload_Click()
{
    m_recorder.editor().commitShownStep();
    if (goOnDespiteOneTimeValues(QStringLiteral("Upload")))
        m_recorder.services().lblUpload_Click();
}

bool frmBrowser::goOnDespiteOneTimeValues(const QString& title)
{
    const QString warning = onetime::warningFor(m_recorder.session().store().steps());
    return warning.isEmpty() || messagebox::ask(this, QMessageBox::Warning, title, warning,
                                                {QStringLiteral("&Go on"), QStringLiteral("Cancel")}) == 0;
}

void frmBrowser::problem_Click()
{
    m_recorder.editor().commitShownStep();
    m_recorder.services().openProblemReport();
}

void frmBrowser::HelpCommand_Click()
{
    pageOpener()(helpPage()); // a failure stays silent
}

void frmBrowser::mnuUpdates_Click()
{
    pageOpener()(updatesPage());
}

void frmBrowser::mAllowDuplicates_Click()
{
    // The menu entry has already changed its mark: undo a refused switch-off.
    const bool wasChecked = !m_mAllowDuplicates->isChecked();
    if (wasChecked && m_recorder.session().store().haveDuplicateURLs()) {
        m_mAllowDuplicates->setChecked(true);
        messagebox::show(
            this, QMessageBox::NoIcon, QStringLiteral("Warning"),
            QStringLiteral("You have already recorded duplicate URLs, please delete them first."));
        return;
    }
    m_recorder.editor().cAllowDuplicates()->setChecked(m_mAllowDuplicates->isChecked());
}

void frmBrowser::mnuExit_Click()
{
    mainWindow().close();
}

QString frmBrowser::chooseFile(const QString& title, bool save)
{
    const QString initial = QStringLiteral("*.xml");
    const QString chosen = save ? filechooser::saveName(this, title, initial, initial)
                                : filechooser::openName(this, title, initial, initial);
    return chosen.isEmpty() ? initial : chosen; // cancelled: the initial name comes back
}

void frmBrowser::mSave_Click()
{
    m_recorder.editor().commitShownStep();
    if (m_recorder.session().store().count() < 1) {
        messagebox::show(this, QMessageBox::NoIcon, QStringLiteral("No steps recorded"),
                         QStringLiteral("You haven't recorded any steps"));
        return;
    }
    if (!goOnDespiteOneTimeValues(QStringLiteral("File Save")))
        return;
    QString file = chooseFile(QStringLiteral("File Save"), true);
    if (file == u"*.xml")
        return;
    writeTransactionFile(file);
}

bool frmBrowser::writeTransactionFile(QString& sFile)
{
    if (sFile.isEmpty())
        sFile = defaultTransactionFile();
    const QByteArray bytes =
        transactionFileBytes(m_recorder.session().store().steps(), m_recorder.services().currentAccount());
    QString error;
    if (!saveTransactionFile(sFile, bytes, &error)) {
        messagebox::show(this, QMessageBox::Warning, applicationTitle(), error);
        return false;
    }
    if (sFile != defaultTransactionFile())
        messagebox::show(this, QMessageBox::NoIcon, QStringLiteral("File Save"),
                         QStringLiteral("File saved successfully"));
    return true;
}

void frmBrowser::mOpen_Click()
{
    const QString file = chooseFile(QStringLiteral("File Open"), false);
    if (file == u"*.xml")
        return;
    importTransactionFile(file);
    Label1_Click();
}

void frmBrowser::importTransactionFile(const QString& path)
{
    const TransactionImport result = ::importTransactionFile(path, m_recorder.session().store());
    frmControlPanel& editor = m_recorder.editor();
    if (result.recording)
        mainWindow().chkSave()->setChecked(true);
    editor.applyImport(result);
    for (const TransactionImport::Message& m : result.messages) {
        if (m.storeFull)
            editor.showFullStoreMessage();
        else
            messagebox::show(this, QMessageBox::NoIcon, applicationTitle(), m.text);
    }
}

void frmBrowser::navigateStep(const QString& url, const QByteArray& postData, const QString& headers)
{
    m_browser->Navigate2(url, postData, headers);
}

void frmBrowser::prepareRun()
{
    m_recorder.editor().hide();
    raise();
    activateWindow();
    m_chkSave->setChecked(false);
}

void frmBrowser::setRunningControls(bool running)
{
    m_Command1->setVisible(running);
    m_Command1->setEnabled(running);
    m_Label2->setVisible(!running && !isPopup());
    m_Label2->setEnabled(!running);
    m_mStop->setVisible(running);
    m_mStop->setEnabled(running);
    m_mPlay->setVisible(!running);
    m_mPlay->setEnabled(!running);
}

void frmBrowser::followPlayback(PlaybackEngine& playback)
{
    connect(&playback, &PlaybackEngine::runStarting, this, &frmBrowser::prepareRun);
    connect(&playback, &PlaybackEngine::stepRequested, this, &frmBrowser::navigateStep);
    connect(&playback, &PlaybackEngine::lastStepRequested, this, [this] { setRunningControls(false); });
    connect(&playback, &PlaybackEngine::busyChanged, this, &frmBrowser::setHourglass);
}
