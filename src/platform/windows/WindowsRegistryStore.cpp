#include "platform/windows/WindowsRegistryStore.h"

#include "env/RegistryApi.h"
#include "platform/RegFileParser.h"

#include <QDir>

#include <windows.h>

namespace fw {

namespace {

HKEY hiveHandle(quint32 hive)
{
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(hive)));
}

REGSAM viewFlag(WindowsRegistryStore::View v)
{
    return v == WindowsRegistryStore::View::Bits32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

// An open key, closed when it goes.
struct Key {
    HKEY h = nullptr;
    Key(quint32 hive, const QString& path, WindowsRegistryStore::View v)
    {
        const QString native = QDir::toNativeSeparators(path);
        if (RegOpenKeyExW(hiveHandle(hive), reinterpret_cast<const wchar_t*>(native.utf16()), 0, KEY_READ | viewFlag(v), &h) !=
            ERROR_SUCCESS)
            h = nullptr;
    }
    ~Key()
    {
        if (h)
            RegCloseKey(h);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
};

bool exists(quint32 hive, const QString& path, WindowsRegistryStore::View v)
{
    return Key(hive, path, v).h != nullptr;
}

} // namespace

WindowsRegistryStore::View WindowsRegistryStore::view() const
{
    if (m_pinned)
        return m_view;
    std::lock_guard lock(m_mutex);
    if (!m_decided) {
        const QString product = regkeys::kProduct;
        if (exists(HKEY_LOCAL_MACHINE_HIVE, product, View::Bits32)) {
            m_view = View::Bits32;
            m_decided = true;
        } else if (exists(HKEY_LOCAL_MACHINE_HIVE, product, View::Bits64)) {
            m_view = View::Bits64;
            m_decided = true;
        } else {
            m_view = View::Bits32;
        }
    }
    return m_view;
}

bool WindowsRegistryStore::keyExists(quint32 hive, const QString& keyPath) const
{
    return exists(hive, keyPath, view());
}

std::optional<RegValue> WindowsRegistryStore::value(quint32 hive, const QString& keyPath, const QString& name) const
{
    const Key key(hive, keyPath, view());
    if (!key.h)
        return std::nullopt;
    const QString valueName = name == QLatin1String("@") ? QString() : name;
    const auto* wname = reinterpret_cast<const wchar_t*>(valueName.utf16());
    // The size may grow between the two calls (someone writes the value): asked again then.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegQueryValueExW(key.h, wname, nullptr, &type, nullptr, &size);
        if (rc != ERROR_SUCCESS)
            return std::nullopt;
        QByteArray data(static_cast<qsizetype>(size), '\0');
        rc = RegQueryValueExW(key.h, wname, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS)
            return std::nullopt;
        data.truncate(static_cast<qsizetype>(size));
        if (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)
            data = ansiTextData(data, type);
        return RegValue{static_cast<quint32>(type), data};
    }
    return std::nullopt;
}

} // namespace fw
