#pragma once

#include <QString>

// The folder that holds the program's own files (recorder.ini, recorder.xml):
// the application's writable data location, created when missing. Returned
// without a trailing slash. When it cannot be created the path is still
// returned; opening a file in it then fails and reports the reason.
QString programFolder();

// A file in the program's folder.
QString programFile(const QString& name);
