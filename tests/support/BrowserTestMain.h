#pragma once

#include "WebBrowser.h"

#include <QtTest>
#include <QtWidgets>

// A test main for tests that run the real browser engine: the engine's process
// set-up must happen before the application object exists. The program's folder
// is a temporary one for the run.
#define TALLYRO_BROWSER_TEST_MAIN(TestClass)                                                                 \
    int main(int argc, char* argv[])                                                                         \
    {                                                                                                        \
        QTemporaryDir dataHome;                                                                              \
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));                                        \
        WebBrowser::prepareEnvironment();                                                                    \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        app.setQuitOnLastWindowClosed(false); /* tests close main windows and go on */                       \
        TestClass test;                                                                                      \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&test, argc, argv);                                                              \
    }
