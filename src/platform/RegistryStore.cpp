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

namespace {
const QHash<QString, QString>& hiveAbbreviations()
{
    static const QHash<QString, QString> abbrev = {{"hklm", "HKEY_LOCAL_MACHINE"},
                                                   {"hkcu", "HKEY_CURRENT_USER"},
                                                   {"hkcr", "HKEY_CLASSES_ROOT"},
                                                   {"hku", "HKEY_USERS"},
                                                   {"hkcc", "HKEY_CURRENT_CONFIG"}};
    return abbrev;
}
} // namespace

QStringList RegistryContents::keyParts(const QString& fullKey)
{
    QStringList parts = fullKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (!parts.isEmpty())
        parts[0] = hiveAbbreviations().value(parts[0].toLower(), parts[0]);
    return parts;
}

QString RegistryContents::normalizeFullKey(const QString& fullKey)
{
    return keyParts(fullKey).join(QLatin1Char('\\')).toLower();
}

RegistryContents::RegistryContents() : m_root(std::make_unique<Key>()) {}
RegistryContents::~RegistryContents() = default;
RegistryContents::RegistryContents(RegistryContents&&) noexcept = default;
RegistryContents& RegistryContents::operator=(RegistryContents&&) noexcept = default;

void RegistryContents::clear()
{
    m_root = std::make_unique<Key>();
}

const RegistryContents::Key* RegistryContents::find(const QString& normalizedKey) const
{
    const Key* key = m_root.get();
    for (const QString& part : normalizedKey.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        const auto it = key->subkeys.find(part);
        if (it == key->subkeys.end())
            return nullptr;
        key = it->second.get();
    }
    return key == m_root.get() ? nullptr : key;
}

RegistryContents::Key* RegistryContents::findParts(const QStringList& parts)
{
    Key* key = m_root.get();
    for (const QString& part : parts) {
        const auto it = key->subkeys.find(part.toLower());
        if (it == key->subkeys.end())
            return nullptr;
        key = it->second.get();
    }
    return key;
}

bool RegistryContents::keyExists(quint32 hive, const QString& keyPath) const
{
    if (hiveName(hive).isEmpty())
        return false;
    return find(normalizeKey(hive, keyPath)) != nullptr;
}

std::optional<RegValue> RegistryContents::value(quint32 hive, const QString& keyPath, const QString& name) const
{
    if (hiveName(hive).isEmpty())
        return std::nullopt;
    const Key* key = find(normalizeKey(hive, keyPath));
    if (!key)
        return std::nullopt;
    const auto v = key->values.find(normalizeName(name));
    if (v == key->values.end())
        return std::nullopt;
    return v->second.value;
}

RegistryContents::Key& RegistryContents::addKey(const QStringList& parts)
{
    Key* key = m_root.get();
    for (const QString& part : parts) {
        auto& slot = key->subkeys[part.toLower()];
        if (!slot) {
            slot = std::make_unique<Key>();
            slot->name = part;
        }
        key = slot.get();
    }
    return *key;
}

RegistryContents::Key& RegistryContents::addKey(const QString& fullKey)
{
    return addKey(keyParts(fullKey));
}

void RegistryContents::setRaw(Key& key, const QString& name, RegValue v)
{
    const QString written = name == QLatin1String("@") ? QString() : name;
    key.values.insert_or_assign(normalizeName(name), Key::Entry{written, std::move(v)});
}

void RegistryContents::removeValue(Key& key, const QString& name)
{
    key.values.erase(normalizeName(name));
}

void RegistryContents::setRaw(const QString& fullKey, const QString& name, RegValue v)
{
    setRaw(addKey(fullKey), name, std::move(v));
}

void RegistryContents::removeValue(const QString& fullKey, const QString& name)
{
    if (Key* key = findParts(keyParts(fullKey)))
        removeValue(*key, name);
}

void RegistryContents::removeKey(const QStringList& parts)
{
    if (parts.isEmpty())
        return;
    if (Key* parent = findParts(parts.mid(0, parts.size() - 1)))
        parent->subkeys.erase(parts.last().toLower());
}

void RegistryContents::removeKey(const QString& fullKey)
{
    removeKey(keyParts(fullKey));
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

QString RegFileStore::problemWith(const QString& path)
{
    const Read r = readFile(path);
    if (!r.problem.isEmpty())
        return r.problem;
    RegistryContents ignored;
    RegFileParser parser(nullptr);
    parser.parse(r.bytes, path, ignored);
    if (!parser.beganAsExport())
        return QStringLiteral("is not a registry export (it does not begin with \"Windows Registry Editor Version 5.00\")");
    return {};
}

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
    const Read r = readFile(m_path);
    if (r.problem.isEmpty()) {
        RegFileParser parser(m_debug);
        parser.parse(r.bytes, m_path, m_data);
    } else if (m_debug) {
        m_debug->write(QStringLiteral("Registry file %1 %2; it is not read").arg(m_path, r.problem));
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
