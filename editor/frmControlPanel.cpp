#include "frmControlPanel.h"

#include "EditorPlacement.h"
#include "MessageBox.h"
#include "OneTime.h"
#include "RecorderCommands.h"
#include "StepCheck.h"
#include "Twips.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>

#include <limits>

namespace {

// Design client area of the window, in twips.
constexpr int designWidth = 6345;
constexpr int designHeight = 9495;
constexpr int fieldRowHeight = 660;

constexpr int keywordLimit = 250;
constexpr int noLimit = std::numeric_limits<int>::max();

// Sets a text box's text without losing characters beyond its typing limit: the
// limit is for typing, a stored value longer than it stays whole. A box that
// already shows the text is left alone: laying out a long text again is the
// costly part of showing a step. A text longer than the box shows its
// beginning, as a page title does, not its end.
void setLimitedText(QLineEdit* edit, int limit, const QString& text)
{
    if (edit->text() == text)
        return;
    edit->setMaxLength(std::max(limit, static_cast<int>(text.size())));
    edit->setText(text);
    edit->setCursorPosition(0);
}

// The list of recorded addresses lays out every row again whenever a row is
// added or selected, and measuring a long address is what that costs: each
// address is measured once, until the font or the style changes.
class AddressSizes : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QStyle* style = option.widget ? option.widget->style() : nullptr;
        // A bound on what is kept: a long session measures many addresses.
        if (option.font != m_font || option.features != m_features ||
            option.decorationSize != m_decorationSize || style != m_style || m_sizes.size() > 1000) {
            m_sizes.clear();
            m_font = option.font;
            m_features = option.features;
            m_decorationSize = option.decorationSize;
            m_style = style;
        }
        const QString text = index.data(Qt::DisplayRole).toString();
        auto it = m_sizes.constFind(text);
        if (it == m_sizes.cend())
            it = m_sizes.insert(text, QStyledItemDelegate::sizeHint(option, index));
        return *it;
    }

private:
    // What the sizes were measured with.
    mutable QFont m_font;
    mutable QStyleOptionViewItem::ViewItemFeatures m_features;
    mutable QSize m_decorationSize;
    mutable const QStyle* m_style = nullptr;
    mutable QHash<QString, QSize> m_sizes;
};

} // namespace

frmControlPanel::frmControlPanel(RecordingSession& session, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session)
{
    setObjectName(QStringLiteral("frmControlPanel"));
    setWindowTitle(QStringLiteral("Control Panel"));
    buildControls();

    connect(&m_session.store(), &StepStore::stepAdded, this, &frmControlPanel::onStepAdded);
    connect(&m_session.store(), &StepStore::stepRemoved, this, &frmControlPanel::onStepRemoved);
    connect(&m_session.store(), &StepStore::cleared, this, &frmControlPanel::onCleared);
    connect(&m_session.store(), &StepStore::selectionRequested, this, &frmControlPanel::onSelectionRequested);
    connect(m_cAllowDuplicates, &QCheckBox::toggled, &m_session.store(), &StepStore::setAllowDuplicates);

    // Window load state.
    m_session.store().setCurrentStep(0);
    m_cmbPing->setCurrentIndex(0);
}

frmControlPanel::~frmControlPanel() = default;

QFrame* frmControlPanel::addFieldFrame(const QString& caption, QWidget* field, const QRect& frameTwips,
                                       int fieldHeight)
{
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setFrameShadow(QFrame::Sunken);
    twips::place(frame, frameTwips);
    auto* label = new QLabel(caption, frame);
    twips::place(label, QRect(120, 30, frameTwips.width() - 240, 225));
    twips::growToText(label);
    field->setParent(frame);
    twips::place(field, QRect(120, 255, frameTwips.width() - 240, fieldHeight));
    // The field sits below its caption, however tall the font makes it.
    if (field->y() <= label->geometry().bottom())
        field->move(field->x(), label->geometry().bottom() + 1);
    return frame;
}

