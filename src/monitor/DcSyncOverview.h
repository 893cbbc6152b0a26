#pragma once
#include "monitor/StatusSummary.h"

#include <QList>
#include <QString>

namespace fw {

class AppContext;
class SqlDialect;

// One domain's row of the DC overview: the domain, its current controller, its state in the run and
// the run's totals (the same on every row).
struct OverviewRow {
    QString domain;
    QString controller;
    QString status;
    QString lastSynched;
    QString duration;
    QString objects;
    QString objectId;
};

// The DC overview of the latest run (lastDCSyncId): per-domain states and the run's totals, refreshed
// while the run is going on. The window only shows what this holds.
class DcSyncOverview {
public:
    enum class Outcome {
        Filled,    // the rows were rebuilt
        NoDomains, // no domain is known; the message was shown
        Stopped,   // the run had been shown finished: the timer is to stop
        Failed,    // the database could not be read; reported
    };

    explicit DcSyncOverview(AppContext& ctx) : m_ctx(ctx) {}

    // "DC Synchronization Status - main (SyncId 1234)"
    QString caption() const;
    // Load of the window: flag on, one refresh.
    Outcome Form_Load();
    // One tick of the refresh timer.
    Outcome tmrRefresh_Timer();

    Outcome PopulateDCStatus();
    // "In progress", "Idle" or "No data" for a domain in the run.
    QString GetDCStatus(const QString& domain);

    // "View Objects": remembers the domain for the objects window and logs the choice.
    void viewObjects(const QString& domain);
    const QString& lastDomain() const { return m_lastDomain; }

    bool runActive() const { return m_runActive; }
    bool timerEnabled() const { return m_timerEnabled; }
    const QList<OverviewRow>& rows() const { return m_rows; }
    // What the latest refresh could not read: "dc.overview" (the domains, the run, the totals) and
    // "dc.domainStatus" (a domain's state). Empty when everything was read.
    const QList<ReadFailure>& failures() const { return m_failures; }
    // Reads over the command's connection instead of opening one for each refresh (it must outlive this).
    void shareConnection(Database& db) { m_shared = &db; }

    static const QString& noDomainsMessage();

    // The statements of a refresh: the domains (in the settings grid's order), the run, its object rows, and a
    // domain's state in the run (binds the SyncId and the domain).
    static QString domainsSql(const SqlDialect& dialect);
    static QString runSql();
    static QString totalsSql();
    static QString domainStatusSql();

private:
    AppContext& m_ctx;
    Database* m_shared = nullptr;
    bool m_runActive = true;
    bool m_timerEnabled = true;
    QList<OverviewRow> m_rows;
    QList<ReadFailure> m_failures;
    QString m_lastDomain;
};

} // namespace fw
