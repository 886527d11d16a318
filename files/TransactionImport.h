#pragma once

#include "RecordedStep.h"
#include "StepStore.h"

#include <QList>
#include <QString>

#include <optional>

// What importing a transaction file came to, for the caller to show: the store
// is already replaced; the step editor is to show editorValues (when set), then
// select line selectLine (when set) and commit; then the messages go up, in order.
struct TransactionImport
{
    struct Message
    {
        bool storeFull = false; // the store's limit message (its own title), else an OK-only box
        QString text;
    };
    bool recording = false; // the main window's Recording box is to be ticked
    std::optional<RecordedStep> editorValues;
    QString editorRawPing;         // the ping as the file wrote it
    std::optional<int> selectLine; // -1 selects nothing
    QList<Message> messages;
};

// Replaces the steps of store with those of the transaction file at path.
//
// The steps are the elements at /data/transaction/step; inside each, the values
// are taken by child position (comments and white-space-only text do not count):
// 1 url, 3 keywords, 4 errors, 5 timeout, 6 ping, 7 postdata, 8 cookies,
// 9 httpuser, 10 httppass, 11 label, each percent-decoded. Every element goes
// through the store's add, so its rules (scheme, limit, duplicates) apply.
// Afterwards the editor is to show the last element's values and select the
// entry before the last (or the last one, after the message that some steps
// were not imported). Input of any size or shape ends in one of the messages.
TransactionImport importTransactionFile(const QString& path, StepStore& store);
