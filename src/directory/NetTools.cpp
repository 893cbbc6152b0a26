#include "directory/NetTools.h"

#include <algorithm>

namespace fw::net {

namespace {

// Dot-separated labels of 1 to 63 letters, digits, '-' (and '_' where allowed), a single trailing dot allowed.
bool labelsValid(const QString& nameIn, qsizetype maxLength, bool underscore)
{
    QString name = nameIn;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    if (name.isEmpty() || name.size() > maxLength)
        return false;
    for (const QString& label : name.split(QLatin1Char('.'))) {
        if (label.isEmpty() || label.size() > 63)
            return false;
        for (const QChar c : label) {
            const bool ok = (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
                            (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                            (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
                            (underscore && c == QLatin1Char('_'));
            if (!ok)
                return false;
        }
    }
    return true;
}

} // namespace

Result<QList<SrvTarget>> usableSrvTargets(QList<SrvTarget> records, const QString& name)
{
    QList<SrvTarget> out;
    for (SrvTarget& t : records) {
        if (t.host.endsWith(QLatin1Char('.')))
            t.host.chop(1);
        if (!t.host.isEmpty())
            out.append(std::move(t));
    }
    std::stable_sort(out.begin(), out.end(), [](const SrvTarget& a, const SrvTarget& b) {
        return a.priority != b.priority ? a.priority < b.priority : a.weight > b.weight;
    });
    if (out.isEmpty())
        return FwError{0, QStringLiteral("no SRV records for %1").arg(name)};
    return out;
}

bool isValidHostName(const QString& name)
{
    return labelsValid(name, 253, false);
}

bool isValidDnsName(const QString& name)
{
    return labelsValid(name, 255, true);
}

} // namespace fw::net
