#pragma once
#include "platform/RegistryStore.h"

#include <mutex>

namespace fw {

// The registry of this Windows computer, read with RegOpenKeyExW/RegQueryValueExW. Velmora's installer is a 32-bit
// program, so its keys under HKLM\Software live in the 32-bit view (WOW6432Node) on a 64-bit Windows: that view
// is read first, and the 64-bit one when the 32-bit view has no HKLM\Software\Kestrelon key. The choice is made
// on the first read and again on each read while neither view has the key (an installation made while the tool
// runs is seen). Texts come as an ANSI query gives them, like the .reg file store.
class WindowsRegistryStore final : public RegistryStore {
public:
    enum class View { Bits32, Bits64 };

    WindowsRegistryStore() = default;
    // Tests pin one view.
    explicit WindowsRegistryStore(View pinned) : m_pinned(true), m_view(pinned) {}

    bool keyExists(quint32 hive, const QString& keyPath) const override;
    std::optional<RegValue> value(quint32 hive, const QString& keyPath, const QString& name) const override;
    // The view the reads use now.
    View view() const;

    static QString viewName(View v) { return v == View::Bits32 ? QStringLiteral("32-bit") : QStringLiteral("64-bit"); }

private:
    bool m_pinned = false;
    mutable std::mutex m_mutex;
    mutable bool m_decided = false;
    mutable View m_view = View::Bits32;
};

} // namespace fw