void frmControlPanel::buildControls()
{
    resize(twips::toPixels(designWidth, logicalDpiX()), twips::toPixels(designHeight, logicalDpiY()));

    m_recordedItems = new QListWidget;
    m_recordedItems->setObjectName(QStringLiteral("recordedItems"));
    m_recordedItems->setToolTip(QStringLiteral("Double-click to view the complete URL for this step"));
    m_recordedItems->setSelectionMode(QAbstractItemView::SingleSelection);
    m_recordedItems->setItemDelegate(new AddressSizes(m_recordedItems));
    m_listFrame =
        addFieldFrame(QStringLiteral("Recorded URLs"), m_recordedItems, QRect(120, 60, 5655, 2535), 2160);

    auto* heading = new QLabel(QStringLiteral("Step Details"), this);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    headingFont.setUnderline(true);
    heading->setFont(headingFont);
    twips::place(heading, QRect(120, 2760, 1800, 285));
    twips::growToText(heading);

    auto makeEdit = [](const char* name, int limit) {
        auto* edit = new QLineEdit;
        edit->setObjectName(QString::fromLatin1(name));
        edit->setMaxLength(limit);
        return edit;
    };
    m_txtLabel = makeEdit("txtLabel", 50);
    addFieldFrame(QStringLiteral("Label"), m_txtLabel, QRect(2040, 2640, 3735, fieldRowHeight), 315);
    m_txtHTTPUser = makeEdit("txtHTTPUser", 50);
    addFieldFrame(QStringLiteral("Username"), m_txtHTTPUser, QRect(120, 3360, 2790, fieldRowHeight), 315);
    m_txtHTTPpass = makeEdit("txtHTTPpass", 50);
    m_txtHTTPpass->setEchoMode(QLineEdit::Password);
    addFieldFrame(QStringLiteral("Password"), m_txtHTTPpass, QRect(2985, 3360, 2790, fieldRowHeight), 315);
    m_txtKeywords = makeEdit("txtKeywords", keywordLimit);
    addFieldFrame(QStringLiteral("Alert me if the following keywords are not found"), m_txtKeywords,
                  QRect(120, 4080, 5655, fieldRowHeight), 315);
    m_txtErrors = makeEdit("txtErrors", keywordLimit);
    addFieldFrame(QStringLiteral("Alert me if the following keywords are found"), m_txtErrors,
                  QRect(120, 4800, 5655, fieldRowHeight), 315);
    m_txtCookies = makeEdit("txtCookies", noLimit);
    addFieldFrame(QStringLiteral("Cookies"), m_txtCookies, QRect(120, 5520, 5655, fieldRowHeight), 315);

    m_txtPostData = new QPlainTextEdit;
    m_txtPostData->setObjectName(QStringLiteral("txtPostData"));
    m_txtPostData->setReadOnly(true);
    m_txtPostData->setEnabled(false);
    m_postDataFrame =
        addFieldFrame(QStringLiteral("PostData"), m_txtPostData, QRect(120, 6240, 5655, 1980), 1605);
    // Under the post data, while the step holds one-time values.
    m_lblOneTime = new QLabel(m_postDataFrame);
    m_lblOneTime->setObjectName(QStringLiteral("lblOneTime"));
    m_lblOneTime->setStyleSheet(QStringLiteral("color: #a01010"));
    m_lblOneTime->setToolTip(QStringLiteral("The site gave these values for one use. The service sends the "
                                            "step's post data as recorded, and the site may refuse them."));
    twips::place(m_lblOneTime, QRect(120, 1620, 5415, 285));
    m_lblOneTime->hide();
    m_postDataHeight = m_txtPostData->height();

    m_cmbPing = new QComboBox;
    m_cmbPing->setObjectName(QStringLiteral("cmbPing"));
    m_cmbPing->addItems({QStringLiteral("N"), QStringLiteral("Y")});
    addFieldFrame(QStringLiteral("Ping"), m_cmbPing, QRect(120, 8340, 1065, fieldRowHeight), 315);
    m_txtTimeout = makeEdit("txtTimeout", noLimit);
    m_txtTimeout->setText(QStringLiteral("30"));
    addFieldFrame(QStringLiteral("Timeout"), m_txtTimeout, QRect(1260, 8340, 1065, fieldRowHeight), 315);

    auto* hint = new QLabel(QStringLiteral("(To remove a track - use DEL key)"), this);
    hint->setWordWrap(true);
    twips::place(hint, QRect(2400, 8460, 2040, 480));
    twips::growToText(hint);

    m_Command3 = new QPushButton(QStringLiteral("Save && Close"), this);
    m_Command3->setObjectName(QStringLiteral("Command3"));
    twips::place(m_Command3, QRect(4560, 8520, 1215, 435));
    twips::growToText(m_Command3);
    connect(m_Command3, &QPushButton::clicked, this, &frmControlPanel::Command3_Click);

    m_cAllowDuplicates = new QCheckBox(this);
    m_cAllowDuplicates->setObjectName(QStringLiteral("cAllowDuplicates"));
    m_cAllowDuplicates->hide();

    QWidget* tabOrder[] = {m_txtLabel,   m_txtHTTPUser, m_txtHTTPpass,  m_txtKeywords,
                           m_txtErrors,  m_txtCookies,  m_txtPostData,  m_cmbPing,
                           m_txtTimeout, m_Command3,    m_recordedItems};
    for (size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);

    // The ping list has no key handling of its own; it forwards like the text
    // boxes, so that each key still reaches the shortcut table once.
    const QList<QWidget*> forwarding{m_txtKeywords, m_txtErrors,   m_txtCookies, m_txtTimeout,   m_txtLabel,
                                     m_txtHTTPUser, m_txtHTTPpass, m_cmbPing,    m_recordedItems};
    for (QWidget* control : forwarding) {
        m_forwarding.insert(control);
        control->installEventFilter(this);
    }

    connect(m_recordedItems, &QListWidget::currentRowChanged, this, [this] {
        if (!m_listSync)
            recordedItems_Click();
    });
    // A click on the row already highlighted changes no row, yet commits too.
    m_recordedItems->viewport()->installEventFilter(this);
    connect(m_recordedItems, &QListWidget::clicked, this, [this](const QModelIndex& index) {
        if (index.row() == m_rowAtPress)
            recordedItems_Click();
    });
    connect(m_recordedItems, &QListWidget::itemDoubleClicked, this, &frmControlPanel::showSelectedUrl);
}

