#pragma once
#include "monitor/StatusSummary.h"
#include "monitor/SyncSide.h"

#include <QList>
#include <QString>
#include <QVector>
#include <optional>

namespace fw {

class AppContext;
class MonitorErrorPath;

// One fixed row of an objects grid: its caption and the object type and kind of change it shows.
struct ObjectRowSpec {
    QString caption;
    QString objectType; // compared exactly, letter case included
    bool isDeleted = false;
};

// The value columns of the objects grids, by key.
enum class ObjectColumn { ObjectsSynchronized, ElapsedTime, LastSynchronizedDateTime };

// The objects view of the latest run of one side: per object type and kind of change the count,
// time spent and time of the last object, plus the run's USN lag and estimated catch-up time.
// DC: one domain of lastDCSyncId; GC: lastGCSyncId. Holds every text the window shows.
class SyncObjectsMonitor {
public:
    SyncObjectsMonitor(AppContext& ctx, SyncSide side, QString domain = QString());

    static const QList<ObjectRowSpec>& dcRows();
    static const QList<ObjectRowSpec>& gcRows();
    static QString columnKey(ObjectColumn c);

    SyncSide side() const { return m_side; }
    const QList<ObjectRowSpec>& rowSpecs() const { return m_side == SyncSide::DC ? dcRows() : gcRows(); }
    QString caption() const;
    QString procedureName() const;
    QString formName() const;

    // Load of the window: flag on, the load line, one refresh.
    void Form_Load();
    // One tick of the refresh timer.
    void tmrRefresh_Timer();
    // PopulateDCSyncObjects / PopulateGCSyncObjects.
    void Populate();

    bool runActive() const { return m_runActive; }
    bool timerEnabled() const { return m_timerEnabled; }
    // Texts of the fields; nullopt while a field still shows its design-time text.
    const std::optional<QString>& isActiveText() const { return m_isActive; }
    const std::optional<QString>& usnLagText() const { return m_usnLag; }
    const std::optional<QString>& latencyText() const { return m_latency; }
    // A value cell; rows are numbered from 1 as in the grid.
    QString cell(int row, ObjectColumn c) const;
    // What the latest refresh could not read, as "dc.objects" or "gc.objects"; empty when everything was read.
    const QList<ReadFailure>& failures() const { return m_failures; }
    // Reads over the command's connection instead of opening one for each refresh (it must outlive this).
    void shareConnection(Database& db) { m_shared = &db; }
    // Refreshes that reached the end of the fill (the window then fits columns and selects row 1).
    int completedFills() const { return m_fills; }

    // Estimated seconds to work off `usnLag` at `usnIncrement` USNs per `syncIntervalMinutes`,
    // rounded half to even. Error 11 for an increment of 0, 6 when it does not fit 32 bits.
    static Result<qint32> latencySeconds(double usnLag, double usnIncrement, double syncIntervalMinutes);

private:
    int rowFor(const QString& type, bool isDeleted) const;
    void setCell(int row, ObjectColumn c, const QString& text);
    // Sets the cell to the text `text` gives; a failure is reported on `path` and leaves the cell as it was.
    template <typename Statement>
    void setCellFrom(MonitorErrorPath& path, int row, ObjectColumn c, Statement&& text);

    AppContext& m_ctx;
    Database* m_shared = nullptr;
    SyncSide m_side;
    QString m_domain;
    bool m_runActive = true;
    bool m_timerEnabled = true;
    std::optional<QString> m_isActive, m_usnLag, m_latency;
    QVector<QString> m_cells; // row-major, three value columns per row
    QList<ReadFailure> m_failures;
    int m_fills = 0;
};

} // namespace fw
