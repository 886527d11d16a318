#pragma once

#include "RecordedStep.h"
#include "StepStore.h"

#include <QString>

// What the import needs of the program: implemented by the main window over the
// step editor.
class ImportTarget
{
public:
    virtual ~ImportTarget() = default;
    virtual void checkRecording() = 0; // tick the main window's Recording box
    virtual void clearitems() = 0;     // empty the store and the editor fields
    // Adds through the store's rules; reportFullStore: show the store's limit
    // message box on StoreFull.
    virtual StepStore::AddResult addURL(const RecordedStep& step, bool reportFullStore) = 0;
    virtual void setEditorFields(const RecordedStep& values, const QString& rawPing) = 0;
    virtual int listCount() const = 0; // entries in the step list
    // Sets the selected index (-1: none); runs the commit-and-load when it changes.
    virtual void selectLine(int row) = 0;
    virtual void recordedItems_Click() = 0;            // the editor's commit-and-load
    virtual void showMessage(const QString& text) = 0; // OK-only box, no icon, the application's title
};

// Replaces the recorded steps with those of the transaction file at path.
//
// The steps are the elements at /data/transaction/step; inside each, the values
// are taken by child position (comments and white-space-only text do not count):
// 1 url, 3 keywords, 4 errors, 5 timeout, 6 ping, 7 postdata, 8 cookies,
// 9 httpuser, 10 httppass, 11 label, each percent-decoded. Every element goes
// through the store's addURL, so its rules (scheme, limit, duplicates) apply.
// Afterwards the editor shows the last element's values, the entry before the
// last is selected (or the last one, after the message that some steps were not
// imported), and the editor commits. Every outcome is reported through
// target.showMessage. Input of any size or shape ends in one of the messages.
void importTransactionFile(const QString& path, ImportTarget& target);
