#pragma once

#include <QString>

// The monitoring service's host, optionally with ":port": the build's default,
// or the TALLYRO_SERVICE_HOST environment variable when it is set and not empty.
QString serviceHost();
