#pragma once
#include "directory/Directory.h"

#include <QHash>
#include <QStringList>
#include <functional>

namespace fw::test {

// Servers that bind, by path, and the sites they are in; records the paths bound.
class FakeDirectory final : public Directory {
public:
    QHash<QString, bool> bindable; // path -> answers
    QHash<QString, QString> sites; // server -> site
    QString localSite;
    QStringList bound;
    QStringList siteQueries;
    std::function<void()> onBind; // runs inside each bind

    Result<RootDse> bind(const QString& path, const Deadline&) override
    {
        bound.append(path);
        if (onBind)
            onBind();
        if (!bindable.value(path, false))
            return FwError{0, path + QStringLiteral(" does not answer")};
        return RootDse{};
    }
    Result<QString> siteOfServer(const QString& server, const Deadline&) override
    {
        siteQueries.append(server);
        return sites.value(server);
    }
    Result<QString> siteOfComputer(const QString& computer, const Deadline&) override
    {
        siteQueries.append(QStringLiteral("local:") + computer);
        return localSite;
    }
};

} // namespace fw::test
