#include "platform/RegFileWriter.h"

#include "platform/RegistryStore.h"

namespace fw {

namespace {

constexpr int kBytesPerLine = 25;

QString quoted(const QString& s)
{
    QString out = s;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

// A text value's characters when a quoted string can hold it exactly: one terminating zero, none inside,
// no line end, and the code page gives back the same bytes.
std::optional<QString> plainText(const RegValue& v)
{
    if (v.type != RegSz || !v.data.endsWith('\0'))
        return std::nullopt;
    const QByteArray body = v.data.left(v.data.size() - 1);
    if (body.contains('\0') || body.contains('\r') || body.contains('\n'))
        return std::nullopt;
    QString s = QString::fromLocal8Bit(body);
    if (s.toLocal8Bit() != body)
        return std::nullopt;
    return s;
}

QString hexData(const RegValue& v)
{
    QByteArray bytes = v.data;
    if (v.type == RegSz || v.type == RegExpandSz || v.type == RegMultiSz) {
        // Text is kept in UTF-16 in this format.
        const QString s = QString::fromLocal8Bit(v.data);
        bytes = QByteArray(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
    }
    QString out = v.type == RegBinary ? QStringLiteral("hex:") : QStringLiteral("hex(%1):").arg(v.type, 0, 16);
    for (int i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += i % kBytesPerLine == 0 ? QStringLiteral(",\\\r\n  ") : QStringLiteral(",");
        out += QStringLiteral("%1").arg(static_cast<uchar>(bytes[i]), 2, 16, QLatin1Char('0'));
    }
    return out;
}

QString valueLine(const QString& name, const RegValue& v)
{
    QString line = name.isEmpty() ? QStringLiteral("@=") : quoted(name) + QLatin1Char('=');
    if (const auto s = plainText(v))
        return line + quoted(*s);
    if (v.type == RegDword && v.data.size() == 4) {
        quint32 n = 0;
        for (int i = 0; i < 4; ++i)
            n |= static_cast<quint32>(static_cast<uchar>(v.data[i])) << (8 * i);
        return line + QStringLiteral("dword:%1").arg(n, 8, 16, QLatin1Char('0'));
    }
    return line + hexData(v);
}

void writeKey(const RegistryContents::Key& key, const QString& path, QString& out)
{
    if (!key.values.empty() || key.subkeys.empty()) {
        out += QStringLiteral("\r\n[") + path + QStringLiteral("]\r\n");
        for (const auto& [lower, entry] : key.values)
            out += valueLine(entry.name, entry.value) + QStringLiteral("\r\n");
    }
    for (const auto& [lower, sub] : key.subkeys)
        writeKey(*sub, path + QLatin1Char('\\') + sub->name, out);
}

} // namespace

QString RegFileWriter::text(const RegistryContents& contents, const QString& comment)
{
    QString out = QStringLiteral("Windows Registry Editor Version 5.00\r\n");
    if (!comment.isEmpty())
        out += QStringLiteral("\r\n; ") + comment + QStringLiteral("\r\n");
    for (const auto& [lower, hive] : contents.root().subkeys)
        writeKey(*hive, hive->name, out);
    return out;
}

} // namespace fw
