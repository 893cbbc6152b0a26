#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <optional>

namespace fw {

class DebugChannel;

// Registry value types as Windows numbers them.
enum RegType : quint32 {
    RegNone = 0,
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
    RegMultiSz = 7,
    RegQword = 11,
};

constexpr quint32 HKEY_LOCAL_MACHINE_HIVE = 0x80000002u;

// One stored value: its type and its data as an ANSI query would return it
// (texts end with their terminating zero).
struct RegValue {
    quint32 type = RegNone;
    QByteArray data;
};

// Read-only view of a registry. Key paths and value names are compared without regard to case;
// "@" or an empty name is a key's default value.
class RegistryStore {
public:
    virtual ~RegistryStore() = default;
    virtual bool keyExists(quint32 hive, const QString& keyPath) const = 0;
    virtual std::optional<RegValue> value(quint32 hive, const QString& keyPath, const QString& name) const = 0;

    // "HKEY_LOCAL_MACHINE\Software\Kestrelon\" and "hklm\software\kestrelon" give the same key.
    static QString normalizeKey(quint32 hive, const QString& keyPath);
    static QString normalizeName(const QString& name);
    static QString hiveName(quint32 hive);
};

// The keys and values of a registry held in memory: what a .reg file holds once read. Tests fill one directly.
class RegistryContents : public RegistryStore {
public:
    bool keyExists(quint32 hive, const QString& keyPath) const override;
    std::optional<RegValue> value(quint32 hive, const QString& keyPath, const QString& name) const override;

    void addKey(const QString& fullKey);
    void setRaw(const QString& fullKey, const QString& name, RegValue v);
    void removeValue(const QString& fullKey, const QString& name);
    void removeKey(const QString& fullKey);
    // A text as an ANSI query returns it (with its terminating zero); a 32-bit number, little-endian.
    void setString(const QString& fullKey, const QString& name, const QString& text);
    void setDword(const QString& fullKey, const QString& name, quint32 v);
    void clear() { m_keys.clear(); }

    // fullKey begins with the hive: "HKEY_LOCAL_MACHINE\Software\...".
    static QString normalizeFullKey(const QString& fullKey);

private:
    QHash<QString, QHash<QString, RegValue>> m_keys;
};

// The text format written by "reg export", read from a file. The file is read again when it changes,
// so that a refresh of the main window sees edits. A missing file is an empty registry.
class RegFileStore final : public RegistryStore {
public:
    RegFileStore(QString path, DebugChannel* debug);
    bool keyExists(quint32 hive, const QString& keyPath) const override;
    std::optional<RegValue> value(quint32 hive, const QString& keyPath, const QString& name) const override;
    const QString& path() const { return m_path; }

private:
    void reloadIfChanged() const;

    QString m_path;
    DebugChannel* m_debug;
    mutable RegistryContents m_data;
    mutable QDateTime m_loadedMtime;
    mutable qint64 m_loadedSize = -1;
    mutable bool m_loaded = false;
};

} // namespace fw
