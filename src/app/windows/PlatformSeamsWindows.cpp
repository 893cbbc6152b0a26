#include "app/PlatformSeams.h"

#include "directory/LdapDirectory.h"
#include "directory/windows/WindowsDcLocator.h"
#include "platform/DebugChannel.h"
#include "platform/RegistryStore.h"
#include "platform/windows/WindowsRegistryStore.h"
#include "platform/windows/WindowsShell.h"
#include "platform/windows/WindowsWorkstationSource.h"

namespace fw {

void addPlatformSeams(AppSeams& s, const QString& registryFile)
{
    // A named export is read instead of the registry (tests, offline analysis of another server's settings).
    if (registryFile.isEmpty()) {
        auto registry = std::make_unique<WindowsRegistryStore>();
        if (s.debug)
            s.debug->write(
                QStringLiteral("Registry: this computer's, %1 view").arg(WindowsRegistryStore::viewName(registry->view())));
        s.registry = std::move(registry);
    } else {
        s.registry = std::make_unique<RegFileStore>(registryFile, s.debug.get());
    }
    s.shell = std::make_unique<WindowsShell>();
    s.workstation = std::make_unique<WindowsWorkstationSource>();
    // DsGetDcName finds the computer's own domain by itself; the directory's site look-up passes it on as named.
    auto primaryDomain = [] { return QString(); };
    s.locator = std::make_shared<WindowsDcLocator>();
    s.directory = std::make_shared<LdapDirectory>(DirectoryOptions{}, s.locator, primaryDomain);
}

void replaceDirectorySeams(AppSeams& s, std::function<QString()> primaryDomain, const QHostAddress& source)
{
    // DsGetDcName picks its own address; a chosen source reaches the directory, which says it cannot use one.
    DirectoryOptions dopt;
    dopt.sourceAddress = source;
    s.locator = std::make_shared<WindowsDcLocator>();
    s.directory = std::make_shared<LdapDirectory>(dopt, s.locator, std::move(primaryDomain));
}

QString defaultRegistryFile()
{
    return QString();
}

QString registryWhenUnset()
{
    return QStringLiteral("unset: this computer's registry, 32-bit view first");
}

QString noDisplayReason()
{
    return QString();
}

} // namespace fw
