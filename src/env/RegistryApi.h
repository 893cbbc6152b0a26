#pragma once
#include <QString>
#include <QVariant>

namespace fw {

class RegistryStore;

// The type codes callers ask for.
enum RegistryTypeCode : int { RegTypeText = 1, RegTypeExpandText = 2, RegTypeBinary = 3, RegTypeNumber = 4 };

// Reads one value; never fails towards the caller. Code 1 gives a QString (stored text up to 1023 characters;
// longer texts do not fit the 1024-character buffer and give the default), 3 a QByteArray of at most 4096
// bytes, 4 a qint32. Code 2 and any other code give the default. The stored type is not compared with
// the code asked for: a value whose data does not fit the buffer gives the default.
QVariant GetRegistryValue(const RegistryStore& store, quint32 hive, const QString& keyPath, const QString& valueName,
                          int typeCode, const QVariant& defaultValue);

// Where the program's own values and the product's values live.
namespace regkeys {
inline const QString kProduct = QStringLiteral("Software\\Kestrelon\\");
inline const QString kSystemParameters = QStringLiteral("SOFTWARE\\Kestrelon\\SystemParameters\\1.0");
inline const QString kNodeManager = QStringLiteral("SOFTWARE\\Kestrelon\\KsCsNodeMgr\\1.0\\Local Services\\KsCsMgr");
inline const QString kTool = QStringLiteral("Software\\Kestrelon\\FerrowindSettingsTool");
} // namespace regkeys

} // namespace fw
