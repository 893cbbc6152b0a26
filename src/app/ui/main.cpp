#include "app/ContextFactory.h"
#include "app/ui/WarningWindow.h"
#include "context/AppContext.h"
#include "platform/DebugChannel.h"
#include "platform/ui/MessageBoxPrompter.h"
#include "platform/ui/PaintingSleeper.h"

#include <QApplication>
#include <QFileInfo>

int main(int argc, char* argv[])
{
    // The tool takes no arguments; whatever it is started with changes nothing.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("FerrowindSettingsTool"));
    QApplication::setApplicationDisplayName(fw::MessageBoxPrompter::applicationTitle());

    auto debug = std::make_unique<fw::StderrDebugChannel>();
    auto prompter = std::make_unique<fw::MessageBoxPrompter>(debug.get());
    const QFileInfo exe(QCoreApplication::applicationFilePath());
    auto ctx = fw::makeSystemContext(exe.completeBaseName(), exe.absolutePath(), std::move(prompter),
                                     std::make_unique<fw::PaintingSleeper>(), std::move(debug));

    fw::WarningWindow warning(*ctx);
    if (!warning.FormLoad())
        return 1;
    warning.show();
    const int rc = QApplication::exec();
    return rc;
}
