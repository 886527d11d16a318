#pragma once

#include "RecordedStep.h"

#include <QList>
#include <QString>

#include <optional>

// A copy of the transaction being recorded, kept in the program's folder while
// the program runs so that a run that ends abnormally (the browser engine can
// crash inside the process) loses no steps. It holds every field exactly; it is
// not the transaction file the service reads.

// recovery.dat in the program's folder.
QString recoveryFile();

// Replaces the copy as a whole, readable by its owner only (it may hold HTTP
// passwords). False with a reason in *error when it cannot be written.
bool saveRecovery(const QString& path, const QList<RecordedStep>& steps, QString* error);

// The steps of a copy; nothing when there is no readable copy.
std::optional<QList<RecordedStep>> loadRecovery(const QString& path);
