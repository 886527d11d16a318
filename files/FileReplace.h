#pragma once

#include <QByteArray>
#include <QString>

// The one way the program writes a file: whole or not at all. The new bytes go
// into a temporary file beside the old one, are flushed and checked, then the
// temporary file takes the old one's place by a rename. On any failure (full
// disk, quota, read-only mount, a folder that vanished) the old file stays as it
// was and the reason comes back, for fileErrorMessage.

enum class FileKind
{
    // A file the user chose: a new one is readable by its owner only (it may hold
    // the account key), an existing one keeps its permissions, and a symbolic link
    // is written through to the file it names.
    UserFile,
    // A file of the program's own holding the account key or passwords: it ends
    // readable and writable by its owner only after every write, whatever it was
    // before, and a symbolic link in its place is replaced by the file, never
    // written through.
    KeyHolder,
    // The program's recovery copy: a key holder that is not synced to disk (it
    // guards against the program dying, not the machine, and is written often).
    RecoveryCopy,
};

bool replaceFile(const QString& path, const QByteArray& bytes, FileKind kind, QString* reason);

// Reads a key holder whole; a missing one is created empty, readable by its
// owner only. A dangling symbolic link in its place is refused rather than
// followed, which would create the file elsewhere. False with the reason when
// it cannot be read or created.
bool readOrCreateFile(const QString& path, QByteArray* bytes, QString* reason);

// A sentence for a message box telling that a file could not be used.
QString fileErrorMessage(const QString& path, const QString& reason);
