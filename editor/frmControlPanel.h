#pragma once

#include "RecordingSession.h"
#include "TransactionImport.h"

#include <QSet>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class RecorderCommands;

// The step editor ("Control Panel"): lists the recorded steps by address and shows
// one step's monitoring settings. Edits reach a step only at a commit: every
// selection change (and the explicit callers) first writes the fields into the
// step at currentStep, then loads the newly selected step.
class frmControlPanel : public QWidget
{
    Q_OBJECT
public:
    explicit frmControlPanel(RecordingSession& session, QWidget* parent = nullptr);
    ~frmControlPanel() override;

    // The session's steps, which this window shows and edits.
    StepStore& store() { return m_session.store(); }
    const StepStore& store() const { return m_session.store(); }
    PlaybackEngine& playback() { return m_session.playback(); }
    void PlayTracks() { m_session.playback().PlayTracks(); }

    // Where the shortcut keys send the main window's commands; may stay unset.
    void setCommands(RecorderCommands* commands) { m_commands = commands; }

    // Adds a step through the store and reports a full store to the user.
    StepStore::AddResult addURL(const QString& URL, const QString& PD, const QString& sKeywords = {},
                                const QString& sErrors = {}, const QString& sCookies = {},
                                const QString& sHttpUser = {}, const QString& sHttpPass = {},
                                const QString& sTimeout = {}, const QString& sPing = {},
                                const QString& sLabel = {});

    // The store's full-store message box.
    void showFullStoreMessage();

    // Commit the fields into currentStep, then load the selected step.
    void recordedItems_Click();
    // Selects a line and runs the commit-and-load once (-1 selects nothing).
    void selectLine(int row);
    // Commits what the fields show into the selected step, as the next click on
    // the list would; with no line selected the fields belong to the next step.
    void commitShownStep();
    int selectedLine() const;
    // Deletes the selected step (Delete key, Skip step).
    void deleteItem();
    void clearitems() { m_session.store().clearitems(); }
    // Save & Close.
    void Command3_Click();
    // Shows the window and brings it to the front; a hidden window first moves
    // beside the browser window (page and addressBottom in global pixels), so the
    // page stays in view. A window already showing stays where the user has it.
    void popUpBeside(const QWidget* browserWindow, const QRect& page, int addressBottom);
    // Runs the command bound to a typed character; true when one ran.
    bool dispatchShortcut(int charCode);

    // Adds a phrase to a keyword field of the step at pos and shows that step:
    // the field the service alerts on when a phrase is missing (keywords) or
    // present (errors). The user's edits of the step shown before are kept.
    // False, with the field unchanged and the reason in *message, when the field
    // would grow beyond its limit.
    enum class CheckField
    {
        Keywords,
        Errors
    };
    bool addCheckPhrase(int pos, CheckField field, const QString& phrase, QString* message);

    // Gives the step at pos the HTTP user name and password a site's sign-in was
    // answered with, and shows that step (cut to the fields' limits).
    void setHttpSignIn(int pos, const QString& user, const QString& password);

    // Mirrors the main window's "Allow duplicate URLs" option.
    QCheckBox* cAllowDuplicates() const { return m_cAllowDuplicates; }

    QLineEdit* txtLabel() const { return m_txtLabel; }
    // Shows a label the program sets (a page's title) as every field it fills:
    // whole, from its beginning.
    void showLabel(const QString& label);
    void setFieldsFrom(const RecordedStep& step, const QString& rawPing);
    // Shows the last step's own values, then selects it: the commit that selecting
    // makes keeps them (after steps were put into the store whole).
    void selectLastStep();
    // Shows what an import left in the store: its last step's values, then the
    // selection it chose, committed.
    void applyImport(const TransactionImport& result);

    // While set, a close request closes for real instead of hiding (program end).
    void setProgramEnding(bool ending) { m_programEnding = ending; }

    // Character code a key press types for the shortcut table (0: none).
    static int charCodeOf(int key, Qt::KeyboardModifiers modifiers, const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    QFrame* addFieldFrame(const QString& caption, QWidget* field, const QRect& frameTwips, int fieldHeight);
    void commitFields();
    void loadStep(int pos);
    void emptyFields();
    void showOneTimeNote(const RecordedStep& step);
    void copySelectedUrl();
    void showSelectedUrl();
    void hideIfFocusLeft();
    void onStepAdded(int pos);
    void onStepRemoved(int pos);
    void onCleared();
    void onSelectionRequested(int pos);

    RecordingSession& m_session;
    RecorderCommands* m_commands = nullptr;
    bool m_listSync = false; // list maintenance, not a user selection
    bool m_programEnding = false;
    int m_rowAtPress = -1; // the list's row when the mouse went down on it

    QFrame* m_listFrame = nullptr;
    QListWidget* m_recordedItems = nullptr;
    QLineEdit* m_txtLabel = nullptr;
    QLineEdit* m_txtHTTPUser = nullptr;
    QLineEdit* m_txtHTTPpass = nullptr;
    QLineEdit* m_txtKeywords = nullptr;
    QLineEdit* m_txtErrors = nullptr;
    QLineEdit* m_txtCookies = nullptr;
    QFrame* m_postDataFrame = nullptr;
    QPlainTextEdit* m_txtPostData = nullptr;
    QLabel* m_lblOneTime = nullptr;
    int m_postDataHeight = 0; // without the note
    QComboBox* m_cmbPing = nullptr;
    QLineEdit* m_txtTimeout = nullptr;
    QPushButton* m_Command3 = nullptr;
    QCheckBox* m_cAllowDuplicates = nullptr;
    QSet<QObject*> m_forwarding; // controls whose typed characters reach dispatchShortcut
};