StepStore::AddResult frmControlPanel::addURL(const QString& URL, const QString& PD, const QString& sKeywords,
                                             const QString& sErrors, const QString& sCookies,
                                             const QString& sHttpUser, const QString& sHttpPass,
                                             const QString& sTimeout, const QString& sPing,
                                             const QString& sLabel)
{
    const auto result = m_session.store().addURL(URL, PD, sKeywords, sErrors, sCookies, sHttpUser, sHttpPass,
                                                 sTimeout, sPing, sLabel);
    if (result == StepStore::AddResult::StoreFull)
        showFullStoreMessage();
    return result;
}

void frmControlPanel::showFullStoreMessage()
{
    messagebox::show(this, QMessageBox::Critical, StepStore::fullStoreTitle(), StepStore::fullStoreMessage());
}

void frmControlPanel::showLabel(const QString& label)
{
    setLimitedText(m_txtLabel, 50, label);
}

int frmControlPanel::selectedLine() const
{
    return m_recordedItems->currentRow();
}

void frmControlPanel::recordedItems_Click()
{
    const int newIndex = m_recordedItems->currentRow();
    if (!m_session.store().commitLock())
        commitFields();
    if (newIndex >= 0)
        loadStep(newIndex);
}

void frmControlPanel::selectLine(int row)
{
    m_listSync = true;
    if (row < 0)
        m_recordedItems->setCurrentRow(-1);
    else
        m_recordedItems->setCurrentRow(row);
    m_listSync = false;
    recordedItems_Click();
}

void frmControlPanel::commitShownStep()
{
    if (selectedLine() >= 0)
        selectLine(selectedLine());
}

void frmControlPanel::selectLastStep()
{
    const StepStore& store = m_session.store();
    if (store.count() == 0)
        return;
    const RecordedStep& last = store.at(store.count() - 1);
    setFieldsFrom(last, last.ping);
    selectLine(store.count() - 1);
}

bool frmControlPanel::addCheckPhrase(int pos, CheckField field, const QString& phrase, QString* message)
{
    if (pos < 0 || pos >= m_session.store().count())
        return false;
    selectLine(pos); // commits the step shown so far, then shows this one
    QLineEdit* edit = field == CheckField::Keywords ? m_txtKeywords : m_txtErrors;
    const QString text = stepcheck::withPhrase(edit->text(), phrase);
    if (text.size() > keywordLimit) {
        *message = QStringLiteral("The field would hold %1 characters, more than its limit of %2. "
                                  "Select a shorter text, or shorten the field first.")
                       .arg(text.size())
                       .arg(keywordLimit);
        return false;
    }
    setLimitedText(edit, keywordLimit, text);
    edit->end(false); // the phrase just added is the one to see
    commitFields();
    return true;
}

void frmControlPanel::setHttpSignIn(int pos, const QString& user, const QString& password)
{
    if (pos < 0 || pos >= m_session.store().count())
        return;
    selectLine(pos);
    m_txtHTTPUser->setText(user);
    m_txtHTTPpass->setText(password);
    commitFields();
}

