#include "app/ContextFactory.h"
#include "app/PlatformSeams.h"
#include "app/ui/WarningWindow.h"
#include "context/AppContext.h"
#include "db/DriverWarnings.h"
#include "platform/DebugChannel.h"
#include "platform/LeftThreads.h"
#include "platform/RegistryStore.h"
#include "platform/RegistryFileExposure.h"
#include "platform/ui/MessageBoxPrompter.h"
#include "platform/ui/PaintingSleeper.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    // Answered before Qt starts, as Qt needs a display and ends the process without one.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: FerrowindSettingsTool [--help | --version]\n\n"
                        "The desktop tool for the Active Directory reconnect settings of a Velmora server.\n"
                        "The installation's registry is read from $FERROWIND_REGISTRY\n"
                        "(%s).\n"
                        "Other arguments are ignored. 'ferrowind' does the same work on the command line.\n",
                        qPrintable(fw::registryWhenUnset()));
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("FerrowindSettingsTool %s\n", qPrintable(fw::AppContext::programVersion()));
            return 0;
        }
    }
    if (const QString why = fw::noDisplayReason(); !why.isEmpty()) {
        std::fprintf(stderr, "FerrowindSettingsTool: %s\n", qPrintable(why));
        return 1;
    }
    // Any other argument changes nothing.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("FerrowindSettingsTool"));
    // A failed statement is said once, in the window's message and the log.
    fw::quietenDriverWarnings();
    QApplication::setApplicationDisplayName(fw::MessageBoxPrompter::applicationTitle());

    if (const QString warning = fw::passwordExposureWarning(fw::registryFilePath()); !warning.isEmpty())
        std::fprintf(stderr, "FerrowindSettingsTool: %s\n", qPrintable(warning));
    auto debug = std::make_unique<fw::StderrDebugChannel>();
    auto prompter = std::make_unique<fw::MessageBoxPrompter>(debug.get());
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    auto ctx = fw::makeSystemContext(exe.completeBaseName(), exe.absolutePath(), std::move(prompter),
                                     std::make_unique<fw::PaintingSleeper>(), std::move(debug));

    // As the command line says it: without a readable export every setting reads as its default.
    const QString registry = fw::registryFilePath();
    if (const QString problem = fw::registryFileProblem(registry); !problem.isEmpty())
        std::fprintf(stderr,
                     "FerrowindSettingsTool: the registry file %s %s; set FERROWIND_REGISTRY to the installation's "
                     "registry file\n",
                     qPrintable(registry), qPrintable(problem));

    // A login or a lookup given up on may still run: it must not meet the context or Qt's globals destroyed.
    fw::WarningWindow warning(*ctx);
    if (!warning.Form_Load())
        return fw::endProgram(1);
    warning.show();
    const int rc = QApplication::exec();
    return fw::endProgram(rc);
}
