#include <QApplication>
#include <QLocale>
#include <gtest/gtest.h>

#include "platform/LeftThreads.h"

int main(int argc, char** argv)
{
    // Linux's suites draw offscreen; the Windows kit has only the windows platform (and Wine passes no QT_
    // variable on to a Windows program, so the choice is built in).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", FERROWIND_TEST_QPA);
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    // A window's reading thread may still be in a read: nothing is destroyed under it.
    return fw::endProgram(RUN_ALL_TESTS());
}