void frmControlPanel::commitFields()
{
    StepSettings s;
    s.keywords = m_txtKeywords->text();
    s.errors = m_txtErrors->text();
    s.cookies = m_txtCookies->text();
    s.timeout = m_txtTimeout->text();
    s.ping = m_cmbPing->currentText();
    s.httpuser = m_txtHTTPUser->text();
    s.httppass = m_txtHTTPpass->text();
    s.label = m_txtLabel->text();
    m_session.store().setSettings(m_session.store().currentStep(), s);
}

void frmControlPanel::showOneTimeNote(const RecordedStep& step)
{
    const QString names = onetime::noteFor(step);
    const QString text = names.isEmpty() ? QString()
                         : step.oneTime
                             ? QStringLiteral("One-time values: %1").arg(names)
                             : QStringLiteral("One-time values (by name and shape): %1").arg(names);
    if (m_lblOneTime->text() == text)
        return;
    m_lblOneTime->setText(text);
    m_lblOneTime->setVisible(!text.isEmpty());
    // The post data gives the note its last line.
    const int height = text.isEmpty() ? m_postDataHeight : m_lblOneTime->y() - m_txtPostData->y();
    m_txtPostData->resize(m_txtPostData->width(), std::max(height, 20));
}

void frmControlPanel::loadStep(int pos)
{
    if (pos >= m_session.store().count())
        return;
    setFieldsFrom(m_session.store().at(pos), m_session.store().at(pos).ping);
    m_session.store().setCurrentStep(pos);
}

void frmControlPanel::applyImport(const TransactionImport& result)
{
    if (result.editorValues)
        setFieldsFrom(*result.editorValues, result.editorRawPing);
    if (result.selectLine) {
        selectLine(*result.selectLine);
        recordedItems_Click();
    }
}

void frmControlPanel::setFieldsFrom(const RecordedStep& step, const QString& rawPing)
{
    setLimitedText(m_txtLabel, 50, step.label);
    setLimitedText(m_txtHTTPUser, 50, step.httpuser);
    setLimitedText(m_txtHTTPpass, 50, step.httppass);
    if (m_txtPostData->toPlainText() != step.postdata)
        m_txtPostData->setPlainText(step.postdata);
    showOneTimeNote(step);
    setLimitedText(m_txtKeywords, keywordLimit, step.keywords);
    setLimitedText(m_txtErrors, keywordLimit, step.errors);
    setLimitedText(m_txtCookies, noLimit, step.cookies);
    setLimitedText(m_txtTimeout, noLimit, step.timeoutOrDefault());
    m_cmbPing->setCurrentIndex(rawPing == QLatin1String("Y") ? 1 : 0);
}

void frmControlPanel::emptyFields()
{
    for (QLineEdit* edit :
         {m_txtKeywords, m_txtErrors, m_txtCookies, m_txtTimeout, m_txtHTTPUser, m_txtHTTPpass, m_txtLabel})
        edit->clear();
    m_txtPostData->clear();
    showOneTimeNote({});
    m_cmbPing->setCurrentIndex(0);
}

void frmControlPanel::deleteItem()
{
    const int p = m_recordedItems->currentRow();
    if (p < 0 && m_session.store().count() >= 2)
        return; // nothing selected: nothing to delete
    m_session.store().deleteItem(p);
}

void frmControlPanel::onStepAdded(int pos)
{
    m_listSync = true;
    m_recordedItems->insertItem(pos, m_session.store().at(pos).url);
    m_listSync = false;
}

void frmControlPanel::onStepRemoved(int pos)
{
    m_listSync = true;
    delete m_recordedItems->takeItem(pos);
    m_listSync = false;
}

void frmControlPanel::onCleared()
{
    emptyFields();
    m_listSync = true;
    m_recordedItems->clear();
    m_listSync = false;
}

void frmControlPanel::onSelectionRequested(int pos)
{
    selectLine(pos);
}

void frmControlPanel::Command3_Click()
{
    recordedItems_Click();
    hide();
}

void frmControlPanel::popUpBeside(const QWidget* browserWindow, const QRect& page, int addressBottom)
{
    if (!isVisible()) {
        const QRect browserFrame = browserWindow->frameGeometry();
        const QScreen* screen = browserWindow->screen();
        const QRect available = screen ? screen->availableGeometry() : browserFrame;
        // Before the first show the frame is not known yet: the client size stands for it.
        const QSize frame = frameGeometry().size().expandedTo(size());
        move(editorPosition(browserFrame, page, addressBottom, frame, available));
    }
    show();
    raise();
}

