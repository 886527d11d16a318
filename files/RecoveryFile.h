#pragma once

#include "RecordedStep.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A copy of the transaction being recorded, kept in the program's folder while
// the program runs so that a run that ends abnormally (the browser engine can
// crash inside the process) loses no steps. It holds every field exactly; it is
// not the transaction file the service reads.

// recovery.dat in the program's folder.
QString recoveryFile();

// The copy's bytes for the steps.
QByteArray recoveryBytes(const QList<RecordedStep>& steps);

// Replaces the copy as a whole, readable by its owner only (it may hold HTTP
// passwords). False with a reason in *error when it cannot be written.
bool saveRecovery(const QString& path, const QList<RecordedStep>& steps, QString* error);

// What a copy gave back. A damaged copy (cut short, flipped bits, a bad header
// or count) still gives every step before the damage.
struct RecoveryRead
{
    QList<RecordedStep> steps;
    bool damaged = false;
};

// The copy's content from its bytes.
RecoveryRead readRecovery(const QByteArray& bytes);

// The copy at path; nothing when there is no copy to read.
std::optional<RecoveryRead> loadRecovery(const QString& path);

// Moves a damaged copy aside (recovery.dat.damaged-<time>, its owner's alone)
// instead of deleting it; the new name, or empty when it could not be moved.
QString keepDamagedCopy(const QString& path);
