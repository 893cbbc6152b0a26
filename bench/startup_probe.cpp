// Starts like FerrowindSettingsTool, presses Continue, and exits as soon as the main window has been
// filled and painted once. Exit status 0 when the main window came up, 1 otherwise.
#include "app/ContextFactory.h"
#include "app/ui/MainWindow.h"
#include "app/ui/WarningWindow.h"
#include "context/ProgramEnd.h"
#include "platform/DebugChannel.h"
#include "platform/Prompter.h"
#include "platform/ui/PaintingSleeper.h"
#include "support/doubles/TestDoubles.h"

#include <QApplication>
#include <QFileInfo>
#include <QPushButton>
#include <QTimer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    auto debug = std::make_unique<fw::RecordingDebugChannel>();
    auto prompter = std::make_unique<fw::ScriptedPrompter>(debug.get());
    auto* messages = prompter.get();
    auto ctx = fw::makeSystemContext(QStringLiteral("FerrowindSettingsTool"), QFileInfo(argv[0]).absolutePath(),
                                     std::move(prompter), std::make_unique<fw::PaintingSleeper>(), std::move(debug));
    fw::WarningWindow warning(*ctx);
    if (!warning.Form_Load())
        return 1;
    warning.show();
    QTimer::singleShot(0, &warning, [&] {
        warning.findChild<QPushButton*>(QStringLiteral("cmdContinue"))->click();
        fw::MainWindow* main = warning.mainWindow();
        if (!main || !main->isVisible() || ctx->programEnd().requested() || !messages->messages.isEmpty()) {
            QCoreApplication::exit(1);
            return;
        }
        main->repaint();
        QCoreApplication::exit(0);
    });
    return QApplication::exec();
}
