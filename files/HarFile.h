#pragma once

#include "RecordedStep.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

class QIODevice;
class StepStore;

// HAR 1.2 files (the HTTP archive browsers' developer tools save and open).
//
// The export holds one page and one entry per step with the request as the
// replay sends it, and the step's monitoring settings in an "_tallyro" object
// of the entry. A body whose bytes are not UTF-8 is carried exactly in
// "_tallyro.postDataBytes" (one character U+0000..U+00FF per byte), since
// postData.text can only hold text. The import reads such a file back to the
// same steps, and takes the page loads (not images, scripts, XHR...) of a HAR
// saved by a browser.

// What a check of a step found; the export's response fields. Unknown values
// are written as HAR has them for "not known".
struct HarResponse
{
    int status = 0; // HTTP status; 0 when not known
    qint64 ms = -1; // load time in milliseconds; -1 when not loaded
};

// The HAR file for the steps. responses[i] belongs to steps[i]; missing ones
// are unknown. started is the first request's time.
QByteArray harBytes(const QList<RecordedStep>& steps, const QList<HarResponse>& responses,
                    const QDateTime& started);

// Larger files are refused before they are read.
inline constexpr qint64 harMaxFileSize = 100 * 1024 * 1024;

// What an import did. Entries that were not added are counted by reason.
struct HarImport
{
    bool read = false; // the file was read as a HAR log; false leaves the store unchanged
    int entries = 0;   // requests in the log
    int added = 0;
    int notPageLoads = 0;    // images, scripts, styles, XHR and other non-document requests
    int redirects = 0;       // page loads a server redirect made: the step before them reproduces them
    int notWebAddresses = 0; // page loads of other than http(s) or ftp addresses
    int unreadable = 0;      // entries of the wrong shape
    int encodedBodies = 0;   // page loads with binary, base64 or multipart post data
    int duplicates = 0;
    int storeFull = 0;
    QString message; // for the user: what was added and what was skipped and why
};

// Adds the page loads of a HAR file to the store through its addURL, so the
// store's rules hold.
HarImport importHar(const QByteArray& bytes, StepStore& store);
// Reads at most harMaxFileSize bytes from the device (an open, readable one).
HarImport importHar(QIODevice& device, StepStore& store);
HarImport importHarFile(const QString& path, StepStore& store);