bool frmControlPanel::dispatchShortcut(int charCode)
{
    switch (charCode) {
    case 13:
    case 27:
        Command3_Click();
        return true;
    default:
        break;
    }
    if (!m_commands)
        return false;
    switch (charCode) {
    case 26:
        m_commands->lblStepBack_Click();
        return true;
    case 14:
        m_commands->lblSkip_Click();
        return true;
    case 16:
        m_commands->Label2_Click();
        return true;
    case 23:
        m_commands->lblRestart_Click();
        return true;
    case 11:
        m_commands->mCheck_Click();
        return true;
    case 21:
        m_commands->lblUpload_Click();
        return true;
    default:
        return false;
    }
}

int frmControlPanel::charCodeOf(int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        return 13;
    if (key == Qt::Key_Escape)
        return 27;
    if (key == Qt::Key_Backtab)
        return 0; // types nothing (some keyboards send a vertical tab, Ctrl+K's code)
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier) && !modifiers.testFlag(Qt::AltModifier) &&
                      !modifiers.testFlag(Qt::MetaModifier);
    if (ctrl && key >= Qt::Key_A && key <= Qt::Key_Z)
        return key - Qt::Key_A + 1;
    if (ctrl || text.isEmpty())
        return 0;
    return text.at(0).unicode();
}

void frmControlPanel::copySelectedUrl()
{
    const QListWidgetItem* item = m_recordedItems->currentItem();
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setText(item ? item->text() : QString());
}

void frmControlPanel::showSelectedUrl()
{
    recordedItems_Click();
    const QListWidgetItem* item = m_recordedItems->currentItem();
    const QString url = item ? item->text() : QString();
    messagebox::show(this, QMessageBox::NoIcon, QStringLiteral("Recorded URL"), url);
    copySelectedUrl();
}

bool frmControlPanel::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_recordedItems->viewport() && event->type() == QEvent::MouseButtonPress)
        m_rowAtPress = m_recordedItems->currentRow();
    if (event->type() != QEvent::KeyPress || !m_forwarding.contains(watched))
        return QWidget::eventFilter(watched, event);

    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (watched == m_recordedItems) {
        if (key->key() == Qt::Key_Delete && mods == Qt::NoModifier) {
            deleteItem();
            return true;
        }
        if (key->key() == Qt::Key_C && mods == Qt::ControlModifier) {
            copySelectedUrl();
            return true;
        }
    }
    const int code = charCodeOf(key->key(), key->modifiers(), key->text());
    // A key that runs a command is consumed, so the control does not also act on
    // it (Ctrl+U would delete the line, Ctrl+Z undo); any other key is the control's.
    return dispatchShortcut(code);
}

void frmControlPanel::keyPressEvent(QKeyEvent* event)
{
    // Keys of controls that do not forward (the button) and of the window itself;
    // a forwarding control's command keys were consumed where they arrived.
    const int code = charCodeOf(event->key(), event->modifiers(), event->text());
    if (dispatchShortcut(code))
        return;
    QWidget::keyPressEvent(event);
}

void frmControlPanel::closeEvent(QCloseEvent* event)
{
    if (m_programEnding) {
        event->accept();
        return;
    }
    // Closing by the user only hides the window: its steps and fields stay.
    event->ignore();
    hide();
}

void frmControlPanel::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        QTimer::singleShot(0, this, &frmControlPanel::hideIfFocusLeft);
}

void frmControlPanel::hideIfFocusLeft()
{
    if (!isVisible() || isActiveWindow())
        return;
    // Only a window none of whose controls holds the focus loses it as a whole;
    // with a field in use the editor stays beside the page being recorded.
    if (focusWidget())
        return;
    // A message box or dialog of this window keeps it.
    for (QWidget* w = QApplication::activeWindow(); w; w = w->parentWidget()) {
        if (w == this)
            return;
    }
    if (QApplication::activeModalWidget())
        return;
    hide();
}

void frmControlPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const EditorWidths w = editorWidthsForWindow(twips::fromPixels(frameGeometry().width(), logicalDpiX()));
    twips::setWidth(m_listFrame, w.listFrame);
    twips::setWidth(m_recordedItems, w.list);
    twips::setWidth(m_postDataFrame, w.postDataFrame);
    twips::setWidth(m_txtPostData, w.postData);
}
