#include <QCoreApplication>
#include <QLocale>
#include <gtest/gtest.h>

#include "platform/LeftThreads.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    // A window's reading thread may still be in a read: nothing is destroyed under it.
    return fw::endProgram(RUN_ALL_TESTS());
}
