#include "platform/RegFileParser.h"

#include "platform/DebugChannel.h"
#include "platform/RegistryStore.h"

#include <QStringDecoder>
#include <QStringList>

namespace fw {

namespace {

struct ParsedName {
    bool ok = false;
    QString name;
    int next = 0; // index just after the closing quote or '@'
};

ParsedName parseName(const QString& line)
{
    ParsedName r;
    if (line.startsWith(QLatin1Char('@'))) {
        r.ok = true;
        r.next = 1;
        return r;
    }
    if (!line.startsWith(QLatin1Char('"')))
        return r;
    QString name;
    for (int i = 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == QLatin1Char('\\') && i + 1 < line.size()) {
            name.append(line[++i]);
        } else if (c == QLatin1Char('"')) {
            r.ok = true;
            r.name = name;
            r.next = i + 1;
            return r;
        } else {
            name.append(c);
        }
    }
    return r;
}

bool parseQuoted(const QString& text, QString& out)
{
    if (text.size() < 2 || !text.startsWith(QLatin1Char('"')))
        return false;
    QString s;
    int i = 1;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\')) {
            if (i + 1 >= text.size())
                return false;
            s.append(text[++i]);
        } else if (c == QLatin1Char('"')) {
            break;
        } else {
            s.append(c);
        }
    }
    if (i >= text.size())
        return false; // no closing quote
    if (!text.mid(i + 1).trimmed().isEmpty())
        return false; // text after the closing quote
    out = s;
    return true;
}

bool parseHexBytes(const QString& text, QByteArray& out)
{
    out.clear();
    const QString t = text.trimmed();
    if (t.isEmpty())
        return true;
    const QStringList parts = t.split(QLatin1Char(','));
    for (QString p : parts) {
        p = p.trimmed();
        if (p.isEmpty())
            continue; // a trailing comma before a continuation
        bool ok = false;
        const uint b = p.toUInt(&ok, 16);
        if (!ok || b > 0xFF || p.size() > 2)
            return false;
        out.append(static_cast<char>(b));
    }
    return true;
}

QByteArray utf16ToAnsi(const QByteArray& bytes)
{
    QString s;
    for (int i = 0; i + 1 < bytes.size(); i += 2)
        s.append(QChar(static_cast<char16_t>(static_cast<uchar>(bytes[i]) | (static_cast<uchar>(bytes[i + 1]) << 8))));
    return s.toLocal8Bit();
}

} // namespace

