#pragma once
#include "support/CliProcess.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

namespace fw::test {

// A child process, asked to end (endChild) when the case ends, and killed if it does not.
struct ChildProcess {
    QProcess proc;
    ~ChildProcess()
    {
        if (proc.state() == QProcess::NotRunning)
            return;
        endChild(proc);
        if (!proc.waitForFinished(10000)) {
            proc.kill();
            proc.waitForFinished(5000);
        }
    }
};

// `ferrowind serve-metrics` of the build on a free loopback port; `url` stays empty when it did not start serving.
// With `quiet` (a log level that does not say where it serves) it is not waited for.
struct ServeMetricsProcess : ChildProcess {
    explicit ServeMetricsProcess(const QString& registry, const QStringList& options = {}, bool quiet = false)
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("FERROWIND_REGISTRY", registry);
        proc.setProcessEnvironment(e);
        proc.setReadChannel(QProcess::StandardError);
        proc.start(FERROWIND_CLI, QStringList{"serve-metrics", "--listen", "127.0.0.1:0"} + options);
        if (quiet)
            return;
        QElapsedTimer t;
        t.start();
        static const QRegularExpression served("serving (https?://\\S+)");
        while (t.elapsed() < 20000 && url.isEmpty()) {
            proc.waitForReadyRead(200);
            err += QString::fromUtf8(proc.readAllStandardError());
            if (const QRegularExpressionMatch m = served.match(err); m.hasMatch())
                url = m.captured(1);
        }
    }
    QString err; // what it wrote while starting
    QString url; // the first address served, http://127.0.0.1:PORT/metrics
};

} // namespace fw::test
