#pragma once
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <chrono>

namespace fw {

// The outcome of an ODBC login.
struct OdbcLogin {
    enum class Outcome {
        Opened,       // `db` is open and belongs to the calling thread
        Failed,       // the driver refused; `error` says why and `db` may be invalid (driver not installed)
        NoAnswer,     // the server did not answer in time; the connection name stays in use until it does
        StillWaiting, // an earlier login to the same connection string was given up and has not ended yet
    };
    Outcome outcome = Outcome::Failed;
    QSqlDatabase db;
    QSqlError error;
    QString dbmsName; // the server's product name, as the driver reports it
};

// Logs in through QODBC under connection `name`, giving up after `limit`.
// Not every driver keeps to its own login timeout (FreeTDS, falling back to an older protocol against a server that
// accepts the connection and then says nothing, waits for ever), so the login runs on a thread of its own. A login
// given up is left to end by itself, then closes its connection and frees the name. Until it ends, another login
// with the same connection string is not tried: a server that never answers costs one thread, not one per attempt.
OdbcLogin loginWithin(const QString& name, const QString& connectionString, std::chrono::milliseconds limit);

} // namespace fw