QString RegFileParser::decode(const QByteArray& bytes)
{
    if (bytes.startsWith("\xFF\xFE")) {
        auto dec = QStringDecoder(QStringDecoder::Utf16LE);
        return dec(bytes.mid(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        auto dec = QStringDecoder(QStringDecoder::Utf16BE);
        return dec(bytes.mid(2));
    }
    const QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    auto utf8 = QStringDecoder(QStringDecoder::Utf8);
    QString s = utf8(body);
    if (utf8.hasError())
        return QString::fromLatin1(body);
    return s;
}

void RegFileParser::skip(const QString& source, int lineNo, const QString& why, const QString& line)
{
    ++m_skipped;
    if (m_debug)
        m_debug->write(QStringLiteral("Registry file %1 line %2 skipped (%3): %4")
                           .arg(source)
                           .arg(lineNo)
                           .arg(why, line.left(120)));
}

int RegFileParser::parse(const QByteArray& bytes, const QString& sourceName, RegistryContents& out)
{
    m_skipped = 0;
    const QStringList lines = decode(bytes).split(QLatin1Char('\n'));
    bool unicodeFile = true; // REGEDIT4 files keep string data in the ANSI code page
    bool headerSeen = false;
    QString currentKey;      // empty: no section yet, or the section was a deletion

    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        QString line = lines[i];
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
            continue;

        if (!headerSeen) {
            headerSeen = true;
            if (trimmed == QLatin1String("Windows Registry Editor Version 5.00"))
                continue;
            if (trimmed == QLatin1String("REGEDIT4")) {
                unicodeFile = false;
                continue;
            }
            if (!trimmed.startsWith(QLatin1Char('[')))
                skip(sourceName, lineNo, QStringLiteral("no \"Windows Registry Editor Version 5.00\" header"), trimmed);
            if (!trimmed.startsWith(QLatin1Char('[')))
                continue;
        }

        if (trimmed.startsWith(QLatin1Char('['))) {
            if (!trimmed.endsWith(QLatin1Char(']')) || trimmed.size() < 3) {
                skip(sourceName, lineNo, QStringLiteral("unterminated key"), trimmed);
                currentKey.clear();
                continue;
            }
            QString key = trimmed.mid(1, trimmed.size() - 2).trimmed();
            if (key.startsWith(QLatin1Char('-'))) {
                out.removeKey(key.mid(1));
                currentKey.clear();
                continue;
            }
            const QString hive = RegistryContents::normalizeFullKey(key).section(QLatin1Char('\\'), 0, 0);
            if (!hive.startsWith(QLatin1String("hkey_"))) {
                skip(sourceName, lineNo, QStringLiteral("unknown root key"), trimmed);
                currentKey.clear();
                continue;
            }
            currentKey = key;
            out.addKey(currentKey);
            continue;
        }

        const ParsedName pn = parseName(trimmed);
        if (!pn.ok) {
            skip(sourceName, lineNo, QStringLiteral("not a value line"), trimmed);
            continue;
        }
        QString rest = trimmed.mid(pn.next).trimmed();
        if (!rest.startsWith(QLatin1Char('='))) {
            skip(sourceName, lineNo, QStringLiteral("missing '='"), trimmed);
            continue;
        }
        rest = rest.mid(1).trimmed();

        // hex data may go on over continuation lines ending with a backslash.
        int lastLine = i;
        if (rest.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
            while (rest.endsWith(QLatin1Char('\\')) && lastLine + 1 < lines.size()) {
                rest.chop(1);
                QString next = lines[++lastLine];
                if (next.endsWith(QLatin1Char('\r')))
                    next.chop(1);
                rest += next.trimmed();
            }
            i = lastLine;
        }

        if (currentKey.isEmpty()) {
            skip(sourceName, lineNo, QStringLiteral("value outside a key"), trimmed);
            continue;
        }

        if (rest == QLatin1String("-")) {
            out.removeValue(currentKey, pn.name);
            continue;
        }
        if (rest.startsWith(QLatin1Char('"'))) {
            QString text;
            if (!parseQuoted(rest, text)) {
                skip(sourceName, lineNo, QStringLiteral("bad string"), trimmed);
                continue;
            }
            out.setString(currentKey, pn.name, text);
            continue;
        }
        if (rest.startsWith(QLatin1String("dword:"), Qt::CaseInsensitive)) {
            const QString digits = rest.mid(6).trimmed();
            bool ok = false;
            const uint v = digits.toUInt(&ok, 16);
            if (!ok || digits.isEmpty() || digits.size() > 8) {
                skip(sourceName, lineNo, QStringLiteral("bad dword"), trimmed);
                continue;
            }
            out.setDword(currentKey, pn.name, v);
            continue;
        }
        if (rest.startsWith(QLatin1String("hex"), Qt::CaseInsensitive)) {
            quint32 type = RegBinary;
            QString data;
            if (rest.size() > 3 && rest[3] == QLatin1Char('(')) {
                const int close = rest.indexOf(QLatin1Char(')'));
                bool ok = false;
                type = close > 4 ? rest.mid(4, close - 4).toUInt(&ok, 16) : 0;
                if (!ok || close + 1 >= rest.size() || rest[close + 1] != QLatin1Char(':')) {
                    skip(sourceName, lineNo, QStringLiteral("bad hex type"), trimmed);
                    continue;
                }
                data = rest.mid(close + 2);
            } else if (rest.size() > 3 && rest[3] == QLatin1Char(':')) {
                data = rest.mid(4);
            } else {
                skip(sourceName, lineNo, QStringLiteral("bad hex value"), trimmed);
                continue;
            }
            QByteArray bytes;
            if (!parseHexBytes(data, bytes)) {
                skip(sourceName, lineNo, QStringLiteral("bad hex bytes"), trimmed);
                continue;
            }
            const bool textType = type == RegSz || type == RegExpandSz || type == RegMultiSz;
            if (textType && unicodeFile)
                bytes = utf16ToAnsi(bytes);
            out.setRaw(currentKey, pn.name, {type, bytes});
            continue;
        }
        skip(sourceName, lineNo, QStringLiteral("unknown value type"), trimmed);
    }
    return m_skipped;
}

} // namespace fw
