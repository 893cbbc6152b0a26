#include "history/ui/HistoryBuildProgress.h"

#include "history/BackgroundHistoryBuild.h"

#include <QApplication>
#include <QEventLoop>
#include <QLocale>
#include <QProgressDialog>
#include <QTimer>
#include <limits>

namespace fw {

bool HistoryBuildProgress::run(HistoryBuilder& builder, HistoryResult& out, QWidget* parent, const QString& title,
                               int showAfterMs)
{
    QEventLoop loop;
    bool done = false;
    BackgroundHistoryBuild build(builder);

    QProgressDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("dlgHistoryProgress"));
    dialog.setWindowTitle(title);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(std::numeric_limits<int>::max()); // shown below, not by the dialog's own guess
    dialog.setLabelText(QStringLiteral("Counting the finished runs..."));
    dialog.setRange(0, 0);
    QObject::connect(&dialog, &QProgressDialog::canceled, &loop, [&] {
        build.cancel();
        dialog.setLabelText(QStringLiteral("Cancelling..."));
    });

    QTimer poll;
    poll.setInterval(100);
    auto showProgress = [&] {
        const qint64 total = build.total();
        if (total <= 0 || build.cancelled())
            return;
        // The dialog counts in int: show thousands of runs when the history is larger than that.
        const qint64 scale = total > std::numeric_limits<int>::max() ? 1000 : 1;
        dialog.setRange(0, static_cast<int>(total / scale));
        dialog.setValue(static_cast<int>(std::min(build.read(), total) / scale));
        const QLocale l;
        dialog.setLabelText(QStringLiteral("Reading the history: %1 of %2 finished runs")
                                .arg(l.toString(std::min(build.read(), total)), l.toString(total)));
    };
    QObject::connect(&poll, &QTimer::timeout, &loop, showProgress);

    QApplication::setOverrideCursor(Qt::BusyCursor);
    build.start(&loop, [&] {
        done = true;
        loop.quit();
    });
    // A short build opens without a flash of progress; the windows paint meanwhile but take no input.
    bool slow = false;
    QTimer::singleShot(showAfterMs, &loop, [&] {
        slow = true;
        loop.quit();
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!done && slow) { // not done and not slow: the program is ending
        poll.start();
        showProgress();
        dialog.show();
        loop.exec();
    }
    QApplication::restoreOverrideCursor();
    if (!done) {
        build.cancel(); // the program is ending: the destructor waits for the thread
        return false;
    }
    out = std::move(build.result());
    return !out.cancelled && !build.cancelled();
}

} // namespace fw
