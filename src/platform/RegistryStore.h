#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
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
// Keys form a tree, so a deep key costs its own name once, not once per parent.
class RegistryContents : public RegistryStore {
public:
    // One key: its name as first written, its subkeys and values by their names without case.
    struct Key {
        struct Entry {
            QString name;
            RegValue value;
        };
        QString name;
        std::map<QString, std::unique_ptr<Key>> subkeys;
        std::map<QString, Entry> values;
    };

    RegistryContents();
    ~RegistryContents() override;
    RegistryContents(RegistryContents&&) noexcept;
    RegistryContents& operator=(RegistryContents&&) noexcept;

    bool keyExists(quint32 hive, const QString& keyPath) const override;
    std::optional<RegValue> value(quint32 hive, const QString& keyPath, const QString& name) const override;

    // Creating a key creates its parents, as the registry does. The key stays valid until it or a parent is removed.
    Key& addKey(const QString& fullKey);
    Key& addKey(const QStringList& parts);
    static void setRaw(Key& key, const QString& name, RegValue v);
    static void removeValue(Key& key, const QString& name);

    void setRaw(const QString& fullKey, const QString& name, RegValue v);
    void removeValue(const QString& fullKey, const QString& name);
    void removeKey(const QString& fullKey);
    void removeKey(const QStringList& parts);
    // A text as an ANSI query returns it (with its terminating zero); a 32-bit number, little-endian.
    void setString(const QString& fullKey, const QString& name, const QString& text);
    void setDword(const QString& fullKey, const QString& name, quint32 v);
    void clear();

    // The root's subkeys are the hives.
    const Key& root() const { return *m_root; }

    // fullKey begins with the hive: "HKEY_LOCAL_MACHINE\Software\...".
    static QString normalizeFullKey(const QString& fullKey);
    // The key's names as written, without empty ones; an abbreviated hive is spelt out.
    static QStringList keyParts(const QString& fullKey);

private:
    const Key* find(const QString& normalizedKey) const;
    Key* findParts(const QStringList& parts);

    std::unique_ptr<Key> m_root;
};

// The text format written by "reg export", read from a file. The file is read again when it changes,
// so that a refresh of the main window sees edits. A missing file is an empty registry, and so is one that is
// not a regular file or is larger than any export (a pipe, a device, a runaway file): it is not read.
class RegFileStore final : public RegistryStore {
public:
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

    RegFileStore(QString path, DebugChannel* debug);
    // What keeps the file at `path` from being read as an installation's registry, said for a person
    // ("does not exist", "is a folder", ...); empty when it reads as an export.
    static QString problemWith(const QString& path);
    bool keyExists(quint32 hive, const QString& keyPath) const override;
    std::optional<RegValue> value(quint32 hive, const QString& keyPath, const QString& name) const override;
    const QString& path() const { return m_path; }

private:
    // The file's bytes, or what keeps it from being read (empty `problem` when read).
    struct Read {
        QByteArray bytes;
        QString problem;
    };
    static Read readFile(const QString& path);
    void reloadIfChanged() const;

    QString m_path;
    DebugChannel* m_debug;
    mutable RegistryContents m_data;
    mutable QDateTime m_loadedMtime;
    mutable qint64 m_loadedSize = -1;
    mutable bool m_loaded = false;
};

} // namespace fw
