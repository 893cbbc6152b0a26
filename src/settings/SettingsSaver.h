#pragma once
#include "settings/PanelState.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace fw {

class AppContext;
class ConfigurationSnapshot;
struct DomainSettings;

enum class SaveOutcome {
    Saved,
    Declined, // the administrator answered No to a warning
    Refused,  // a rule or a refused number ended the save before anything was written
    NotFound, // the domain row is gone
    Failed,   // the database refused the write; nothing was changed
    Conflict, // someone else changed the stored settings after they were read; nothing was written
};

// A whole number from 0 upwards, blanks around it allowed; nothing else.
std::optional<qint64> parseWholeNumber(const QString& text);
QString numberRefusedText(const QString& field, const QString& text);

struct DomainRef {
    QString name;     // for the log
    QString objectId; // the row's identifier
};

// The domain controller save: the two risky questions, the missing-primary rule, the column writes of
// one ADDomain row (one update) and their log lines. `read` is the row the panel was filled from: the
// save writes only the columns whose value differs from it, and nothing at all when the stored row no
// longer holds what was read (Conflict, the changed columns in changedUnderneath()). `afterWrite` runs
// once the row is written and before "Settings saved for domain" is logged (the window reloads itself
// there, starting a new log).
class DcSettingsSaver {
public:
    explicit DcSettingsSaver(AppContext& ctx) : m_ctx(ctx) {}
    SaveOutcome save(const PanelState& s, const DomainRef& domain, const DomainSettings& read,
                     const std::function<void()>& afterWrite);
    const QStringList& changedUnderneath() const { return m_changed; }

private:
    AppContext& m_ctx;
    QStringList m_changed;
};

// The global catalog save: the same questions, then the nodes written in one transaction and logged,
// checked against `read` (the configuration the panel was filled from) as the domain save is. After a
// save `read` holds what is now stored, so that the panel, which keeps its texts, can save again.
// `afterWrite` runs once every node is written, before "Settings saved for global catalog server".
class GcSettingsSaver {
public:
    explicit GcSettingsSaver(AppContext& ctx) : m_ctx(ctx) {}
    SaveOutcome save(const PanelState& s, ConfigurationSnapshot& read, const std::function<void()>& afterWrite);
    const QStringList& changedUnderneath() const { return m_changed; }

private:
    AppContext& m_ctx;
    QStringList m_changed; // node names after the global catalog prefix
};

} // namespace fw
