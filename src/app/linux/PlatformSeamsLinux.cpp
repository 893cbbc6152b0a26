#include "app/PlatformSeams.h"

#include "directory/LdapDirectory.h"
#include "directory/linux/LinuxDcLocator.h"
#include "platform/DebugChannel.h"
#include "platform/RegistryStore.h"
#include "platform/linux/DesktopShellLinux.h"
#include "platform/linux/LinuxWorkstationSource.h"

namespace fw {

void addPlatformSeams(AppSeams& s, const QString& registryFile)
{
    s.registry = std::make_unique<RegFileStore>(registryFile, s.debug.get());
    s.shell = std::make_unique<DesktopShell>();
    s.workstation = std::make_unique<LinuxWorkstationSource>();
    // The domain this computer belongs to, for lookups that name none.
    auto primaryDomain = [ws = std::make_shared<LinuxWorkstationSource>()] {
        const auto c = ws->queryComputer();
        return c ? c->domain : QString();
    };
    s.locator = std::make_shared<LinuxDcLocator>(LocatorOptions{}, primaryDomain);
    s.directory = std::make_shared<LdapDirectory>(DirectoryOptions{}, s.locator, primaryDomain);
}

void replaceDirectorySeams(AppSeams& s, std::function<QString()> primaryDomain, const QHostAddress& source)
{
    LocatorOptions lo;
    lo.sourceAddress = source;
    DirectoryOptions dopt;
    dopt.sourceAddress = source;
    s.locator = std::make_shared<LinuxDcLocator>(lo, primaryDomain);
    s.directory = std::make_shared<LdapDirectory>(dopt, s.locator, std::move(primaryDomain));
}

QString defaultRegistryFile()
{
    return QStringLiteral("/etc/ferrowind/velmora.reg");
}

QString registryWhenUnset()
{
    return QStringLiteral("default /etc/ferrowind/velmora.reg");
}

QString noDisplayReason()
{
    const auto set = [](const char* name) { return !qEnvironmentVariableIsEmpty(name); };
    if (set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY"))
        return QString();
    return QStringLiteral("there is no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set); start it "
                          "in a desktop session or over 'ssh -X', or use 'ferrowind' on the command line");
}

} // namespace fw
