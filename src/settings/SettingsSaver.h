#pragma once
#include "settings/PanelState.h"

#include <QString>
#include <functional>
#include <optional>

namespace fw {

class AppContext;

enum class SaveOutcome {
    Saved,
    Declined, // the administrator answered No to a warning
    Refused,  // a rule or a refused number ended the save before anything was written
    NotFound, // the domain row is gone
    Failed,   // the database refused the write; nothing was changed
};

// A whole number from 0 upwards, blanks around it allowed; nothing else.
std::optional<qint64> parseWholeNumber(const QString& text);
QString numberRefusedText(const QString& field, const QString& text);

struct DomainRef {
    QString name;     // for the log
    QString objectId; // the row's identifier
};

// The domain controller save: the two risky questions, the missing-primary rule, the column writes of
// one ADDomain row (one update) and their log lines. `afterWrite` runs once the row is written and
// before "Settings saved for domain" is logged (the window reloads itself there, starting a new log).
class DcSettingsSaver {
public:
    explicit DcSettingsSaver(AppContext& ctx) : m_ctx(ctx) {}
    SaveOutcome save(const PanelState& s, const DomainRef& domain, const std::function<void()>& afterWrite);

private:
    AppContext& m_ctx;
};

// The global catalog save: the same questions, then the nodes written in one transaction and logged.
// `afterWrite` runs once every node is written, before "Settings saved for global catalog server".
class GcSettingsSaver {
public:
    explicit GcSettingsSaver(AppContext& ctx) : m_ctx(ctx) {}
    SaveOutcome save(const PanelState& s, const std::function<void()>& afterWrite);

private:
    AppContext& m_ctx;
};

} // namespace fw
