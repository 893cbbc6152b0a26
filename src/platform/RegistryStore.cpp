#include "platform/RegistryStore.h"

#include "platform/DebugChannel.h"
#include "platform/RegFileParser.h"

#include <QFile>
#include <QFileInfo>

namespace fw {

QString RegistryStore::hiveName(quint32 hive)
{
    switch (hive) {
    case 0x80000000u: return QStringLiteral("HKEY_CLASSES_ROOT");
    case 0x80000001u: return QStringLiteral("HKEY_CURRENT_USER");
    case 0x80000002u: return QStringLiteral("HKEY_LOCAL_MACHINE");
    case 0x80000003u: return QStringLiteral("HKEY_USERS");
    case 0x80000005u: return QStringLiteral("HKEY_CURRENT_CONFIG");
    default: return QString();
    }
}

QString RegistryStore::normalizeKey(quint32 hive, const QString& keyPath)
{
    return RegistryContents::normalizeFullKey(hiveName(hive) + QLatin1Char('\\') + keyPath);
}

QString RegistryStore::normalizeName(const QString& name)
{
    return name == QLatin1String("@") ? QString() : name.toLower();
}

QString RegistryContents::normalizeFullKey(const QString& fullKey)
{
    const QStringList parts = fullKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    QStringList out;
    out.reserve(parts.size());
    for (const QString& p : parts)
        out.append(p.toLower());
    if (!out.isEmpty()) {
        static const QHash<QString, QString> abbrev = {
            {"hklm", "hkey_local_machine"}, {"hkcu", "hkey_current_user"}, {"hkcr", "hkey_classes_root"},
            {"hku", "hkey_users"}, {"hkcc", "hkey_current_config"}};
        out[0] = abbrev.value(out[0], out[0]);
    }
    return out.join(QLatin1Char('\\'));
}

bool RegistryContents::keyExists(quint32 hive, const QString& keyPath) const
{
    if (hiveName(hive).isEmpty())
        return false;
    return m_keys.contains(normalizeKey(hive, keyPath));
}

std::optional<RegValue> RegistryContents::value(quint32 hive, const QString& keyPath, const QString& name) const
{
    if (hiveName(hive).isEmpty())
        return std::nullopt;
    const auto key = m_keys.constFind(normalizeKey(hive, keyPath));
    if (key == m_keys.constEnd())
        return std::nullopt;
    const auto v = key->constFind(normalizeName(name));
    if (v == key->constEnd())
        return std::nullopt;
    return *v;
}

void RegistryContents::addKey(const QString& fullKey)
{
    // Creating a key creates its parents, as the registry does.
    const QStringList parts = normalizeFullKey(fullKey).split(QLatin1Char('\\'));
    QString path;
    for (const QString& p : parts) {
        path = path.isEmpty() ? p : path + QLatin1Char('\\') + p;
        if (!m_keys.contains(path))
            m_keys.insert(path, {});
    }
}

void RegistryContents::setRaw(const QString& fullKey, const QString& name, RegValue v)
{
    addKey(fullKey);
    m_keys[normalizeFullKey(fullKey)].insert(normalizeName(name), std::move(v));
}

void RegistryContents::removeValue(const QString& fullKey, const QString& name)
{
    auto key = m_keys.find(normalizeFullKey(fullKey));
    if (key != m_keys.end())
        key->remove(normalizeName(name));
}

void RegistryContents::removeKey(const QString& fullKey)
{
    const QString k = normalizeFullKey(fullKey);
    const QString prefix = k + QLatin1Char('\\');
    for (auto it = m_keys.begin(); it != m_keys.end();) {
        if (it.key() == k || it.key().startsWith(prefix))
            it = m_keys.erase(it);
        else
            ++it;
    }
}

void RegistryContents::setString(const QString& fullKey, const QString& name, const QString& text)
{
    QByteArray data = text.toLocal8Bit();
    data.append('\0');
    setRaw(fullKey, name, {RegSz, data});
}

void RegistryContents::setDword(const QString& fullKey, const QString& name, quint32 v)
{
    QByteArray data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    setRaw(fullKey, name, {RegDword, data});
}

RegFileStore::RegFileStore(QString path, DebugChannel* debug) : m_path(std::move(path)), m_debug(debug) {}

void RegFileStore::reloadIfChanged() const
{
    const QFileInfo fi(m_path);
    if (!fi.exists()) {
        if (m_loaded || m_loadedSize != -1)
            m_data.clear();
        m_loaded = true;
        m_loadedSize = -1;
        return;
    }
    if (m_loaded && fi.lastModified() == m_loadedMtime && fi.size() == m_loadedSize)
        return;
    m_data.clear();
    QFile f(m_path);
    if (f.open(QIODevice::ReadOnly)) {
        RegFileParser parser(m_debug);
        parser.parse(f.readAll(), m_path, m_data);
    } else if (m_debug) {
        m_debug->write(QStringLiteral("Registry file %1 could not be read: %2").arg(m_path, f.errorString()));
    }
    m_loaded = true;
    m_loadedMtime = fi.lastModified();
    m_loadedSize = fi.size();
}

bool RegFileStore::keyExists(quint32 hive, const QString& keyPath) const
{
    reloadIfChanged();
    return m_data.keyExists(hive, keyPath);
}

std::optional<RegValue> RegFileStore::value(quint32 hive, const QString& keyPath, const QString& name) const
{
    reloadIfChanged();
    return m_data.value(hive, keyPath, name);
}

} // namespace fw
