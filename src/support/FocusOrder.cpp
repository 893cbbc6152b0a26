#include "support/FocusOrder.h"

#include "platform/DebugChannel.h"

#include <QStringList>

namespace fw {

namespace {
constexpr quint16 kHighByte = 0xFF00;

qint16 masked(qint16 state)
{
    return static_cast<qint16>(static_cast<quint16>(state) & kHighByte);
}
} // namespace

qint16 GetTabState(const KeyStates& keys, DebugChannel& debug)
{
    const qint16 tab = masked(keys.tab);
    const qint16 shift = static_cast<qint16>(keys.leftShift | keys.rightShift);
    debug.write(QStringLiteral("GetTabState() - nIsTab=%1, nMask = %2, Result=%3, Shift=%4")
                    .arg(keys.tab)
                    .arg(static_cast<qint16>(kHighByte))
                    .arg(tab)
                    .arg(shift));
    if (tab == 0)
        return 0;
    return masked(shift) != 0 ? 2 : 1;
}

std::optional<FocusMove> statusFocusMove(const QString& control, int tabState, bool statusShown, int tabMainIndex)
{
    if (tabState != 1 && tabState != 2)
        return std::nullopt;
    const bool tab = tabState == 1;
    auto move = [&](int index, const char* target) {
        return FocusMove{
            QStringLiteral("You just %1 out of %2").arg(tab ? QStringLiteral("tabbed") : QStringLiteral("back tabbed"), control),
            index, QString::fromLatin1(target)};
    };
    if (control == QLatin1String("cmdExit")) {
        if (!statusShown)
            return std::nullopt;
        return tab ? move(1, "tabMain") : move(68, "cmdGCViewHistory");
    }
    if (control == QLatin1String("tabMain")) {
        if (!statusShown || tabMainIndex != 1)
            return std::nullopt;
        return tab ? move(61, "txtDCSynchronizationStatus") : move(0, "cmdExit");
    }
    if (control == QLatin1String("txtDCSynchronizationStatus"))
        return tab ? move(62, "txtDCSynchronizationStatus2") : move(1, "tabMain");
    if (control == QLatin1String("txtDCSynchronizationStatus2"))
        return tab ? move(63, "cmdDCSynchronizationDetails") : move(61, "txtDCSynchronizationStatus");
    return std::nullopt;
}

QStringList statusPageTabOrder()
{
    // clang-format off
    return {QStringLiteral("txtDCSynchronizationStatus"), QStringLiteral("txtDCSynchronizationStatus2"),
            QStringLiteral("txtElapsedTime1"),            QStringLiteral("txtObjectsSynced1"),
            QStringLiteral("cmdDCSynchronizationDetails"), QStringLiteral("cmdDCViewHistory"),
            QStringLiteral("txtGCSynchronizationStatus"), QStringLiteral("txtGCSynchronizationStatus2"),
            QStringLiteral("txtElapsedTime2"),            QStringLiteral("txtObjectsSynced2"),
            QStringLiteral("CmdGCSynchronizationDetails"), QStringLiteral("cmdGCViewHistory")};
    // clang-format on
}

} // namespace fw
